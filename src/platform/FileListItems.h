#pragma once

#include "common/FileListRow.h"

#include <QIcon>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTreeWidgetItem>

#include <array>
#include <functional>

namespace quill {

// Where a file list item keeps its name in bytes: the shown text may not
// convert back.
inline constexpr int kFileNameRole = Qt::UserRole + 2;

// The columns of both file lists; the last one is hidden.
enum FileListColumn { kNameColumn = 0, kSizeColumn = 1, kDateColumn = 2, kBytesColumn = 3 };

// The item both file lists show for a row: name with its type icon, size to
// the right, date, and the hidden byte count. Sorts by shown text.
QTreeWidgetItem* MakeFileListItem(const FileListRow& row, const std::array<QIcon, 11>& typeIcons,
                                  Qt::ItemFlags flags);

// Only the name column is edited in place, and the edit never writes the
// item: the pane renames the file and lists the folder again, or the item
// keeps its old name.
class RenameDelegate final : public QStyledItemDelegate {
public:
    RenameDelegate(std::function<void(const QModelIndex&, const QString&)> finished,
                   QObject* parent)
        : QStyledItemDelegate(parent), m_finished(std::move(finished)) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() != kNameColumn) {
            return nullptr;
        }
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            m_finished(index, line->text());
        }
    }

private:
    std::function<void(const QModelIndex&, const QString&)> m_finished;
};

}  // namespace quill
