#pragma once

#include <QString>

#include <optional>

namespace quill {

enum class MessageIcon { None, Exclamation, Information, Critical, Question };

// Every message, question and input of the program goes through this, so
// tests can answer them in advance instead of hanging on a modal box.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // An OK-only message box. An empty title means the application title.
    virtual void message(const QString& text, MessageIcon icon, const QString& title = {}) = 0;
    // A Yes/No box with the question icon; true only for Yes.
    virtual bool askYesNo(const QString& text, const QString& title = {}) = 0;
    // An input box; std::nullopt on Cancel.
    virtual std::optional<QString> input(const QString& prompt, const QString& title,
                                         const QString& defaultText = {}) = 0;
    // A save-file dialog; filter in the "Description|pattern|" form. nullopt on Cancel.
    virtual std::optional<QString> saveFileName(const QString& filter,
                                                const QString& title = {}) = 0;
};

// The clipboard, behind an interface so logic does not need a GUI.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void clear() = 0;
    virtual void setText(const QString& text) = 0;
};

// The desktop's "open" action on an address or a local file.
class Shell {
public:
    virtual ~Shell() = default;
    virtual bool open(const QString& addressOrPath) = 0;
};

}  // namespace quill
