#include "LocalListing.h"

#include "FileTypes.h"
#include "common/NumberPicture.h"
#include "common/TextOps.h"

#include <QDateTime>
#include <QLocale>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace quill {
namespace fs = std::filesystem;

namespace {

constexpr qsizetype kLabelTail = 30;

}  // namespace

fs::path FolderListPath(const fs::path& folder) {
    std::error_code ec;
    fs::path absolute = folder.is_absolute() ? folder : fs::absolute(folder, ec);
    if (ec) {
        absolute = fs::path("/") / folder;
    }
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text.empty() ? fs::path("/") : fs::path(text);
}

std::string LocalPathOf(const fs::path& folder) {
    std::string text = FolderListPath(folder).string();
    if (text.empty() || text.back() != '/') {
        text.push_back('/');
    }
    return text;
}

QString DisplayName(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString LocalPathLabel(std::string_view localPath) {
    const QString text = DisplayName(localPath);
    if (text.size() <= kLabelTail) {
        return text;
    }
    QString tail = text.right(kLabelTail).trimmed();
    // Never show half of a character that needs two UTF-16 units.
    if (!tail.isEmpty() && tail.front().isLowSurrogate()) {
        tail.remove(0, 1);
    }
    return QStringLiteral("...") + tail;
}

QString LocalSizeText(std::uintmax_t bytes) {
    const std::string number =
        FormatNumberPicture(static_cast<double>(bytes) / 1000.0, "### ### ###.##");
    return DisplayName(number) + QStringLiteral(" Kb");
}

LocalDateFormatter::LocalDateFormatter()
    : m_format(QLocale::system().dateTimeFormat(QLocale::ShortFormat)) {
}

QString LocalDateFormatter::operator()(std::int64_t msSinceEpoch) const {
    return m_locale.toString(QDateTime::fromMSecsSinceEpoch(msSinceEpoch), m_format);
}

namespace {

void SetMeasures(FileListRow& row, const struct stat& info) {
    row.bytes = static_cast<std::int64_t>(info.st_size);
    row.time = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 +
               static_cast<std::int64_t>(info.st_mtim.tv_nsec / 1'000'000);
}

}  // namespace

LocalFolderContents ReadLocalFolder(const fs::path& folder, std::size_t maxEntries) {
    LocalFolderContents contents;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return contents;
    }
    contents.readable = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.') {
            continue;
        }
        if (contents.folders.size() + contents.files.size() >= maxEntries) {
            contents.complete = false;
            break;
        }
        FileListRow row;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // Followed, as the list shows what a link leads to.
            struct stat info {};
            if (::fstatat(fd, entry->d_name, &info, 0) != 0) {
                continue;
            }
            if (S_ISDIR(info.st_mode)) {
                contents.folders.emplace_back(name);
                continue;
            }
            if (!S_ISREG(info.st_mode)) {
                continue;
            }
            SetMeasures(row, info);
        } else if (entry->d_type == DT_DIR) {
            contents.folders.emplace_back(name);
            continue;
        } else if (entry->d_type != DT_REG) {
            continue;
        }
        row.name = std::string(name);
        row.type = FileTypeIndex(name);
        contents.files.push_back(std::move(row));
    }
    ::closedir(dir);
    std::sort(contents.folders.begin(), contents.folders.end(),
              [](const std::string& a, const std::string& b) { return FileNameLess(a, b); });
    std::sort(
        contents.files.begin(), contents.files.end(),
        [](const FileListRow& a, const FileListRow& b) { return FileNameLess(a.name, b.name); });
    return contents;
}

void MeasureLocalFiles(const fs::path& folder, std::vector<FileListRow>& files,
                       const std::function<bool()>& stopped) {
    // Names are looked up in the open folder: the path is walked once.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::size_t done = 0;
    for (FileListRow& row : files) {
        if (stopped && ++done % 1024 == 0 && stopped()) {
            break;
        }
        if (row.bytes != FileListRow::kUnknown) {
            continue;
        }
        struct stat info {};
        if (::fstatat(fd, row.name.c_str(), &info, 0) == 0 && !S_ISDIR(info.st_mode)) {
            SetMeasures(row, info);
        }
    }
    ::close(fd);
}

}  // namespace quill
