#include "FakeDialogs.h"

#include <gtest/gtest.h>

namespace quill::test {

void FakeDialogs::message(const QString& text, MessageIcon icon, const QString& title) {
    m_shown.push_back({Shown::Kind::Message, text, icon, title, {}});
}

bool FakeDialogs::askYesNo(const QString& text, const QString& title) {
    m_shown.push_back({Shown::Kind::YesNo, text, MessageIcon::Question, title, {}});
    if (m_yesNo.empty()) {
        ADD_FAILURE() << "unscripted question: " << text.toStdString();
        return false;
    }
    const bool answer = m_yesNo.front();
    m_yesNo.pop_front();
    return answer;
}

OverwriteAnswer FakeDialogs::askOverwrite(const OverwriteQuestion& question) {
    m_shown.push_back({Shown::Kind::Overwrite, question.name, MessageIcon::Question, {}, {}});
    m_asked.push_back(question);
    if (m_overwrites.empty()) {
        ADD_FAILURE() << "unscripted overwrite question: " << question.name.toStdString();
        return OverwriteAnswer::Cancel;
    }
    const OverwriteAnswer answer = m_overwrites.front();
    m_overwrites.pop_front();
    return answer;
}

std::optional<QString> FakeDialogs::input(const QString& prompt, const QString& title,
                                          const QString& defaultText) {
    m_shown.push_back({Shown::Kind::Input, prompt, MessageIcon::None, title, defaultText});
    if (m_inputs.empty()) {
        ADD_FAILURE() << "unscripted input box: " << prompt.toStdString();
        return std::nullopt;
    }
    const auto [answered, text] = m_inputs.front();
    m_inputs.pop_front();
    return answered ? std::optional<QString>(text) : std::nullopt;
}

std::optional<QString> FakeDialogs::saveFileName(const QString& filter, const QString& title) {
    m_shown.push_back({Shown::Kind::SaveFile, filter, MessageIcon::None, title, {}});
    if (m_saveFiles.empty()) {
        ADD_FAILURE() << "unscripted save dialog";
        return std::nullopt;
    }
    const auto [answered, path] = m_saveFiles.front();
    m_saveFiles.pop_front();
    return answered ? std::optional<QString>(path) : std::nullopt;
}

std::optional<PublishTarget> FakeDialogs::askPublishTarget(const QStringList& sites,
                                                           const QMap<QString, QString>& folders) {
    m_shown.push_back({Shown::Kind::PublishTarget,
                       sites.join(QLatin1Char('\n')),
                       MessageIcon::Question,
                       {},
                       folders.value(sites.value(0))});
    if (m_targets.empty()) {
        ADD_FAILURE() << "unscripted publish target question";
        return std::nullopt;
    }
    const auto [answered, target] = m_targets.front();
    m_targets.pop_front();
    return answered ? std::optional<PublishTarget>(target) : std::nullopt;
}

QStringList FakeDialogs::messages() const {
    QStringList texts;
    for (const auto& s : m_shown) {
        if (s.kind == Shown::Kind::Message) {
            texts << s.text;
        }
    }
    return texts;
}

const FakeDialogs::Shown* FakeDialogs::lastMessage() const {
    for (auto it = m_shown.rbegin(); it != m_shown.rend(); ++it) {
        if (it->kind == Shown::Kind::Message) {
            return &*it;
        }
    }
    return nullptr;
}

}  // namespace quill::test
