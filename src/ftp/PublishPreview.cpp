#include "PublishPreview.h"

#include "common/TextCodec.h"
#include "publish/PublishJob.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quill {
namespace {

enum Column { kAction, kPath, kSize, kNote };

// Kind of a row; kept on the row so the check box can find the deletions.
constexpr int kKindRole = Qt::UserRole;
enum class RowKind { Upload, Replace, Delete, Folder, Problem };

// A tint and a dark text of the same hue: readable in light and dark themes
// alike, and the action column says the same in words.
struct RowColours {
    QColor text;
    QColor back;
};
RowColours coloursOf(RowKind kind) {
    switch (kind) {
        case RowKind::Upload:
            return {QColor(0x0b, 0x50, 0x0b), QColor(0xe3, 0xf4, 0xe3)};
        case RowKind::Replace:
            return {QColor(0x6b, 0x42, 0x00), QColor(0xff, 0xf1, 0xd0)};
        case RowKind::Delete:
            return {QColor(0x8b, 0x00, 0x00), QColor(0xfd, 0xe2, 0xe2)};
        case RowKind::Folder:
            return {QColor(0x0d, 0x3c, 0x7a), QColor(0xe3, 0xee, 0xfc)};
        case RowKind::Problem:
            break;
    }
    return {QColor(0x5a, 0x10, 0x70), QColor(0xf3, 0xe5, 0xf5)};
}

// struck: the file and size of a deletion not chosen; its action and note
// say what happens instead.
void paint(QTreeWidgetItem* row, const RowColours& colours, bool struck) {
    for (int column = 0; column <= kNote; ++column) {
        row->setForeground(column, colours.text);
        row->setBackground(column, colours.back);
        QFont font = row->font(column);
        font.setStrikeOut(struck && (column == kPath || column == kSize));
        row->setFont(column, font);
    }
}

QString sizeText(std::int64_t bytes) {
    return QLocale::system().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString filesText(int count) {
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

QString countText(int count, std::int64_t bytes) {
    return filesText(count) + QStringLiteral(", ") + sizeText(bytes);
}

QLabel* valueLabel(const char* name, const QString& caption, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAccessibleName(caption);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

}  // namespace

PublishPreview::PublishPreview(const PublishPlan& plan, const QString& from, const QString& to,
                               QWidget* parent)
    : QDialog(parent),
      m_lstSteps(new QTreeWidget(this)),
      m_chkDelete(new QCheckBox(QStringLiteral("&Delete remote files removed here"), this)),
      m_lblDelete(valueLabel("lblDelete", QStringLiteral("To delete"), this)),
      m_lblTotal(valueLabel("lblTotal", QStringLiteral("To send"), this)),
      m_lblNothing(new QLabel(QStringLiteral("Nothing to publish: the server has every file as "
                                             "it is here."),
                              this)),
      m_cmdPublish(new QPushButton(QStringLiteral("&Publish"), this)) {
    setObjectName(QStringLiteral("PublishPreview"));
    setWindowTitle(QStringLiteral("Publish folder"));
    m_hasWork = PlanHasWork(plan, true);
    m_hasOtherWork = PlanHasWork(plan, false);
    m_deletions = plan.count(PublishAction::Delete);
    m_deleteBytes = plan.bytes(PublishAction::Delete);
    m_sends = plan.count(PublishAction::Upload) + plan.count(PublishAction::Replace);
    m_sendBytes = plan.bytes(PublishAction::Upload) + plan.bytes(PublishAction::Replace);

    auto* heading = new QLabel(QStringLiteral("From: %1\nTo: %2").arg(from, to), this);
    heading->setObjectName(QStringLiteral("lblHeading"));
    heading->setTextFormat(Qt::PlainText);
    heading->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* counts = new QGridLayout;
    int line = 0;
    auto addCount = [&](QLabel* value, const QString& caption, const QString& text) {
        auto* captionLabel = new QLabel(caption + QLatin1Char(':'), this);
        captionLabel->setBuddy(value);
        value->setText(text);
        counts->addWidget(captionLabel, line, 0);
        counts->addWidget(value, line, 1);
        ++line;
    };
    addCount(valueLabel("lblNew", QStringLiteral("New"), this), QStringLiteral("New"),
             countText(plan.count(PublishAction::Upload), plan.bytes(PublishAction::Upload)));
    addCount(valueLabel("lblChanged", QStringLiteral("Changed"), this), QStringLiteral("Changed"),
             countText(plan.count(PublishAction::Replace), plan.bytes(PublishAction::Replace)));
    addCount(m_lblDelete, QStringLiteral("To delete"), {});
    addCount(valueLabel("lblUnchanged", QStringLiteral("Unchanged"), this),
             QStringLiteral("Unchanged"), filesText(plan.unchanged));
    addCount(valueLabel("lblFolders", QStringLiteral("Folders to create"), this),
             QStringLiteral("Folders to create"), QString::number(plan.newFolders.size()));
    addCount(valueLabel("lblProblems", QStringLiteral("Cannot publish"), this),
             QStringLiteral("Cannot publish"), filesText(static_cast<int>(plan.problems.size())));
    addCount(m_lblTotal, QStringLiteral("To send"), {});
    counts->setColumnStretch(1, 1);

    auto* listCaption = new QLabel(QStringLiteral("&What will happen:"), this);
    listCaption->setBuddy(m_lstSteps);
    m_lstSteps->setObjectName(QStringLiteral("lstSteps"));
    m_lstSteps->setAccessibleName(QStringLiteral("What will happen"));
    m_lstSteps->setColumnCount(4);
    m_lstSteps->setHeaderLabels({QStringLiteral("Action"), QStringLiteral("Path"),
                                 QStringLiteral("Size"), QStringLiteral("Note")});
    m_lstSteps->setRootIsDecorated(false);
    m_lstSteps->setUniformRowHeights(true);
    m_lstSteps->setAllColumnsShowFocus(true);
    m_lstSteps->headerItem()->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
    auto addRow = [this](RowKind kind, const QString& action, const std::string& path,
                         std::optional<std::int64_t> size, const QString& note) {
        auto* row = new QTreeWidgetItem(m_lstSteps);
        row->setText(kAction, action);
        row->setText(kPath, DisplayText(path));
        if (size) {
            row->setText(kSize, QLocale::system().toString(static_cast<qlonglong>(*size)));
            row->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
        }
        row->setText(kNote, note);
        row->setData(kAction, kKindRole, static_cast<int>(kind));
        paint(row, coloursOf(kind), false);
    };
    for (const std::string& folder : plan.newFolders) {
        addRow(RowKind::Folder, QStringLiteral("create folder"), folder, std::nullopt, {});
    }
    static const QString kActions[] = {QStringLiteral("new"), QStringLiteral("changed"),
                                       QStringLiteral("delete")};
    for (const PublishStep& step : plan.steps) {
        const auto kind = static_cast<RowKind>(static_cast<int>(step.action));
        addRow(kind, kActions[static_cast<int>(step.action)], step.path, step.size, {});
    }
    for (const PublishProblem& problem : plan.problems) {
        addRow(RowKind::Problem, QStringLiteral("cannot publish"), problem.path, std::nullopt,
               DisplayText(problem.reason));
    }

    m_chkDelete->setObjectName(QStringLiteral("chkDelete"));
    // A run deletes nothing unless every file went through.
    m_blocked = !plan.problems.empty();
    m_chkDelete->setEnabled(m_deletions > 0 && !m_blocked);
    m_chkDelete->setToolTip(
        m_blocked ? QStringLiteral("Nothing is deleted while a file cannot be published")
                  : QStringLiteral("Files an earlier publish from this folder put on the server "
                                   "and that are gone here"));
    // toggled, not clicked: a screen reader's toggle action gives no click.
    connect(m_chkDelete, &QCheckBox::toggled, this, &PublishPreview::showChoice);

    m_lblNothing->setObjectName(QStringLiteral("lblNothing"));
    m_lblNothing->setWordWrap(true);

    m_cmdPublish->setObjectName(QStringLiteral("cmdPublish"));
    m_cmdPublish->setDefault(true);
    auto* cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_cmdPublish, QDialogButtonBox::AcceptRole);
    buttons->addButton(cmdCancel, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(counts);
    layout->addWidget(listCaption);
    layout->addWidget(m_lstSteps, 1);
    layout->addWidget(m_chkDelete);
    layout->addWidget(m_lblNothing);
    layout->addWidget(buttons);

    setTabOrder(m_lstSteps, m_chkDelete);
    setTabOrder(m_chkDelete, m_cmdPublish);
    setTabOrder(m_cmdPublish, cmdCancel);
    resize(640, 520);
    showChoice();
    // After showChoice, which writes the notes; the note column takes the rest.
    for (int column : {kAction, kPath, kSize}) {
        m_lstSteps->resizeColumnToContents(column);
    }
    (m_cmdPublish->isEnabled() ? static_cast<QWidget*>(m_cmdPublish) : m_lstSteps)->setFocus();
}

PublishPreview::~PublishPreview() = default;

PublishOptions PublishPreview::options() const {
    PublishOptions options;
    options.deleteRemoved = m_chkDelete->isChecked();
    return options;
}

void PublishPreview::showChoice() {
    const bool remove = m_chkDelete->isChecked();
    for (int i = 0; i < m_lstSteps->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_lstSteps->topLevelItem(i);
        if (static_cast<RowKind>(row->data(kAction, kKindRole).toInt()) != RowKind::Delete) {
            continue;
        }
        paint(row,
              remove ? coloursOf(RowKind::Delete)
                     : RowColours{QColor(0x60, 0x60, 0x60), QColor(0xee, 0xee, 0xee)},
              !remove);
        row->setText(kAction, remove ? QStringLiteral("delete") : QStringLiteral("keep"));
        row->setText(kNote, remove ? QString() : QStringLiteral("left on the server"));
    }
    QString deletions = filesText(0);
    if (m_deletions > 0 && remove) {
        deletions = countText(m_deletions, m_deleteBytes);
    } else if (m_deletions > 0) {
        deletions =
            QStringLiteral("none (%1 removed here stay on the server%2)")
                .arg(filesText(m_deletions),
                     m_blocked ? QStringLiteral(" while a file cannot be published") : QString());
    }
    m_lblDelete->setText(deletions);
    QString total = countText(m_sends, m_sendBytes);
    if (remove && m_deletions > 0) {
        total += QStringLiteral("; %1 to delete").arg(filesText(m_deletions));
    }
    m_lblTotal->setText(total);
    const bool work = remove ? m_hasWork : m_hasOtherWork;
    m_cmdPublish->setEnabled(work);
    m_lblNothing->setVisible(!work);
    m_lblNothing->setText(
        m_deletions > 0 && !remove
            ? QStringLiteral("Nothing to publish unless files removed here are deleted.")
            : QStringLiteral("Nothing to publish: the server has every file as it is here."));
}

}  // namespace quill
