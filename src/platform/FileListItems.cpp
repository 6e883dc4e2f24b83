#include "FileListItems.h"

#include "common/TextCodec.h"
#include "platform/TextSortItem.h"

namespace quill {

QTreeWidgetItem* MakeFileListItem(const FileListRow& row, const std::array<QIcon, 11>& typeIcons,
                                  Qt::ItemFlags flags) {
    auto* item = new TextSortItem(
        QStringList{DisplayText(row.name), row.sizeText, row.dateText, row.bytesText});
    item->setData(kNameColumn, kFileNameRole, ByteArrayOf(row.name));
    if (row.type > 0 && static_cast<std::size_t>(row.type) < typeIcons.size()) {
        item->setIcon(kNameColumn, typeIcons[static_cast<std::size_t>(row.type)]);
    }
    item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(flags);
    return item;
}

}  // namespace quill
