#pragma once

#include "PublishRecord.h"
#include "net/FtpConnection.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quill {

// Publishing a local folder to a remote one: only the files that are new or
// whose content changed since the last publish to that site and folder go,
// over several connections at once. New files first, then replacements
// (through a temporary name and a rename, so a live page never breaks),
// deletions last and only after every upload went through. The record is
// brought up to date as each file completes, so a stopped or killed run goes
// on where it ended.

inline constexpr int kMinPublishConnections = 1;
inline constexpr int kMaxPublishConnections = 8;
inline constexpr int kDefaultPublishConnections = 4;

enum class PublishAction {
    Upload,   // not on the server yet
    Replace,  // on the server, but changed here (or not recorded, or sized otherwise)
    Delete,   // put there by an earlier publish from this folder, gone here
};

struct PublishStep {
    PublishAction action = PublishAction::Upload;
    // Below the local and the remote folder, parts joined by '/' ("a/b.html"),
    // bytes as the file system holds them.
    std::string path;
    // Bytes to send; for Delete, the size the server listed.
    std::int64_t size = 0;
};

// A file that cannot be published, found while planning (unreadable here,
// a folder on the server where a file should go, ...).
struct PublishProblem {
    std::string path;
    std::string reason;
};

struct PublishPlan {
    // Absolute remote folder, no '/' at the end ("" for the root).
    std::string remoteRoot;
    // Uploads, then replacements, then deletions; each group by path.
    std::vector<PublishStep> steps;
    // Remote folders to create, absolute, each after its parent.
    std::vector<std::string> newFolders;
    // Temporary files of broken-off transfers found on the server, absolute;
    // cleared by the run.
    std::vector<std::string> leftovers;
    std::vector<PublishProblem> problems;
    int unchanged = 0;
    // Local files with their content hashes, for the record.
    std::vector<PublishedFile> local;
    // Recorded files gone both here and on the server: dropped from the record.
    std::vector<std::string> forgotten;
    // Log lines of the planning (a connection the server refused).
    std::vector<std::string> notes;

    int count(PublishAction action) const;
    std::int64_t bytes(PublishAction action) const;
};

struct PublishOptions {
    bool deleteRemoved = false;
    // Connections at most; fewer when the server refuses more.
    int connections = 4;
};

// What a run did.
struct PublishTotals {
    int uploaded = 0;
    int replaced = 0;
    int deleted = 0;
    int failed = 0;   // problems of the plan included
    int notDone = 0;  // left undone by a stop, a lost server or a failed upload (deletions)
    int unchanged = 0;
    std::int64_t bytes = 0;
    bool stopped = false;
    bool complete() const { return failed == 0 && notDone == 0 && !stopped; }
};

// Told what happens, from the run's worker threads, one call at a time.
class PublishObserver {
public:
    virtual ~PublishObserver() = default;
    // A step is done: nullopt when it went through, else what went wrong.
    virtual void stepDone(const PublishStep& step, const std::optional<FtpError>& error) = 0;
    // Something worth a log line: a folder created, a connection refused, a
    // leftover cleared, the record not writable.
    virtual void note(const std::string& text) = 0;
};

// Counters of a running publish, for a progress display on another thread.
struct PublishProgress {
    int filesDone = 0;
    int filesTotal = 0;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = 0;
};

class Publisher {
public:
    // Opens one more connection to the site, logged in; stop is the
    // publisher's stop flag, for the connection to watch.
    using Connector =
        std::function<FtpResult<std::unique_ptr<FtpConnection>>(const std::atomic<bool>* stop)>;

    // remoteFolder as the user gave it: absolute, or below the login folder.
    // The record lives below programFolder (see PublishRecordFile).
    Publisher(Connector connect, const std::filesystem::path& programFolder, std::string site,
              std::filesystem::path localFolder, std::string remoteFolder);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Reads the local folder and the record, logs in once and lists each
    // remote folder concerned once. Changes nothing anywhere. Fails when the
    // first connection cannot be made or the local folder cannot be read.
    // Folders are listed over up to connections connections.
    FtpResult<PublishPlan> Plan(int connections = kDefaultPublishConnections);

    // Carries a plan out over up to options.connections connections (the
    // one Plan opened among them) and brings the record up to date.
    PublishTotals Run(const PublishPlan& plan, const PublishOptions& options,
                      PublishObserver& observer);

    // From any thread: ends the run soon, leaving every remote file either
    // as it was or complete.
    void stop() { m_stop.store(true); }
    bool stopping() const { return m_stop.load(); }

    // From any thread, while Run runs.
    PublishProgress progress() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::atomic<bool> m_stop{false};
};

// Where the record of publishing to remoteFolder of a site lives: a file in
// "publish" below the program folder, named by a hash of both.
std::filesystem::path PublishRecordFile(const std::filesystem::path& programFolder,
                                        std::string_view site, std::string_view remoteFolder);

// "a/b.html" of a step, as a line of the command's or the log's output:
// "upload a/b.html (1234 bytes)".
std::string DescribeStep(const PublishStep& step);

}  // namespace quill
