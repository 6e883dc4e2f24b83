#include "QtDialogs.h"

#include "common/AppInfo.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace quill {
namespace {

QString titleOr(const QString& title) {
    return title.isEmpty() ? QString::fromUtf8(app::kTitle.data(), std::ssize(app::kTitle)) : title;
}

QMessageBox::Icon toQt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QString QtFileFilter(const QString& vbFilter) {
    const QStringList parts = vbFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        const auto open = description.indexOf(QLatin1Char('('));
        if (open >= 0) {
            description = description.left(open).trimmed();
        }
        filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

void QtDialogs::message(const QString& text, MessageIcon icon, const QString& title) {
    QMessageBox box(toQt(icon), titleOr(title), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);  // names and terms in messages are never markup
    box.exec();
}

bool QtDialogs::askYesNo(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, titleOr(title), text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::input(const QString& prompt, const QString& title,
                                        const QString& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), titleOr(title), prompt,
                                               QLineEdit::Normal, defaultText, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return text;
}

std::optional<QString> QtDialogs::saveFileName(const QString& filter, const QString& title) {
    const QString name = QFileDialog::getSaveFileName(QApplication::activeWindow(), titleOr(title),
                                                      {}, QtFileFilter(filter));
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

void QtClipboard::clear() {
    if (auto* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
    }
}

void QtClipboard::setText(const QString& text) {
    if (auto* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(text);
    }
}

bool QtShell::open(const QString& addressOrPath) {
    const QUrl url = addressOrPath.contains(QStringLiteral("://")) ||
                             addressOrPath.startsWith(QStringLiteral("mailto:"))
                         ? QUrl(addressOrPath)
                         : QUrl::fromLocalFile(addressOrPath);
    return QDesktopServices::openUrl(url);
}

}  // namespace quill
