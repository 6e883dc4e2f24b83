#pragma once

#include "common/FileListRow.h"
#include "platform/FtpConnection.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// A folder for the remote tree: its name and its key, the full remote path
// with a trailing "/".
struct RemoteFolderNode {
    std::string name;
    std::string key;
};

struct RemoteListing {
    std::vector<RemoteFolderNode> folders;
    std::vector<FileListRow> files;
    // Lines of the server's listing that were left out.
    std::vector<SkippedListLine> skipped;
};

// "1.5Kb" for 1536 bytes.
std::string RemoteSizeText(std::int64_t bytes);

// Splits a listing into tree folders and list rows, in the server's order.
// Names are cut at a NUL and skipped when empty; a folder name that appears
// twice gets one node.
RemoteListing BuildRemoteListing(const std::vector<FtpFindData>& entries,
                                 std::string_view remotePath);

}  // namespace quill
