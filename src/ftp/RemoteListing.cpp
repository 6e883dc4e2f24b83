#include "RemoteListing.h"

#include "common/NumberPicture.h"
#include "common/TextOps.h"
#include "localpane/FileTypes.h"

#include <algorithm>
#include <unordered_set>

namespace quill {

std::string RemoteSizeText(std::int64_t bytes) {
    return FormatNumberPicture(static_cast<double>(bytes) / 1024.0, "### ### ###.##") + "Kb";
}

std::int64_t PackedListingTime(const FtpFileTime& time) {
    return (((static_cast<std::int64_t>(time.year) * 100 + time.month) * 100 + time.day) * 100 +
            time.hour) *
               100 +
           time.minute;
}

std::string RemoteDateText(std::int64_t packed) {
    FileDateTime time;
    time.minute = static_cast<int>(packed % 100);
    time.hour = static_cast<int>(packed / 100 % 100);
    time.day = static_cast<int>(packed / 10'000 % 100);
    time.month = static_cast<int>(packed / 1'000'000 % 100);
    time.year = static_cast<int>(packed / 100'000'000);
    return FormatFileTime(time);
}

std::vector<RemoteFolderNode> LoginFolderNodes(std::string_view remotePath) {
    std::vector<RemoteFolderNode> nodes;
    std::size_t start = 1;
    while (start < remotePath.size()) {
        const auto slash = std::min(remotePath.find('/', start), remotePath.size());
        nodes.push_back({std::string(remotePath.substr(start, slash - start)),
                         std::string(remotePath.substr(0, slash)) + '/'});
        start = slash + 1;
    }
    return nodes;
}

RemoteListing BuildRemoteListing(const std::vector<FtpFindData>& entries,
                                 std::string_view remotePath) {
    return RemoteListingBuilder(std::string(remotePath)).add(entries);
}

RemoteListing RemoteListingBuilder::add(const std::vector<FtpFindData>& entries) {
    const std::string& remotePath = m_remotePath;
    auto& keys = m_keys;
    RemoteListing listing;
    listing.files.reserve(entries.size());
    for (const auto& entry : entries) {
        const std::string_view name(entry.name.c_str());  // up to the first NUL
        // The listing reader leaves such names out already; a name that
        // could leave its folder never becomes a key or a command path.
        if (name.empty() || HoldsSeparatorOrNul(entry.name) || HoldsLineBreak(name)) {
            continue;
        }
        if (entry.folder) {
            std::string key = std::string(remotePath) + std::string(name) + "/";
            if (keys.insert(key).second) {
                listing.folders.push_back({std::string(name), std::move(key)});
            }
            continue;
        }
        FileListRow item;
        item.name = std::string(name);
        item.type = FileTypeIndex(name);
        item.bytes = entry.size;
        if (entry.lastWrite) {
            item.time = PackedListingTime(*entry.lastWrite);
        }
        listing.files.push_back(std::move(item));
    }
    return listing;
}

}  // namespace quill
