#pragma once

#include "common/FileListRow.h"
#include "net/FtpConnection.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
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
};

// "1.5Kb" for 1536 bytes.
std::string RemoteSizeText(std::int64_t bytes);

// A listing time as a remote row keeps it (yyyymmddhhmm), and its text
// ("7.12.2008 9:05").
std::int64_t PackedListingTime(const FtpFileTime& time);
std::string RemoteDateText(std::int64_t packed);

// Builds tree folders and list rows from a listing that arrives in batches;
// a folder name that appears twice gets one node across all of them.
class RemoteListingBuilder {
public:
    explicit RemoteListingBuilder(std::string remotePath) : m_remotePath(std::move(remotePath)) {}
    RemoteListing add(const std::vector<FtpFindData>& entries);

private:
    std::string m_remotePath;
    std::unordered_set<std::string> m_keys;
};

// The tree's folders from the root down to a remote folder ("/a/b/" gives
// "a" keyed "/a/", then "b" keyed "/a/b/"); none for "/".
std::vector<RemoteFolderNode> LoginFolderNodes(std::string_view remotePath);

// Splits a listing into tree folders and list rows, in the server's order.
// Names are cut at a NUL and skipped when empty; a folder name that appears
// twice gets one node.
RemoteListing BuildRemoteListing(const std::vector<FtpFindData>& entries,
                                 std::string_view remotePath);

}  // namespace quill
