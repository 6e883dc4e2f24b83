#include "FileWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {
namespace {

std::string errnoText(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.native() + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The file a chain of symbolic links ends at (path itself when it is no link,
// or does not exist yet).
std::expected<std::filesystem::path, std::string> followLinks(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        std::error_code error;
        const auto target = std::filesystem::read_symlink(current, error);
        if (error) {
            return std::unexpected("Cannot follow the link " + current.native() + ": " +
                                   error.message());
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return std::unexpected("Too many levels of symbolic links in " + path.native());
}

// The mode to create a temporary file with that will replace a file of this
// status: its permission bits, only the owner's when its owner or group are
// not ours (they may not be kept).
mode_t tempModeFor(const struct stat& old) {
    const bool ours = old.st_uid == ::geteuid() && old.st_gid == ::getegid();
    return old.st_mode & (ours ? 0777 : 0700);
}

// A new file with a random name in parent, created with mode (the umask
// applies as it does to any new file). The name's length does not depend on
// the target's, so names near the length limit stay writable.
int createTemp(const std::filesystem::path& parent, std::filesystem::path& name, mode_t mode) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string leaf(kTransferTempPrefix);
        for (int i = 0; i < 12; ++i) {
            leaf += kChars[random() % (sizeof kChars - 1)];
        }
        name = parent / (leaf + std::string(kTransferTempSuffix));
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// A kept temporary file opened to go on at its end; size is 0 when it was
// new, too long or emptied.
int openKept(const std::filesystem::path& name, mode_t mode, std::int64_t keepUpTo,
             std::int64_t& size) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
            errno = EISDIR;
        }
        return -1;
    }
    // Kept from before, it may be more readable than the target now.
    if ((info.st_mode & 0777 & ~mode) != 0 && ::fchmod(fd, info.st_mode & mode & 0777) != 0) {
        ::close(fd);
        return -1;
    }
    size = info.st_size <= keepUpTo ? info.st_size : 0;
    if ((size == 0 && info.st_size != 0 && ::ftruncate(fd, 0) != 0) ||
        ::lseek(fd, size, SEEK_SET) != size) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Gives the new file the old one's owner, group and permission bits. When the
// group cannot be kept, the group gets no more than everyone else, so the
// content never becomes readable by more people than before.
bool keepAttributes(int fd, const struct stat& old) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        return false;
    }
    mode_t mode = old.st_mode & 0777;
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            mode = (mode & 0707) | ((mode & 0007) << 3);
        }
    }
    return ::fchmod(fd, mode) == 0;
}

bool regularFile(const std::filesystem::path& path, struct stat& info) {
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::expected<ReplacingFile, FileWriteError> ReplacingFile::Open(
    const std::filesystem::path& target, const ReplacingFileOptions& options) {
    ReplacingFile file;
    file.m_requested = target;
    file.m_mode = options.mode;
    if (target.filename().empty()) {
        return std::unexpected(
            FileWriteError{FileWriteError::Step::Create, 0, "no file name in " + target.native()});
    }
    auto resolved = followLinks(target);
    if (!resolved) {
        return std::unexpected(
            FileWriteError{FileWriteError::Step::Create, 0, std::move(resolved.error())});
    }
    file.m_target = std::move(*resolved);
    struct stat old {};
    const mode_t mode = options.mode                      ? (*options.mode & 0777)
                        : regularFile(file.m_target, old) ? tempModeFor(old)
                                                          : 0666;
    const auto parent =
        file.m_target.has_parent_path() ? file.m_target.parent_path() : std::filesystem::path(".");
    if (options.resumeName.empty()) {
        file.m_fd = createTemp(parent, file.m_temp, mode);
    } else {
        file.m_temp = parent / options.resumeName;
        file.m_fd = openKept(file.m_temp, mode, options.keepUpTo, file.m_size);
    }
    if (file.m_fd < 0) {
        return std::unexpected(file.failure(FileWriteError::Step::Create, "Cannot create", errno));
    }
    file.m_done = false;
    file.m_writtenBack = file.m_size;
    return file;
}

ReplacingFile::ReplacingFile(ReplacingFile&& other) noexcept
    : m_requested(std::move(other.m_requested)),
      m_target(std::move(other.m_target)),
      m_temp(std::move(other.m_temp)),
      m_mode(other.m_mode),
      m_fd(std::exchange(other.m_fd, -1)),
      m_size(other.m_size),
      m_writtenBack(other.m_writtenBack),
      m_failed(other.m_failed),
      m_done(std::exchange(other.m_done, true)) {
}

ReplacingFile::~ReplacingFile() {
    abandon();
}

void ReplacingFile::abandon() {
    if (m_fd >= 0) {
        ::close(std::exchange(m_fd, -1));
    }
    if (!m_done) {
        ::unlink(m_temp.c_str());
        m_done = true;
    }
}

FileWriteError ReplacingFile::failure(FileWriteError::Step step, const char* what, int code) const {
    std::string text = std::string(what) + " " + m_requested.native();
    if (code != 0) {
        text += std::string(": ") + std::strerror(code);
    }
    return FileWriteError{step, code, std::move(text)};
}

std::expected<void, FileWriteError> ReplacingFile::Append(std::string_view bytes) {
    if (m_fd < 0 || m_failed) {
        return std::unexpected(failure(FileWriteError::Step::Write, "Cannot write", 0));
    }
    if (!writeAll(m_fd, bytes)) {
        m_failed = true;
        return std::unexpected(failure(FileWriteError::Step::Write, "Cannot write", errno));
    }
    m_size += static_cast<std::int64_t>(bytes.size());
    // Hands each full stretch to the disk as soon as it is written, so a
    // large file does not wait in memory for Commit's fsync.
    constexpr std::int64_t kStretch = std::int64_t{8} << 20;
    const std::int64_t end = m_size / kStretch * kStretch;
    if (end > m_writtenBack) {
        // Only a hint: the data is in the file whether or not this starts.
        ::sync_file_range(m_fd, m_writtenBack, end - m_writtenBack, SYNC_FILE_RANGE_WRITE);
        m_writtenBack = end;
    }
    return {};
}

std::expected<void, FileWriteError> ReplacingFile::Truncate(std::int64_t size) {
    if (m_fd < 0 || ::ftruncate(m_fd, size) != 0 || ::lseek(m_fd, size, SEEK_SET) != size) {
        m_failed = true;
        return std::unexpected(
            failure(FileWriteError::Step::Write, "Cannot write", m_fd < 0 ? 0 : errno));
    }
    m_failed = false;
    m_size = size;
    m_writtenBack = std::min(m_writtenBack, size);
    return {};
}

std::expected<void, FileWriteError> ReplacingFile::Commit() {
    if (m_fd < 0 || m_failed) {
        abandon();
        return std::unexpected(failure(FileWriteError::Step::Write, "Cannot write", 0));
    }
    struct stat old {};
    bool written = ::fsync(m_fd) == 0;
    if (written && m_mode) {
        written = ::fchmod(m_fd, *m_mode & 0777) == 0;
    } else if (written && regularFile(m_target, old)) {
        written = keepAttributes(m_fd, old);
    }
    const int code = errno;
    const bool closed = ::close(std::exchange(m_fd, -1)) == 0;
    if (!written || !closed) {
        auto error = failure(FileWriteError::Step::Write, "Cannot write", written ? errno : code);
        abandon();
        return std::unexpected(error);
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        auto error = failure(FileWriteError::Step::Replace, "Cannot replace", errno);
        abandon();
        return std::unexpected(error);
    }
    m_done = true;
    return {};
}

void ReplacingFile::Keep() {
    if (m_fd >= 0) {
        ::close(std::exchange(m_fd, -1));
    }
    m_done = true;
}

std::expected<void, std::string> WriteFileReplacing(const std::filesystem::path& path,
                                                    std::string_view bytes,
                                                    std::optional<mode_t> mode) {
    ReplacingFileOptions options;
    options.mode = mode;
    auto file = ReplacingFile::Open(path, options);
    if (!file) {
        return std::unexpected(file.error().text);
    }
    if (auto appended = file->Append(bytes); !appended) {
        return std::unexpected(appended.error().text);
    }
    if (auto committed = file->Commit(); !committed) {
        return std::unexpected(committed.error().text);
    }
    return {};
}

std::expected<void, std::string> AppendToFile(const std::filesystem::path& path,
                                              std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return std::unexpected(errnoText("Cannot open", path));
    }
    const bool written = writeAll(fd, bytes);
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        errno = written ? errno : savedErrno;
        return std::unexpected(errnoText("Cannot write", path));
    }
    return {};
}

}  // namespace quill
