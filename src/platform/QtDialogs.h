#pragma once

#include "Dialogs.h"

class QWidget;

namespace quill {

// Converts "All Files (*.*)|*.*|" into Qt's "All Files (*)" form; "*.*" means
// every file, with or without a dot.
QString QtFileFilter(const QString& vbFilter);

class QtDialogs final : public Dialogs {
public:
    void message(const QString& text, MessageIcon icon, const QString& title = {}) override;
    bool askYesNo(const QString& text, const QString& title = {}) override;
    std::optional<QString> input(const QString& prompt, const QString& title,
                                 const QString& defaultText = {}) override;
    std::optional<QString> saveFileName(const QString& filter, const QString& title = {}) override;
    OverwriteAnswer askOverwrite(const OverwriteQuestion& question) override;
    std::optional<PublishTarget> askPublishTarget(const QStringList& sites,
                                                  const QMap<QString, QString>& folders) override;
};

class QtClipboard final : public Clipboard {
public:
    void clear() override;
    void setText(const QString& text) override;
};

class QtShell final : public Shell {
public:
    bool open(const QString& addressOrPath) override;
};

}  // namespace quill
