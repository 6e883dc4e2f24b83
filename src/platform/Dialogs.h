#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quill {

enum class MessageIcon { None, Exclamation, Information, Critical, Question };

// A batch is about to write over a file that is there already. Sizes are
// -1 and times invalid where they are not known.
struct OverwriteQuestion {
    QString name;
    // The file written over is local (a download) or on the server.
    bool localTarget = false;
    std::int64_t existingSize = -1;
    QDateTime existingTime;
    std::int64_t newSize = -1;
    QDateTime newTime;
};

enum class OverwriteAnswer { Replace, Skip, ReplaceAll, SkipAll, Cancel };

// Where to publish: a saved site and a folder on its server.
struct PublishTarget {
    QString site;
    QString folder;
};

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
    // Replace, Skip, Replace all, Skip all or Cancel; Cancel also when closed.
    virtual OverwriteAnswer askOverwrite(const OverwriteQuestion& question) = 0;
    // A save-file dialog; filter in the "Description|pattern|" form. nullopt on Cancel.
    virtual std::optional<QString> saveFileName(const QString& filter,
                                                const QString& title = {}) = 0;
    // A site among sites (not empty) and a remote folder; folders holds the
    // folder remembered for a site, offered when that site is chosen.
    // nullopt on Cancel.
    virtual std::optional<PublishTarget> askPublishTarget(
        const QStringList& sites, const QMap<QString, QString>& folders) = 0;
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
