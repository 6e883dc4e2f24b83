#pragma once

#include "platform/Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

namespace quill::test {

// Dialogs answered from a script. Every call is recorded; a question or input
// that was not scripted fails the test rather than blocking it.
class FakeDialogs final : public Dialogs {
public:
    struct Shown {
        enum class Kind { Message, YesNo, Input, SaveFile, Overwrite, PublishTarget } kind;
        QString text;
        MessageIcon icon = MessageIcon::None;
        QString title;
        QString defaultText;
    };

    void answerYes(bool yes) { m_yesNo.push_back(yes); }
    void answerInput(std::optional<QString> text) {
        m_inputs.push_back({text.has_value(), text.value_or(QString())});
    }
    void answerSaveFile(std::optional<QString> path) {
        m_saveFiles.push_back({path.has_value(), path.value_or(QString())});
    }

    void answerOverwrite(OverwriteAnswer answer) { m_overwrites.push_back(answer); }
    void answerPublishTarget(std::optional<PublishTarget> target) {
        m_targets.push_back({target.has_value(), target.value_or(PublishTarget{})});
    }

    void message(const QString& text, MessageIcon icon, const QString& title = {}) override;
    OverwriteAnswer askOverwrite(const OverwriteQuestion& question) override;
    bool askYesNo(const QString& text, const QString& title = {}) override;
    std::optional<QString> input(const QString& prompt, const QString& title,
                                 const QString& defaultText = {}) override;
    std::optional<QString> saveFileName(const QString& filter, const QString& title = {}) override;
    // Recorded with the sites, one a line, as text and the first site's
    // remembered folder as defaultText.
    std::optional<PublishTarget> askPublishTarget(const QStringList& sites,
                                                  const QMap<QString, QString>& folders) override;

    const std::vector<Shown>& shown() const { return m_shown; }
    // Texts of the message boxes (not questions) shown so far.
    QStringList messages() const;
    const Shown* lastMessage() const;
    // Texts of the Yes/No questions and the input prompts shown so far.
    QStringList questions() const { return textsOf(Shown::Kind::YesNo); }
    QStringList inputs() const { return textsOf(Shown::Kind::Input); }
    // The overwrite questions asked so far, in order.
    const std::vector<OverwriteQuestion>& overwriteQuestions() const { return m_asked; }
    // Scripted answers that nobody asked for.
    std::size_t unusedAnswers() const {
        return m_yesNo.size() + m_inputs.size() + m_saveFiles.size() + m_overwrites.size() +
               m_targets.size();
    }
    void clear() { m_shown.clear(); }

private:
    QStringList textsOf(Shown::Kind kind) const {
        QStringList texts;
        for (const Shown& shown : m_shown) {
            if (shown.kind == kind) {
                texts << shown.text;
            }
        }
        return texts;
    }
    std::vector<Shown> m_shown;
    std::deque<bool> m_yesNo;
    std::deque<OverwriteAnswer> m_overwrites;
    std::vector<OverwriteQuestion> m_asked;
    // (answered, text): an optional<QString> here trips a false g++ 12 warning.
    std::deque<std::pair<bool, QString>> m_inputs;
    std::deque<std::pair<bool, QString>> m_saveFiles;
    std::deque<std::pair<bool, PublishTarget>> m_targets;
};

// Records what would go to the clipboard or the desktop's open action.
class FakeShell final : public Shell {
public:
    bool open(const QString& addressOrPath) override {
        opened.push_back(addressOrPath);
        return true;
    }
    QStringList opened;
};

// Keeps what would go to the clipboard.
class FakeClipboard final : public Clipboard {
public:
    void clear() override { text.clear(); }
    void setText(const QString& value) override { text = value; }
    QString text;
};

}  // namespace quill::test
