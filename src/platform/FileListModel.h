#pragma once

#include "common/FileListRow.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace quill {

// Where a file list row gives its name in bytes: the shown text may not
// convert back.
inline constexpr int kFileNameRole = Qt::UserRole + 2;

// The rows of a file list, local or remote: stored compactly and written as
// text only when a row is shown. Sorting works on the stored values and
// keeps the selection.
class FileListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // How this list writes a size and a time (each never kUnknown).
    struct Texts {
        std::function<QString(std::int64_t)> size;
        std::function<QString(std::int64_t)> date;
    };
    FileListModel(Texts texts, std::array<QIcon, 11> typeIcons, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;

    const std::vector<FileListRow>& rows() const { return m_rows; }
    // Replaces every row; nothing stays selected.
    void setRows(std::vector<FileListRow> rows);
    // The first row of that name, or -1.
    int rowNamed(std::string_view name) const;

    // With a folder ("/" at the end), rows drag out: local ones as file
    // addresses there, the server's as its own rows for the other pane.
    enum class DragAs { LocalFiles, RemoteFiles };
    void setDragFolder(std::string folder, DragAs as = DragAs::LocalFiles) {
        m_dragFolder = std::move(folder);
        m_dragAs = as;
    }
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

private:
    Texts m_texts;
    std::array<QIcon, 11> m_typeIcons;
    std::vector<FileListRow> m_rows;
    std::string m_dragFolder;
    DragAs m_dragAs = DragAs::LocalFiles;
};

// The view of a file list.
class FileListView final : public QTreeView {
public:
    using QTreeView::QTreeView;
    bool isEditing() const { return state() == EditingState; }
};

// Makes view show model as a file list: no tree lines, rows selected whole
// and several at once, the byte column hidden, the header clickable (the
// window decides what a click sorts).
void SetUpFileListView(QTreeView* view, FileListModel* model);

// Rows of the view's selection, top to bottom.
std::vector<int> SelectedFileRows(const QTreeView& view);

// Only the name column is edited in place, and the edit never writes the
// model: the pane renames the file and lists the folder again, or the row
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
