#include "PageFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

std::string PageTextFromBytes(std::string_view bytes, std::int64_t skip) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 16);
    std::size_t pos = 0;
    const std::size_t size = bytes.size();
    while (pos < size) {
        if (skip > 0) {
            const auto remaining = size - pos;
            pos += static_cast<std::uint64_t>(skip) < remaining ? static_cast<std::size_t>(skip)
                                                                : remaining;
        }
        if (pos >= size) {
            break;
        }
        auto nl = bytes.find('\n', pos);
        std::size_t next = nl == std::string_view::npos ? size : nl + 1;
        std::size_t end = nl == std::string_view::npos ? size : nl;
        if (nl != std::string_view::npos && end > pos && bytes[end - 1] == '\r') {
            --end;
        }
        text.append(bytes.substr(pos, end - pos));
        text.append("\r\n");
        pos = next;
    }
    return text;
}

std::string ReadPageFile(const std::filesystem::path& path, std::int64_t skip) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;  // a read error ends the text like the end of the file
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return PageTextFromBytes(bytes, skip);
}

}  // namespace quill
