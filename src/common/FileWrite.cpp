#include "FileWrite.h"

#include <cerrno>
#include <cstring>
#include <random>

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

// A new file beside the target, created with mode (the umask applies as it
// does to any new file), so it is never readable by more people than the
// file it becomes. A short fixed prefix keeps names near the length limit
// writable.
int createTemp(const std::filesystem::path& parent, std::string& name, mode_t mode) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string leaf = ".quillmint-";
        for (int i = 0; i < 6; ++i) {
            leaf += kChars[random() % (sizeof kChars - 1)];
        }
        name = (parent / leaf).native();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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

}  // namespace

mode_t TempModeFor(const struct stat& old) {
    const bool ours = old.st_uid == ::geteuid() && old.st_gid == ::getegid();
    // Another owner or group may not be kept: then only the owner may read
    // until the final mode is set.
    return old.st_mode & (ours ? 0777 : 0700);
}

std::expected<void, std::string> WriteFileReplacing(const std::filesystem::path& requested,
                                                    std::string_view bytes,
                                                    std::optional<mode_t> mode) {
    if (requested.filename().empty()) {
        return std::unexpected("no file name in " + requested.native());
    }
    const auto resolved = followLinks(requested);
    if (!resolved) {
        return std::unexpected(resolved.error());
    }
    const std::filesystem::path& path = *resolved;
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    const auto parent = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temp;
    const int fd = createTemp(parent, temp,
                              mode        ? (*mode & 0777)
                              : replacing ? TempModeFor(old)
                                          : 0666);
    if (fd < 0) {
        return std::unexpected(errnoText("Cannot create", requested));
    }
    bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (written && mode) {
        written = ::fchmod(fd, *mode) == 0;
    } else if (written && replacing) {
        written = keepAttributes(fd, old);
    }
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        errno = written ? errno : savedErrno;
        auto error = errnoText("Cannot write", requested);
        ::unlink(temp.c_str());
        return std::unexpected(error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        auto error = errnoText("Cannot replace", requested);
        ::unlink(temp.c_str());
        return std::unexpected(error);
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
