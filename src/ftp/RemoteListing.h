#pragma once

#include "platform/FtpConnection.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// One row of the remote file list, as text ready to show.
struct RemoteFileItem {
    std::string name;        // bytes as the server sent them
    std::int16_t icon = 10;  // file type number
    std::string sizeText;    // size / 1024 in the number picture, then "Kb"
    std::string dateText;    // "" when the server gave no readable time
    std::string bytesText;   // exact size in bytes
};

// A folder for the remote tree: its name and its key, the full remote path
// with a trailing "/".
struct RemoteFolderNode {
    std::string name;
    std::string key;
};

struct RemoteListing {
    std::vector<RemoteFolderNode> folders;
    std::vector<RemoteFileItem> files;
    // Folder names that cannot address a folder ("/" inside): shown nowhere
    // in the tree, reported in the log.
    std::vector<std::string> unusableFolders;
};

// "1.5Kb" for 1536 bytes.
std::string RemoteSizeText(std::int64_t bytes);

// False for names that must not be joined to a remote path: empty, or
// holding "/", NUL, CR or LF.
bool IsUsableRemoteName(std::string_view name);

// Splits a listing into tree folders and list rows, in the server's order.
// Names are cut at a NUL and skipped when empty; a folder name that appears
// twice gets one node.
RemoteListing BuildRemoteListing(const std::vector<FtpFindData>& entries,
                                 std::string_view remotePath);

}  // namespace quill
