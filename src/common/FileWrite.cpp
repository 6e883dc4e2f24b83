#include "FileWrite.h"

#include <cerrno>
#include <cstring>

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

}  // namespace

std::expected<void, std::string> WriteFileReplacing(const std::filesystem::path& path,
                                                    std::string_view bytes, mode_t mode) {
    if (path.filename().empty()) {
        return std::unexpected("no file name in " + path.native());
    }
    const auto parent = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // A short fixed name, so a target whose name is near the length limit
    // can still be written.
    std::string temp = (parent / ".quillmint-XXXXXX").native();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return std::unexpected(errnoText("Cannot create", path));
    }
    const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        errno = written ? errno : savedErrno;
        auto error = errnoText("Cannot write", path);
        ::unlink(temp.c_str());
        return std::unexpected(error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        auto error = errnoText("Cannot replace", path);
        ::unlink(temp.c_str());
        return std::unexpected(error);
    }
    return {};
}

std::expected<void, std::string> AppendToFile(const std::filesystem::path& path,
                                              std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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
