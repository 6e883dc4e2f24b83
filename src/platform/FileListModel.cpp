#include "FileListModel.h"

#include "FileDrops.h"
#include "common/TextCodec.h"

#include <QHeaderView>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace quill {

FileListModel::FileListModel(Texts texts, std::array<QIcon, 11> typeIcons, QObject* parent)
    : QAbstractTableModel(parent), m_texts(std::move(texts)), m_typeIcons(std::move(typeIcons)) {
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kBytesColumn + 1;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.size()) {
        return {};
    }
    const FileListRow& row = m_rows[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (column == kNameColumn) {
                return DisplayText(row.name);
            }
            if (column == kDateColumn) {
                return row.time == FileListRow::kUnknown ? QString() : m_texts.date(row.time);
            }
            if (row.bytes == FileListRow::kUnknown) {
                return QString();
            }
            return column == kSizeColumn ? m_texts.size(row.bytes) : QString::number(row.bytes);
        case Qt::DecorationRole:
            if (column == kNameColumn && row.type > 0 &&
                static_cast<std::size_t>(row.type) < m_typeIcons.size()) {
                return m_typeIcons[static_cast<std::size_t>(row.type)];
            }
            return {};
        case Qt::TextAlignmentRole:
            return column == kSizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        case kFileNameRole:
            return ByteArrayOf(row.name);
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        switch (section) {
            case kNameColumn:
                return QStringLiteral("Name");
            case kSizeColumn:
                return QStringLiteral("Size");
            case kDateColumn:
                return QStringLiteral("Date");
            default:
                return QString();
        }
    }
    if (role == Qt::TextAlignmentRole && section == kSizeColumn) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() == kNameColumn) {
        flags |= Qt::ItemIsEditable;
    }
    if (!m_dragFolder.empty()) {
        flags |= Qt::ItemIsDragEnabled;
    }
    return flags;
}

void FileListModel::sort(int column, Qt::SortOrder order) {
    if (column < kNameColumn || column > kBytesColumn) {
        return;
    }
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::size_t> sorted =
        SortedFileRowOrder(m_rows, column, order == Qt::DescendingOrder);
    std::vector<FileListRow> rows;
    rows.reserve(m_rows.size());
    std::vector<int> newRow(m_rows.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        rows.push_back(std::move(m_rows[sorted[i]]));
        newRow[sorted[i]] = static_cast<int>(i);
    }
    m_rows = std::move(rows);
    // The selection and the current row follow their rows.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from) {
        to << this->index(newRow[static_cast<std::size_t>(index.row())], index.column());
    }
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::setRows(std::vector<FileListRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int FileListModel::rowNamed(std::string_view name) const {
    const auto found = std::find_if(m_rows.begin(), m_rows.end(),
                                    [name](const FileListRow& row) { return row.name == name; });
    return found == m_rows.end() ? -1 : static_cast<int>(found - m_rows.begin());
}

QStringList FileListModel::mimeTypes() const {
    return {m_dragAs == DragAs::RemoteFiles ? QString::fromLatin1(kRemoteFilesMimeType)
                                            : QStringLiteral("text/uri-list")};
}

QMimeData* FileListModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& index : indexes) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    auto* data = new QMimeData;
    if (m_dragAs == DragAs::RemoteFiles) {
        RemoteFiles files{m_dragFolder, {}};
        for (const int row : rows) {
            const FileListRow& file = m_rows[static_cast<std::size_t>(row)];
            files.files.emplace_back(file.name, file.bytes);
        }
        SetRemoteFiles(*data, files);
        return data;
    }
    QList<QUrl> urls;
    for (const int row : rows) {
        // The exact bytes, percent-encoded: a name need not be UTF-8.
        const QByteArray path =
            ByteArrayOf(m_dragFolder + m_rows[static_cast<std::size_t>(row)].name);
        urls << QUrl::fromEncoded("file://" + path.toPercentEncoding("/"), QUrl::StrictMode);
    }
    data->setUrls(urls);
    return data;
}

void SetUpFileListView(QTreeView* view, FileListModel* model) {
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSortingEnabled(false);
    view->setColumnHidden(kBytesColumn, true);
    view->header()->setSectionsClickable(true);
    view->header()->setStretchLastSection(true);
}

std::vector<int> SelectedFileRows(const QTreeView& view) {
    std::vector<int> rows;
    if (view.selectionModel() == nullptr) {
        return rows;
    }
    for (const QModelIndex& index : view.selectionModel()->selectedRows(kNameColumn)) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace quill
