#pragma once

#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace quill {

// A file list row that sorts by the shown text of the sort column, ignoring
// case as a list view does (exact text breaks ties); no numeric or date
// comparison. Used by the local and the remote file lists alike.
class TextSortItem final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QString a = text(column);
        const QString b = other.text(column);
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    }
};

}  // namespace quill
