#include "QtDialogs.h"

#include "common/AppInfo.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

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

QString sizeText(std::int64_t bytes) {
    return bytes < 0 ? QStringLiteral("unknown")
                     : QLocale::system().toString(static_cast<qlonglong>(bytes)) +
                           QStringLiteral(" bytes");
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? QLocale::system().toString(time.toLocalTime(), QLocale::ShortFormat)
                          : QStringLiteral("unknown");
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

namespace quill {

OverwriteAnswer QtDialogs::askOverwrite(const OverwriteQuestion& question) {
    QDialog box(QApplication::activeWindow());
    box.setWindowTitle(titleOr({}));
    auto* layout = new QVBoxLayout(&box);
    auto* text =
        new QLabel(QStringLiteral("The file \"") + question.name +
                   (question.localTarget ? QStringLiteral("\" is already in the local folder.")
                                         : QStringLiteral("\" is already on the server.")) +
                   (question.existingTime.isValid() && question.newTime.isValid() &&
                            question.existingTime > question.newTime
                        ? QStringLiteral(" It is newer than the file that would replace it.")
                        : QString()) +
                   QStringLiteral(" Do you want to replace it?"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);
    // Both files in one grid, so their sizes and dates line up.
    auto* grid = new QGridLayout;
    const QString there = question.localTarget ? QStringLiteral("In the local folder")
                                               : QStringLiteral("On the server");
    const QString coming = question.localTarget ? QStringLiteral("From the server")
                                                : QStringLiteral("From this computer");
    const QString rows[2][3] = {
        {there, sizeText(question.existingSize), timeText(question.existingTime)},
        {coming, sizeText(question.newSize), timeText(question.newTime)}};
    grid->addWidget(new QLabel(QStringLiteral("Size")), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Modified")), 0, 2);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            auto* cell = new QLabel(rows[row][column]);
            cell->setTextFormat(Qt::PlainText);
            cell->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
            grid->addWidget(cell, row + 1, column);
        }
    }
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox;
    OverwriteAnswer answer = OverwriteAnswer::Cancel;
    const std::pair<QString, OverwriteAnswer> choices[] = {
        {QStringLiteral("&Replace"), OverwriteAnswer::Replace},
        {QStringLiteral("&Skip"), OverwriteAnswer::Skip},
        {QStringLiteral("Replace &all"), OverwriteAnswer::ReplaceAll},
        {QStringLiteral("S&kip all"), OverwriteAnswer::SkipAll},
        {QStringLiteral("Cancel"), OverwriteAnswer::Cancel}};
    for (const auto& [caption, choice] : choices) {
        auto* button = buttons->addButton(caption, choice == OverwriteAnswer::Cancel
                                                       ? QDialogButtonBox::RejectRole
                                                       : QDialogButtonBox::AcceptRole);
        QObject::connect(button, &QPushButton::clicked, &box, [&answer, &box, choice] {
            answer = choice;
            box.done(choice == OverwriteAnswer::Cancel ? QDialog::Rejected : QDialog::Accepted);
        });
        if (choice == OverwriteAnswer::Replace) {
            button->setDefault(true);
        }
    }
    layout->addWidget(buttons);
    box.exec();
    return box.result() == QDialog::Accepted ? answer : OverwriteAnswer::Cancel;
}

std::optional<PublishTarget> QtDialogs::askPublishTarget(const QStringList& sites,
                                                         const QMap<QString, QString>& folders) {
    QDialog box(QApplication::activeWindow());
    box.setObjectName(QStringLiteral("PublishTarget"));
    box.setWindowTitle(QStringLiteral("Publish articles"));
    auto* site = new QComboBox(&box);
    site->setObjectName(QStringLiteral("cboSite"));
    site->addItems(sites);
    auto* folder = new QLineEdit(&box);
    folder->setObjectName(QStringLiteral("txtFolder"));
    folder->setToolTip(
        QStringLiteral("A folder on the server, such as /www/articles; created "
                       "when missing"));
    auto* siteLabel = new QLabel(QStringLiteral("&Site:"), &box);
    siteLabel->setBuddy(site);
    auto* folderLabel = new QLabel(QStringLiteral("Remote &folder:"), &box);
    folderLabel->setBuddy(folder);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    // The remembered folder of each site as it is chosen; nothing on one line is no folder.
    const auto offer = [&] { folder->setText(folders.value(site->currentText())); };
    QObject::connect(site, &QComboBox::currentTextChanged, &box, offer);
    QObject::connect(folder, &QLineEdit::textChanged, &box,
                     [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    offer();
    ok->setEnabled(!folder->text().trimmed().isEmpty());
    auto* grid = new QGridLayout(&box);
    grid->addWidget(siteLabel, 0, 0);
    grid->addWidget(site, 0, 1);
    grid->addWidget(folderLabel, 1, 0);
    grid->addWidget(folder, 1, 1);
    grid->addWidget(buttons, 2, 0, 1, 2);
    grid->setColumnMinimumWidth(1, 260);
    if (box.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return PublishTarget{site->currentText(), folder->text().trimmed()};
}

}  // namespace quill
