#include "PublishRecord.h"

#include "common/FileWrite.h"
#include "common/TextOps.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace quill {
namespace {

constexpr std::string_view kMagic = "quillmint publish record 1";

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::string fileLine(const PublishedFile& file) {
    return "F\t" + file.hash + '\t' + std::to_string(file.size) + '\t' +
           EscapeRecordField(file.localFolder) + '\t' + EscapeRecordField(file.path) + '\n';
}

bool isHash(std::string_view text) {
    return text.size() == 64 &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

std::string EscapeRecordField(std::string_view text) {
    return PercentEscaped(text, [](unsigned char c) { return c < 0x20 || c == 0x7f || c == '%'; });
}

std::optional<std::string> UnescapeRecordField(std::string_view text) {
    if (HoldsBrokenEscape(text)) {
        return std::nullopt;
    }
    return PercentDecoded(text);
}

std::optional<std::vector<std::string>> UnescapeRecordFields(std::string_view line) {
    std::vector<std::string> fields;
    for (const std::string_view field : splitTabs(line)) {
        auto text = UnescapeRecordField(field);
        if (!text) {
            return std::nullopt;
        }
        fields.push_back(std::move(*text));
    }
    return fields;
}

std::expected<PublishRecord, std::string> PublishRecord::Load(std::filesystem::path file,
                                                              std::string site,
                                                              std::string remoteFolder) {
    PublishRecord record;
    record.m_file = std::move(file);
    record.m_site = std::move(site);
    record.m_remote = std::move(remoteFolder);
    std::ifstream in(record.m_file, std::ios::binary);
    if (!in) {
        std::error_code error;
        if (std::filesystem::exists(record.m_file, error) || error) {
            return std::unexpected("Cannot read the publish record " + record.m_file.native());
        }
        return record;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return std::unexpected("Cannot read the publish record " + record.m_file.native());
    }
    const std::string text = std::move(content).str();
    record.m_exists = true;
    record.m_torn = !text.empty() && text.back() != '\n';
    std::string_view rest = text;
    bool first = true;
    // Only complete lines count: the last one may have been cut by a kill.
    for (auto end = rest.find('\n'); end != std::string_view::npos; end = rest.find('\n')) {
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const auto fields = splitTabs(line);
        if (first) {
            if (line != kMagic) {
                return std::unexpected(record.m_file.native() + " is not a publish record");
            }
            first = false;
            continue;
        }
        if (fields[0] == "site" || fields[0] == "remote") {
            const auto value = fields.size() == 2 ? UnescapeRecordField(fields[1]) : std::nullopt;
            const std::string& expected = fields[0] == "site" ? record.m_site : record.m_remote;
            if (value && *value != expected) {
                return std::unexpected(record.m_file.native() + " belongs to another " +
                                       std::string(fields[0]));
            }
        } else if (fields[0] == "F" && fields.size() == 5 && isHash(fields[1])) {
            std::int64_t size = -1;
            const auto [end2, error] =
                std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), size);
            auto local = UnescapeRecordField(fields[3]);
            auto path = UnescapeRecordField(fields[4]);
            if (error == std::errc{} && end2 == fields[2].data() + fields[2].size() && size >= 0 &&
                local && path && !path->empty()) {
                record.m_files[*path] =
                    PublishedFile{*path, std::string(fields[1]), size, std::move(*local)};
            }
        } else if (fields[0] == "D" && fields.size() == 2) {
            if (const auto path = UnescapeRecordField(fields[1])) {
                record.m_files.erase(*path);
            }
        }
    }
    if (first && !text.empty()) {
        return std::unexpected(record.m_file.native() + " is not a publish record");
    }
    return record;
}

PublishRecord::~PublishRecord() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

PublishRecord::PublishRecord(PublishRecord&& other) noexcept
    : m_file(std::move(other.m_file)),
      m_site(std::move(other.m_site)),
      m_remote(std::move(other.m_remote)),
      m_files(std::move(other.m_files)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_torn(other.m_torn),
      m_exists(other.m_exists) {
}

PublishRecord& PublishRecord::operator=(PublishRecord&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_file = std::move(other.m_file);
        m_site = std::move(other.m_site);
        m_remote = std::move(other.m_remote);
        m_files = std::move(other.m_files);
        m_fd = std::exchange(other.m_fd, -1);
        m_torn = other.m_torn;
        m_exists = other.m_exists;
    }
    return *this;
}

const PublishedFile* PublishRecord::find(std::string_view path) const {
    const auto found = m_files.find(path);
    return found == m_files.end() ? nullptr : &found->second;
}

std::string PublishRecord::header() const {
    return std::string(kMagic) + "\nsite\t" + EscapeRecordField(m_site) + "\nremote\t" +
           EscapeRecordField(m_remote) + '\n';
}

std::expected<void, std::string> PublishRecord::append(const std::string& line) {
    if (m_fd < 0) {
        std::error_code error;
        std::filesystem::create_directories(m_file.parent_path(), error);
        m_fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            return std::unexpected("Cannot write the publish record " + m_file.native() + ": " +
                                   std::strerror(errno));
        }
    }
    std::string bytes;
    if (!m_exists) {
        bytes = header();
    } else if (m_torn) {
        bytes = "\n";
    }
    bytes += line;
    for (std::string_view rest = bytes; !rest.empty();) {
        const ssize_t n = ::write(m_fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::unexpected("Cannot write the publish record " + m_file.native() + ": " +
                                   std::strerror(errno));
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    m_exists = true;
    m_torn = false;
    return {};
}

std::expected<void, std::string> PublishRecord::Put(const PublishedFile& file) {
    m_files[file.path] = file;
    return append(fileLine(file));
}

std::expected<void, std::string> PublishRecord::Forget(std::string_view path) {
    if (m_files.erase(std::string(path)) == 0) {
        return {};
    }
    return append("D\t" + EscapeRecordField(path) + '\n');
}

std::expected<void, std::string> PublishRecord::Compact() {
    std::string text = header();
    for (const auto& [path, file] : m_files) {
        text += fileLine(file);
    }
    std::error_code error;
    std::filesystem::create_directories(m_file.parent_path(), error);
    if (auto written = WriteFileReplacing(m_file, text, 0600); !written) {
        return written;
    }
    // Further lines go to the new file.
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_exists = true;
    m_torn = false;
    return {};
}

}  // namespace quill
