#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quill {

enum class TransferDirection { Upload, Download };

// One file of the transfer queue: its bare name (bytes) and its size in
// bytes as the file list showed it.
struct QueuedFile {
    std::string name;
    std::int64_t size = 0;
    // A dropped file's own local folder ("/" at the end), when not the plan's.
    std::string localFolder;
};

// A batch holds at most this many files: its counter is 16-bit.
inline constexpr int kMaxQueuedFiles = 32767;

// Sizes above this (4 EiB) are not believed: sums of such sizes stay
// representable.
inline constexpr std::int64_t kMaxByteCount = std::int64_t{1} << 62;

// a + b for counts from 0 to kMaxByteCount, stopping there.
inline std::int64_t AddByteCounts(std::int64_t a, std::int64_t b) {
    return b > kMaxByteCount - a ? kMaxByteCount : a + b;
}

// What one upload or download batch moves: the selected files in queue
// order, between the current local folder and the current remote folder.
struct TransferPlan {
    TransferDirection direction = TransferDirection::Download;
    std::string localPath;   // ends in "/"
    std::string remotePath;  // ends in "/"
    std::vector<QueuedFile> files;

    // Queues a file with the size its list holds; a size not known, or
    // negative or above kMaxByteCount, keeps the one before it (0 for the
    // first).
    void add(std::string name, std::int64_t bytes, std::string localFolder = {});
    // The batch total: the sizes added up, stopping at kMaxByteCount.
    std::int64_t total() const;
    std::string localPathOf(const QueuedFile& file) const {
        return (file.localFolder.empty() ? localPath : file.localFolder) + file.name;
    }
    std::string remotePathOf(const QueuedFile& file) const { return remotePath + file.name; }
};

}  // namespace quill
