#include "FileListItems.h"

#include "common/TextCodec.h"
#include "platform/TextSortItem.h"

namespace quill {

QTreeWidgetItem* MakeFileListItem(const FileListRow& row, const std::array<QIcon, 11>& typeIcons,
                                  Qt::ItemFlags flags) {
    auto* item = new TextSortItem(QStringList{ToDisplay(row.name, DetectEncoding(row.name)),
                                              row.sizeText, row.dateText, row.bytesText});
    item->setData(kNameColumn, kFileNameRole,
                  QByteArray(row.name.data(), static_cast<qsizetype>(row.name.size())));
    if (row.type > 0 && static_cast<std::size_t>(row.type) < typeIcons.size()) {
        item->setIcon(kNameColumn, typeIcons[static_cast<std::size_t>(row.type)]);
    }
    item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(flags);
    return item;
}

}  // namespace quill
