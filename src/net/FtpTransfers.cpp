#include "FtpConnection.h"

#include "FtpLink.h"
#include "common/FileWrite.h"
#include "common/TextOps.h"

#include <curl/curl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <utility>

namespace quill {

// File transfers: downloads into a replacing local file, uploads through a
// temporary remote name and a rename.

namespace {

// curl hands over what the socket had, up to this much; fewer, larger
// chunks keep the per-chunk work out of the way. 512 KiB is the most that
// libcurl 7.88 takes.
constexpr long kDownloadBufferBytes = 512L * 1024;
constexpr long kUploadBufferBytes = 64L * 1024;

FtpError localError(const std::string& what, const std::filesystem::path& path, int error) {
    return FtpError{0, what + " " + path.native() + ": " + std::strerror(error),
                    FtpErrorKind::Local};
}

FtpResult<void> checkRemotePath(std::string_view path) {
    if (path.empty() || path.front() != '/' || path.back() == '/' || HoldsLineBreakOrNul(path)) {
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT,
                                        "The remote file name is empty or holds a line break",
                                        FtpErrorKind::Failed});
    }
    if (HoldsControlByte(path)) {
        return std::unexpected(ControlCharacterError());
    }
    return {};
}

// A transfer cut off by these can go on where it stopped.
bool brokeOff(FtpErrorKind kind) {
    return kind == FtpErrorKind::Stopped || kind == FtpErrorKind::Dropped ||
           kind == FtpErrorKind::TimedOut;
}

// An upload reads a file through one descriptor and counts what is in
// place, from the offset a resumed transfer starts at.
struct FileStream {
    int fd = -1;
    std::int64_t bytes = 0;
    std::atomic<std::int64_t>* moved = nullptr;
    int error = 0;  // errno of a failed read
    std::int64_t start = 0;
    bool touched = false;  // curl asked for data

    FileStream(int descriptor, std::int64_t offset, std::atomic<std::int64_t>* counter)
        : fd(descriptor), bytes(offset), moved(counter), start(offset) {
        publish();
    }
    ~FileStream() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    void publish() {
        if (moved) {
            moved->store(bytes, std::memory_order_relaxed);
        }
    }
    void count(std::size_t n) {
        touched = true;
        bytes += static_cast<std::int64_t>(n);
        publish();
    }
    bool seek(std::int64_t offset) {
        bytes = offset;
        publish();
        return ::lseek(fd, offset, SEEK_SET) == offset;
    }
    bool rewind() { return seek(start); }
};

// A download's bytes go to its writer; moved shows what is in place.
struct DownloadStream {
    ReplacingFile& file;
    std::atomic<std::int64_t>* moved = nullptr;
    std::int64_t start = 0;  // what a resumed partial held
    bool touched = false;    // curl handed over data
    std::optional<FileWriteError> error;

    void publish() const {
        if (moved) {
            moved->store(file.Size(), std::memory_order_relaxed);
        }
    }
};

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
    auto* stream = static_cast<DownloadStream*>(user);
    const std::size_t total = size * count;
    if (auto written = stream->file.Append({data, total}); !written) {
        stream->error = std::move(written.error());
        return 0;  // curl ends with a write error
    }
    stream->touched = true;
    stream->publish();
    return total;
}

size_t readFromFile(char* buffer, size_t size, size_t count, void* user) {
    auto* file = static_cast<FileStream*>(user);
    for (;;) {
        const ssize_t n = ::read(file->fd, buffer, size * count);
        if (n >= 0) {
            file->count(static_cast<std::size_t>(n));
            return static_cast<size_t>(n);
        }
        if (errno != EINTR) {
            file->error = errno;
            return CURL_READFUNC_ABORT;
        }
    }
}

// curl seeks the local file itself where SFTP resumes an upload.
int seekFile(void* user, curl_off_t offset, int origin) {
    auto* file = static_cast<FileStream*>(user);
    if (origin != SEEK_SET) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    return file->seek(offset) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

std::string randomPart(int length) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    std::string part;
    for (int i = 0; i < length; ++i) {
        part += kLetters[random() % (sizeof kLetters - 1)];
    }
    return part;
}

std::string tempName(std::string_view middle) {
    return std::string(kTransferTempPrefix) + std::string(middle) +
           std::string(kTransferTempSuffix);
}

std::string hashHex(std::string_view key) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const unsigned char c : key) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The same remote file always gives the same partial name: a stem for the
// server and path, then its size and time. A partial of an older version
// shares the stem.
std::string partialStem(std::string_view server, std::string_view remotePath) {
    return std::string(kTransferTempPrefix) +
           hashHex(std::string(server) + '\n' + std::string(remotePath)) + "-";
}
std::string partialName(const std::string& stem, const FtpFileInfo& info) {
    return stem + hashHex(std::to_string(info.size) + '\n' + std::to_string(info.modified)) +
           std::string(kTransferTempSuffix);
}

}  // namespace

FtpResult<FtpFileInfo> FtpConnection::FileInfo(std::string_view path) {
    if (auto valid = checkRemotePath(path); !valid) {
        return std::unexpected(valid.error());
    }
    FtpLink& d = *m_impl;
    const std::string url = UrlFor(path);
    auto done = d.perform([&] {
        curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(d.curl, CURLOPT_FILETIME, 1L);
    });
    FtpFileInfo info;
    if (!done) {
        if (done.error().kind == FtpErrorKind::NotFound) {
            return info;
        }
        return std::unexpected(done.error());
    }
    curl_off_t size = -1;
    curl_off_t time = -1;
    curl_easy_getinfo(d.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    curl_easy_getinfo(d.curl, CURLINFO_FILETIME_T, &time);
    info.size = size;
    info.modified = time;
    // FTP answers a missing file (or a folder) with neither SIZE nor MDTM.
    info.exists = size >= 0 || time >= 0;
    return info;
}

FtpResult<std::optional<FtpFileInfo>> FtpConnection::describe(std::string_view path,
                                                              const FtpFileInfo* known) {
    if (known) {
        return *known;
    }
    auto asked = FileInfo(path);
    if (asked) {
        return *asked;
    }
    if (asked.error().kind == FtpErrorKind::Stopped) {
        return std::unexpected(asked.error());
    }
    return std::nullopt;
}

FtpResult<std::int64_t> FtpConnection::DownloadFile(std::string_view remotePath,
                                                    const std::filesystem::path& localFile,
                                                    std::atomic<std::int64_t>* moved,
                                                    const FtpFileInfo* known) {
    if (auto valid = checkRemotePath(remotePath); !valid) {
        return std::unexpected(valid.error());
    }
    FtpLink& d = *m_impl;
    auto described = describe(remotePath, known);
    if (!described) {
        return std::unexpected(described.error());
    }
    const FtpFileInfo remote = described->value_or(FtpFileInfo{});
    // Only a file whose size and time are known can be recognised again.
    const bool resumable = remote.size >= 0 && remote.modified >= 0;
    ReplacingFileOptions options;
    std::string stem;
    if (resumable) {
        stem = partialStem(d.baseUrl, remotePath);
        options.resumeName = partialName(stem, remote);
        options.keepUpTo = remote.size;
    }
    auto opened = ReplacingFile::Open(localFile, options);
    if (!opened) {
        return std::unexpected(FtpError{0, opened.error().text, FtpErrorKind::Local});
    }
    ReplacingFile& file = *opened;
    const std::string& partialFile = options.resumeName;
    std::set<std::string>* partials = nullptr;
    if (resumable) {
        // Beside the file written, which a link may put in another folder.
        const auto folder = file.TempPath().parent_path();
        partials = &d.partialsIn(folder);
        // What was kept of another version of this file is of no more use.
        for (auto it = partials->lower_bound(stem);
             it != partials->end() && it->starts_with(stem);) {
            if (*it == partialFile) {
                ++it;
                continue;
            }
            ::unlink((folder / *it).c_str());
            it = partials->erase(it);
        }
    }
    DownloadStream stream{file, moved, file.Size(), false, std::nullopt};
    stream.publish();
    if (stream.start > 0) {
        d.notes.push_back("Download of " + std::string(remotePath) + " resumed at " +
                          std::to_string(stream.start) + " bytes.");
    }
    const std::string url = UrlFor(remotePath);
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(d.curl, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
            curl_easy_setopt(d.curl, CURLOPT_WRITEFUNCTION, &writeToFile);
            curl_easy_setopt(d.curl, CURLOPT_WRITEDATA, &stream);
            if (stream.start > 0) {
                curl_easy_setopt(d.curl, CURLOPT_RESUME_FROM_LARGE,
                                 static_cast<curl_off_t>(stream.start));
            }
        },
        [&] {
            if (auto rewound = file.Truncate(stream.start); !rewound) {
                stream.error = std::move(rewound.error());
            }
            stream.publish();
        },
        // Once bytes arrived the attempt was a real one.
        [&] { return file.Size() == stream.start && !stream.error; });
    // What arrived of this remote file stays for the next try when only the
    // connection or the user ended it; the writer removes it otherwise.
    auto forget = [&] {
        if (partials) {
            partials->erase(partialFile);
        }
    };
    auto giveUp = [&](FtpError error) {
        if (resumable && !stream.error && file.Size() > 0 && brokeOff(error.kind)) {
            file.Keep();
            partials->insert(partialFile);
            d.notes.push_back("The partial download (" + std::to_string(file.Size()) +
                              " bytes) was kept to be resumed: " + file.TempPath().native());
        } else {
            forget();
        }
        return std::unexpected(std::move(error));
    };
    if (stream.error) {
        FtpError error{0, stream.error->text, FtpErrorKind::Local};
        error.opened = true;
        return giveUp(error);
    }
    if (!done) {
        FtpError error = done.error();
        error.opened = stream.touched || d.opened("RETR");
        d.keepServerFailure(error);
        return giveUp(error);
    }
    if (remote.size >= 0 && file.Size() != remote.size) {
        FtpError error{0,
                       "The download ended at " + std::to_string(file.Size()) + " of " +
                           std::to_string(remote.size) + " bytes",
                       file.Size() < remote.size ? FtpErrorKind::Dropped : FtpErrorKind::Failed};
        error.opened = true;
        return giveUp(error);
    }
    forget();
    if (auto committed = file.Commit(); !committed) {
        FtpError error{0, committed.error().text, FtpErrorKind::Local};
        error.opened = true;
        return std::unexpected(error);
    }
    return file.Size();
}

FtpResult<std::int64_t> FtpConnection::uploadTo(int fd, std::int64_t size, std::int64_t offset,
                                                std::string_view remotePath,
                                                std::atomic<std::int64_t>* moved) {
    FtpLink& d = *m_impl;
    // The descriptor stays the caller's.
    FileStream file(::dup(fd), offset, moved);
    if (file.fd < 0 || !file.seek(offset)) {
        return std::unexpected(
            FtpError{0, std::string("Cannot read the local file: ") + std::strerror(errno),
                     FtpErrorKind::Local});
    }
    const std::string url = UrlFor(remotePath);
    curl_slist* prequote = nullptr;
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(d.curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(d.curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
            curl_easy_setopt(d.curl, CURLOPT_READFUNCTION, &readFromFile);
            curl_easy_setopt(d.curl, CURLOPT_READDATA, &file);
            d.protocol->startUploadAt(d.curl, offset, size, &seekFile, &file, prequote);
        },
        [&] {
            if (!file.rewind()) {
                file.error = errno;
            }
        },
        // Sent again only when the file was never asked for.
        [&] { return !d.sentVerb("STOR") && file.error == 0; });
    curl_slist_free_all(prequote);
    auto opened = [&](const FtpError& error) {
        return d.protocol->uploadOpened(file.touched, brokeOff(error.kind));
    };
    if (file.error != 0) {
        FtpError error{0, std::string("Cannot read the local file: ") + std::strerror(file.error),
                       FtpErrorKind::Local};
        error.opened = opened(error);
        return std::unexpected(error);
    }
    if (!done) {
        FtpError error = done.error();
        d.keepServerFailure(error);
        error.opened = opened(error);
        // A 4xx such as a full disk is no refusal of the name.
        if (!error.opened && d.protocol->uploadNameRefused(done.error())) {
            error.kind = FtpErrorKind::Refused;
        }
        return std::unexpected(error);
    }
    return file.bytes;
}

FtpResult<void> FtpConnection::renameOver(std::string_view from, std::string_view to,
                                          bool& targetGone) {
    auto renamed = RenameFile(from, to);
    if (renamed || renamed.error().kind != FtpErrorKind::Refused) {
        return renamed;
    }
    // Some servers (OpenSSH's SFTP among them) do not rename onto a file.
    if (!DeleteFile(to)) {
        return renamed;
    }
    m_impl->notes.push_back("The server would not rename onto the existing file, so " +
                            std::string(to) + " was deleted first, then replaced.");
    auto again = RenameFile(from, to);
    if (!again) {
        targetGone = true;
        m_impl->notes.push_back("The new file could not take its name and is on the server as " +
                                std::string(from) + "; " + std::string(to) + " is gone.");
    }
    return again;
}

void FtpConnection::removeLeftover(const std::string& temp, bool cleanUp) {
    FtpLink& d = *m_impl;
    if (cleanUp) {
        // Cleaning up after a stop: a short wait for a server that is gone.
        const FtpTimeouts saved = d.params.timeouts;
        d.params.timeouts.connectSeconds = std::min<long>(saved.connectSeconds, 5);
        d.params.timeouts.serverResponseSeconds = std::min<long>(saved.serverResponseSeconds, 5);
        d.ignoreStop = true;
        auto removed = DeleteFile(temp);
        d.ignoreStop = false;
        d.params.timeouts = saved;
        if (removed) {
            return;
        }
        d.notes.push_back("The temporary file could not be removed and is left on the server: " +
                          temp + " (" + removed.error().text + ")");
        return;
    }
    d.notes.push_back("The unfinished upload was kept on the server as " + temp +
                      "; uploading the same file again resumes it.");
}

FtpResult<std::int64_t> FtpConnection::UploadFile(const std::filesystem::path& localFile,
                                                  std::string_view remotePath,
                                                  std::atomic<std::int64_t>* moved,
                                                  const FtpFileInfo* known) {
    if (auto valid = checkRemotePath(remotePath); !valid) {
        return std::unexpected(valid.error());
    }
    const int fd = ::open(localFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(localError("Cannot read", localFile, errno));
    }
    FileStream local(fd, 0, nullptr);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return std::unexpected(localError("Cannot read", localFile, errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return std::unexpected(localError("Cannot read", localFile, EISDIR));
    }
    const std::int64_t size = info.st_size;
    FtpLink& d = *m_impl;
    auto described = describe(remotePath, known);
    if (!described) {
        return std::unexpected(described.error());
    }
    // A target the server would not tell about is taken to be there.
    const FtpFileInfo target = described->value_or(FtpFileInfo{true, -1, -1});
    auto fail = [&](FtpError error) { return std::unexpected(std::move(error)); };
    if (!target.exists && size < kResumableUploadBytes) {
        return uploadTo(fd, size, 0, remotePath, moved);
    }
    const std::string folder(remotePath.substr(0, remotePath.rfind('/') + 1));
    const std::string key = std::string(remotePath) + '\n' + std::to_string(info.st_dev) + ':' +
                            std::to_string(info.st_ino) + ':' + std::to_string(size) + ':' +
                            std::to_string(info.st_mtim.tv_sec) + '.' +
                            std::to_string(info.st_mtim.tv_nsec);
    std::string temp;
    std::int64_t offset = 0;
    if (const auto kept = d.uploadParts.find(key); kept != d.uploadParts.end()) {
        temp = kept->second;
        d.uploadParts.erase(kept);
        if (CanResumeUploads()) {
            if (auto part = FileInfo(temp); part && part->exists && part->size <= size) {
                offset = std::max<std::int64_t>(part->size, 0);
            }
        }
    } else {
        temp = folder + tempName(randomPart(12));
    }
    if (offset > 0) {
        d.notes.push_back("Upload to " + std::string(remotePath) + " resumed at " +
                          std::to_string(offset) + " bytes.");
    }
    auto sent = uploadTo(fd, size, offset, temp, moved);
    if (!sent) {
        FtpError error = sent.error();
        if (error.kind == FtpErrorKind::Refused && offset == 0) {
            d.notes.push_back("The server refused the temporary name " + temp +
                              "; the file is written in place: " + std::string(remotePath));
            return uploadTo(fd, size, 0, remotePath, moved);
        }
        if (!error.opened) {
            return fail(error);
        }
        error.targetIntact = true;
        if (d.keepUnfinished && size >= kResumableUploadBytes && brokeOff(error.kind)) {
            d.uploadParts[key] = temp;
            removeLeftover(temp, false);
        } else {
            removeLeftover(temp, true);
        }
        return fail(error);
    }
    bool targetGone = false;
    if (auto renamed = renameOver(temp, remotePath, targetGone); !renamed) {
        FtpError error = renamed.error();
        error.opened = true;
        error.targetIntact = !targetGone;
        // The only copy on the server is kept when the target is gone.
        if (!targetGone) {
            removeLeftover(temp, true);
        }
        return fail(error);
    }
    return *sent;
}

}  // namespace quill
