#include "Publisher.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {
namespace {

namespace fs = std::filesystem;

// "/www/", "www//a" -> "/www", "www/a": no doubled or trailing slash.
std::string tidyRemote(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '/' && !out.empty() && out.back() == '/') {
            continue;
        }
        out += c;
    }
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out == "/" ? "" : out;
}

std::string joinRemote(const std::string& folder, std::string_view path) {
    return path.empty() ? folder : folder + '/' + std::string(path);
}

std::string parentOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string nameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::expected<std::string, std::string> hashFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(std::string("cannot read it: ") + std::strerror(errno));
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(std::size_t{256} << 10);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return std::unexpected(std::string("cannot read it: ") + std::strerror(error));
        }
        if (n == 0) {
            break;
        }
        hash.addData(QByteArrayView(buffer.data(), n));
    }
    ::close(fd);
    return hash.result().toHex().toStdString();
}

struct LocalScan {
    std::vector<PublishedFile> files;
    std::vector<std::string> folders;  // below the root, "" not included
    std::vector<PublishProblem> problems;
};

LocalScan scanLocal(const fs::path& root, const std::string& rootText) {
    LocalScan scan;
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::directory_entry& entry = *it;
        const std::string path = entry.path().lexically_relative(root).generic_string();
        const std::string name = entry.path().filename().native();
        std::error_code statError;
        if (entry.is_symlink(statError)) {
            // Linked files are published; linked folders are not followed.
            const auto target = fs::status(entry.path(), statError);
            if (statError || !fs::exists(target)) {
                scan.problems.push_back({path, "the link leads nowhere"});
            } else if (fs::is_regular_file(target)) {
                scan.files.push_back({path, {}, 0, rootText});
            }
            continue;
        }
        if (entry.is_directory(statError)) {
            scan.folders.push_back(path);
        } else if (entry.is_regular_file(statError) && !IsTransferTempName(name)) {
            scan.files.push_back({path, {}, 0, rootText});
        }
    }
    if (error) {
        scan.problems.push_back({".", "cannot read the folder: " + error.message()});
    }
    std::ranges::sort(scan.files, {}, &PublishedFile::path);
    std::ranges::sort(scan.folders);
    return scan;
}

bool brokeOffConnection(const FtpError& error) {
    return error.kind == FtpErrorKind::Dropped || error.kind == FtpErrorKind::TimedOut;
}

// What the server listed of a folder, by name; nullopt when it has no such
// folder.
using RemoteFolder = std::optional<std::map<std::string, FtpFindData>>;

}  // namespace

int PublishPlan::count(PublishAction action) const {
    return static_cast<int>(std::ranges::count(steps, action, &PublishStep::action));
}

std::int64_t PublishPlan::bytes(PublishAction action) const {
    std::int64_t total = 0;
    for (const PublishStep& step : steps) {
        total += step.action == action ? step.size : 0;
    }
    return total;
}

std::string DescribeStep(const PublishStep& step) {
    static constexpr const char* kVerbs[] = {"upload", "replace", "delete"};
    return std::string(kVerbs[static_cast<int>(step.action)]) + ' ' + step.path + " (" +
           std::to_string(step.size) + " bytes)";
}

fs::path PublishRecordFile(const fs::path& programFolder, std::string_view site,
                           std::string_view remoteFolder) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(site.data(), static_cast<qsizetype>(site.size())));
    hash.addData(QByteArrayView("\n", 1));
    const std::string remote = tidyRemote(remoteFolder);
    hash.addData(QByteArrayView(remote.data(), static_cast<qsizetype>(remote.size())));
    return programFolder / "publish" / (hash.result().toHex().left(24).toStdString() + ".record");
}

struct Publisher::Impl {
    Connector connect;
    fs::path recordFile;
    std::string site;
    fs::path local;
    std::string localText;
    std::string remoteGiven;
    std::string remoteRoot;
    const std::atomic<bool>* stop = nullptr;

    // Slot 0 is opened by Plan; the others on demand, each by its own thread.
    std::vector<std::unique_ptr<FtpConnection>> connections;
    // Not vector<bool>: the workers write their own slots at once.
    std::vector<char> refused;
    std::optional<PublishRecord> record;

    // Guards the record, the observer and the notes.
    std::mutex mutex;
    std::array<std::atomic<std::int64_t>, kMaxPublishConnections> moving{};
    std::atomic<int> filesDone{0};
    std::atomic<std::int64_t> bytesDone{0};
    std::atomic<int> filesTotal{0};
    std::atomic<std::int64_t> bytesTotal{0};

    enum class Outcome { Next, ConnectionLost };
    using Work = std::function<Outcome(FtpConnection&, int slot, std::size_t index)>;

    // Runs work for items 0..count-1 over up to wanted connections, each on
    // its own thread; returns how many items were taken (the rest were not
    // attempted: a stop, or no connection left).
    std::size_t parallel(std::size_t count, int wanted, const Work& work,
                         const std::function<void(const std::string&)>& note) {
        const int workers = static_cast<int>(std::min<std::size_t>(count, wanted));
        if (connections.size() < static_cast<std::size_t>(workers)) {
            connections.resize(workers);
            refused.resize(workers, false);
        }
        std::atomic<std::size_t> next{0};
        auto worker = [&](int slot) {
            if (!connections[slot]) {
                if (refused[slot] || stop->load()) {
                    return;
                }
                auto opened = connect(stop);
                if (!opened) {
                    refused[slot] = true;
                    if (opened.error().kind != FtpErrorKind::Stopped) {
                        note("Connection " + std::to_string(slot + 1) + " was not made (" +
                             opened.error().text + "); going on with fewer.");
                    }
                    return;
                }
                connections[slot] = std::move(*opened);
            }
            while (!stop->load()) {
                const std::size_t index = next.fetch_add(1);
                if (index >= count) {
                    return;
                }
                if (work(*connections[slot], slot, index) == Outcome::ConnectionLost) {
                    connections[slot].reset();
                    refused[slot] = true;
                    return;
                }
            }
        };
        std::vector<std::jthread> threads;
        for (int slot = 1; slot < workers; ++slot) {
            threads.emplace_back(worker, slot);
        }
        if (workers > 0) {
            worker(0);
        }
        threads.clear();
        return std::min(next.load(), count);
    }
};

Publisher::Publisher(Connector connect, const fs::path& programFolder, std::string site,
                     fs::path localFolder, std::string remoteFolder)
    : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    // A run's connections end with it: a temp file kept for resuming would
    // only wait for the next run to clear it.
    d.connect = [connect = std::move(connect)](const std::atomic<bool>* stop) {
        auto opened = connect(stop);
        if (opened) {
            (*opened)->KeepUnfinishedUploads(false);
        }
        return opened;
    };
    d.site = std::move(site);
    std::error_code error;
    d.localText = fs::absolute(localFolder, error).lexically_normal().native();
    while (d.localText.size() > 1 && d.localText.back() == '/') {
        d.localText.pop_back();
    }
    d.local = d.localText;
    d.remoteGiven = tidyRemote(remoteFolder);
    d.recordFile = PublishRecordFile(programFolder, d.site, d.remoteGiven);
    d.stop = &m_stop;
}

Publisher::~Publisher() = default;

FtpResult<PublishPlan> Publisher::Plan(int connections) {
    Impl& d = *m_impl;
    auto failLocal = [](std::string text) {
        return std::unexpected(FtpError{0, std::move(text), FtpErrorKind::Local});
    };
    std::error_code error;
    if (!fs::is_directory(d.local, error)) {
        return failLocal("There is no folder " + d.localText);
    }
    auto record = PublishRecord::Load(d.recordFile, d.site, d.remoteGiven);
    if (!record) {
        return failLocal(record.error());
    }
    d.record = std::move(*record);

    LocalScan scan = scanLocal(d.local, d.localText);
    PublishPlan plan;
    plan.problems = std::move(scan.problems);
    for (PublishedFile& file : scan.files) {
        const fs::path path = d.local / file.path;
        struct stat info {};
        auto hash = hashFile(path);
        if (!hash || ::stat(path.c_str(), &info) != 0) {
            plan.problems.push_back({file.path, hash ? "cannot read it" : hash.error()});
            continue;
        }
        file.hash = std::move(*hash);
        file.size = info.st_size;
        plan.local.push_back(std::move(file));
    }

    if (d.connections.empty() || !d.connections[0]) {
        auto first = d.connect(&m_stop);
        if (!first) {
            return std::unexpected(first.error());
        }
        d.connections.resize(1);
        d.refused.assign(1, false);
        d.connections[0] = std::move(*first);
    }
    if (d.remoteGiven.starts_with('/')) {
        d.remoteRoot = d.remoteGiven;
    } else {
        const std::string login = tidyRemote(d.connections[0]->CurrentDirectory());
        d.remoteRoot = tidyRemote(login + '/' + d.remoteGiven);
    }
    plan.remoteRoot = d.remoteRoot;

    // Every folder that holds something to compare: the local ones and
    // those of recorded files.
    std::set<std::string> folders{""};
    folders.insert(scan.folders.begin(), scan.folders.end());
    for (const auto& [path, file] : d.record->files()) {
        for (std::string folder = parentOf(path); !folder.empty(); folder = parentOf(folder)) {
            folders.insert(folder);
        }
    }
    const std::vector<std::string> folderList(folders.begin(), folders.end());
    std::vector<RemoteFolder> listed(folderList.size());
    std::vector<std::optional<FtpError>> listErrors(folderList.size());
    const auto note = [&](const std::string& text) {
        std::lock_guard lock(d.mutex);
        plan.notes.push_back(text);
    };
    const std::size_t taken = d.parallel(
        folderList.size(), std::clamp(connections, kMinPublishConnections, kMaxPublishConnections),
        [&](FtpConnection& connection, int, std::size_t index) {
            const std::string remote = joinRemote(d.remoteRoot, folderList[index]);
            auto listing = connection.ListFolder(remote + "/*", {}, true);
            if (!listing && listing.error().kind != FtpErrorKind::NotFound &&
                !connection.UsesMlsd() && connection.protocol() != FtpProtocol::Sftp &&
                listing.error().kind != FtpErrorKind::Stopped) {
                // A server that takes "-a" for a name: list what it shows.
                listing = connection.ListFolder(remote + "/*");
            }
            if (listing) {
                auto& entries = listed[index].emplace();
                for (FtpFindData& entry : listing->entries) {
                    entries.emplace(entry.name, std::move(entry));
                }
            } else if (listing.error().kind != FtpErrorKind::NotFound) {
                listErrors[index] = listing.error();
                return brokeOffConnection(listing.error()) ? Impl::Outcome::ConnectionLost
                                                           : Impl::Outcome::Next;
            }
            return Impl::Outcome::Next;
        },
        note);
    if (m_stop.load()) {
        return std::unexpected(FtpError{0, "Stopped", FtpErrorKind::Stopped});
    }
    std::map<std::string, const RemoteFolder*> byFolder;
    for (std::size_t i = 0; i < folderList.size(); ++i) {
        if (listErrors[i] || (i >= taken)) {
            // A folder that could not be listed is not compared: its
            // files fail rather than go blindly.
            continue;
        }
        byFolder[folderList[i]] = &listed[i];
        if (!listed[i]) {
            std::string missing = joinRemote(d.remoteRoot, folderList[i]);
            if (folderList[i].empty()) {
                // The root and every folder above it that may be missing.
                std::vector<std::string> above;
                for (std::string up = parentOf(missing); !up.empty(); up = parentOf(up)) {
                    above.push_back(up);
                }
                plan.newFolders.insert(plan.newFolders.end(), above.rbegin(), above.rend());
            }
            if (folderList[i].empty() || std::ranges::binary_search(scan.folders, folderList[i])) {
                plan.newFolders.push_back(std::move(missing));
            }
        }
    }
    for (std::size_t i = 0; i < folderList.size(); ++i) {
        if (listErrors[i]) {
            plan.problems.push_back(
                {folderList[i], "cannot list the server's folder: " + listErrors[i]->text});
        }
    }
    auto remoteEntry = [&](const std::string& path) -> std::optional<const FtpFindData*> {
        const auto folder = byFolder.find(parentOf(path));
        if (folder == byFolder.end()) {
            return std::nullopt;  // not listed
        }
        if (!*folder->second) {
            return nullptr;  // the folder is missing
        }
        const auto& entries = **folder->second;
        const auto found = entries.find(nameOf(path));
        return found == entries.end() ? nullptr : &found->second;
    };

    std::vector<PublishStep> uploads;
    std::vector<PublishStep> replaces;
    std::set<std::string> localPaths;
    for (const PublishedFile& file : plan.local) {
        localPaths.insert(file.path);
        const auto remote = remoteEntry(file.path);
        if (!remote) {
            plan.problems.push_back({file.path, "its folder on the server could not be listed"});
            continue;
        }
        if (*remote == nullptr) {
            uploads.push_back({PublishAction::Upload, file.path, file.size});
            continue;
        }
        const FtpFindData& there = **remote;
        if (there.folder) {
            plan.problems.push_back({file.path, "the server has a folder of that name"});
            continue;
        }
        const PublishedFile* sent = d.record->find(file.path);
        if (!sent || sent->hash != file.hash || sent->size != there.size) {
            replaces.push_back({PublishAction::Replace, file.path, file.size});
        } else {
            ++plan.unchanged;
        }
    }
    plan.steps = std::move(uploads);
    plan.steps.insert(plan.steps.end(), replaces.begin(), replaces.end());
    for (const auto& [path, file] : d.record->files()) {
        if (localPaths.contains(path) || file.localFolder != d.localText) {
            continue;
        }
        const auto remote = remoteEntry(path);
        if (remote && *remote == nullptr) {
            plan.forgotten.push_back(path);
        } else if (remote && !(*remote)->folder) {
            plan.steps.push_back({PublishAction::Delete, path, (*remote)->size});
        }
    }
    for (std::size_t i = 0; i < folderList.size(); ++i) {
        if (!listed[i]) {
            continue;
        }
        for (const auto& [name, entry] : *listed[i]) {
            if (!entry.folder && IsTransferTempName(name)) {
                plan.leftovers.push_back(joinRemote(d.remoteRoot, folderList[i]) + '/' + name);
            }
        }
    }
    return plan;
}

PublishTotals Publisher::Run(const PublishPlan& plan, const PublishOptions& options,
                             PublishObserver& observer) {
    Impl& d = *m_impl;
    PublishTotals totals;
    totals.unchanged = plan.unchanged;
    const auto note = [&](const std::string& text) {
        std::lock_guard lock(d.mutex);
        observer.note(text);
    };
    for (const PublishProblem& problem : plan.problems) {
        ++totals.failed;
        std::lock_guard lock(d.mutex);
        observer.stepDone({PublishAction::Upload, problem.path, 0},
                          FtpError{0, problem.reason, FtpErrorKind::Local});
    }
    if (!d.record || d.connections.empty()) {
        totals.notDone = static_cast<int>(plan.steps.size());
        return totals;
    }
    const int wanted =
        std::clamp(options.connections, kMinPublishConnections, kMaxPublishConnections);
    d.filesTotal = static_cast<int>(plan.steps.size());
    std::int64_t bytesTotal = 0;
    for (const PublishStep& step : plan.steps) {
        bytesTotal += step.action == PublishAction::Delete ? 0 : step.size;
    }
    d.bytesTotal = bytesTotal;
    d.filesDone = 0;
    d.bytesDone = 0;
    bool recordFailed = false;
    const auto keep = [&](const std::expected<void, std::string>& written) {
        if (!written && !recordFailed) {
            recordFailed = true;
            observer.note(written.error() + "; the next publish sends these files again.");
        }
    };

    std::map<std::string, const PublishedFile*> localByPath;
    for (const PublishedFile& file : plan.local) {
        localByPath[file.path] = &file;
        // Files that stay are now this folder's.
        if (const PublishedFile* sent = d.record->find(file.path);
            sent && sent->localFolder != d.localText && sent->hash == file.hash) {
            keep(d.record->Put(file));
        }
    }
    for (const std::string& path : plan.forgotten) {
        keep(d.record->Forget(path));
    }

    // Folders first, on one connection, each after its parent. The folders
    // above a missing remote folder are tried only when it cannot be made
    // as it is: most of them are there.
    if (!plan.newFolders.empty() && !m_stop.load() && d.connections[0]) {
        FtpConnection& connection = *d.connections[0];
        const auto make = [&](const std::string& folder) {
            auto made = connection.CreateDirectory(folder);
            if (made) {
                note("Created the folder " + folder);
            }
            return made;
        };
        const auto report = [&](const std::string& folder, const FtpResult<void>& made) {
            if (!made) {
                note("Cannot create the folder " + folder + ": " + made.error().text);
            }
        };
        auto next = plan.newFolders.begin();
        if (const auto root = std::ranges::find(plan.newFolders, d.remoteRoot);
            root != plan.newFolders.end()) {
            auto made = make(*root);
            if (!made) {
                for (; next != root; ++next) {
                    (void)make(*next);
                }
                made = make(*root);
            }
            report(*root, made);
            next = root + 1;
        }
        for (; next != plan.newFolders.end(); ++next) {
            report(*next, make(*next));
        }
    }

    auto runGroup = [&](PublishAction action) {
        std::vector<const PublishStep*> group;
        for (const PublishStep& step : plan.steps) {
            if (step.action == action) {
                group.push_back(&step);
            }
        }
        const std::size_t taken = d.parallel(
            group.size(), wanted,
            [&](FtpConnection& connection, int slot, std::size_t index) {
                const PublishStep& step = *group[index];
                const std::string remote = joinRemote(d.remoteRoot, step.path);
                auto once = [&]() -> FtpResult<void> {
                    if (action == PublishAction::Delete) {
                        auto deleted = connection.DeleteFile(remote);
                        if (!deleted && deleted.error().kind == FtpErrorKind::NotFound) {
                            return {};
                        }
                        return deleted;
                    }
                    const FtpFileInfo known{action == PublishAction::Replace, -1, -1};
                    auto sent =
                        connection.UploadFile(d.local / step.path, remote, &d.moving[slot], &known);
                    d.moving[slot] = 0;
                    return sent ? FtpResult<void>{} : std::unexpected(sent.error());
                };
                FtpResult<void> result = once();
                bool lost = !result && brokeOffConnection(result.error()) && !m_stop.load();
                if (lost) {
                    lost = !connection.Reconnect();
                    // A deletion that may have run is not sent twice.
                    if (!lost && action != PublishAction::Delete) {
                        result = once();
                        lost = !result && brokeOffConnection(result.error()) && !m_stop.load() &&
                               !connection.Reconnect();
                    }
                }
                std::lock_guard lock(d.mutex);
                for (const std::string& text : connection.TakeNotes()) {
                    observer.note(text);
                }
                d.filesDone.fetch_add(1);
                if (result) {
                    if (action == PublishAction::Delete) {
                        ++totals.deleted;
                        keep(d.record->Forget(step.path));
                    } else {
                        ++(action == PublishAction::Upload ? totals.uploaded : totals.replaced);
                        totals.bytes += step.size;
                        d.bytesDone.fetch_add(step.size);
                        keep(d.record->Put(*localByPath.at(step.path)));
                    }
                    observer.stepDone(step, std::nullopt);
                } else if (result.error().kind == FtpErrorKind::Stopped) {
                    ++totals.notDone;
                    observer.stepDone(step, result.error());
                } else {
                    ++totals.failed;
                    observer.stepDone(step, result.error());
                }
                return lost ? Impl::Outcome::ConnectionLost : Impl::Outcome::Next;
            },
            note);
        totals.notDone += static_cast<int>(group.size() - taken);
    };

    runGroup(PublishAction::Upload);
    runGroup(PublishAction::Replace);
    const int deletions = plan.count(PublishAction::Delete);
    if (options.deleteRemoved && deletions > 0) {
        if (totals.failed == 0 && totals.notDone == 0 && !m_stop.load()) {
            runGroup(PublishAction::Delete);
        } else {
            totals.notDone += deletions;
            note("No remote file was deleted: not every file was published.");
        }
    }
    if (!m_stop.load()) {
        const auto open = std::ranges::find_if(d.connections, [](auto& c) { return c != nullptr; });
        for (const std::string& leftover : plan.leftovers) {
            if (open == d.connections.end()) {
                break;
            }
            FtpConnection* connection = open->get();
            if (auto removed = connection->DeleteFile(leftover);
                removed || removed.error().kind == FtpErrorKind::NotFound) {
                note("Removed the temporary file of a broken-off transfer: " + leftover);
            } else {
                note("Cannot remove the temporary file " + leftover + ": " + removed.error().text);
            }
        }
    }
    totals.stopped = m_stop.load();
    keep(d.record->Compact());
    if (recordFailed) {
        ++totals.failed;
    }
    return totals;
}

PublishProgress Publisher::progress() const {
    const Impl& d = *m_impl;
    PublishProgress progress;
    progress.filesDone = d.filesDone.load();
    progress.filesTotal = d.filesTotal;
    progress.bytesDone = d.bytesDone.load();
    for (const auto& moving : d.moving) {
        progress.bytesDone += moving.load();
    }
    progress.bytesTotal = d.bytesTotal;
    return progress;
}

}  // namespace quill
