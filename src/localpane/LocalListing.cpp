#include "LocalListing.h"

#include "FileTypes.h"
#include "common/NumberPicture.h"
#include "common/TextOps.h"

#include <QDateTime>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace quill {
namespace fs = std::filesystem;

namespace {

constexpr qsizetype kLabelTail = 30;

// Case-insensitive for ASCII, bytes otherwise; equal names fall back to the
// exact bytes so the order is total.
bool NameLess(const std::string& a, const std::string& b) {
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return AsciiLower(x) == AsciiLower(y);
    });
    if (ia != a.end() && ib != b.end()) {
        return static_cast<unsigned char>(AsciiLower(*ia)) <
               static_cast<unsigned char>(AsciiLower(*ib));
    }
    if (ia == a.end() && ib == b.end()) {
        return a < b;
    }
    return ia == a.end();
}

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

QString LocalDateFormatter::operator()(fs::file_time_type time) const {
    const auto system = std::chrono::file_clock::to_sys(time);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(system.time_since_epoch()).count();
    return m_locale.toString(QDateTime::fromMSecsSinceEpoch(ms), m_format);
}

LocalFolderContents ReadLocalFolder(const fs::path& folder) {
    LocalFolderContents contents;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        return contents;
    }
    contents.readable = true;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.') {
            continue;
        }
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            contents.folders.push_back(std::move(name));
        } else if (it->is_regular_file(typeError)) {
            contents.files.push_back(std::move(name));
        }
    }
    std::sort(contents.folders.begin(), contents.folders.end(), NameLess);
    std::sort(contents.files.begin(), contents.files.end(), NameLess);
    return contents;
}

namespace {

// One stat of a name in an open folder, following a link as the list does.
LocalFileEntry measureIn(int folderFd, const fs::path& folder, const std::string& name,
                         const LocalDateFormatter& formatDate) {
    LocalFileEntry entry;
    entry.name = name;
    entry.type = FileTypeIndex(name);
    struct stat info {};
    const int found = folderFd >= 0 ? ::fstatat(folderFd, name.c_str(), &info, 0)
                                    : ::stat((folder / name).c_str(), &info);
    if (found != 0 || S_ISDIR(info.st_mode)) {
        return entry;
    }
    const auto bytes = static_cast<std::uintmax_t>(info.st_size);
    const auto since =
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    const auto time =
        std::chrono::file_clock::from_sys(std::chrono::sys_time<std::chrono::nanoseconds>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since)));
    entry.bytes = bytes;
    entry.sizeText = LocalSizeText(bytes);
    entry.dateText = formatDate(std::chrono::time_point_cast<fs::file_time_type::duration>(time));
    entry.bytesText = QString::number(bytes);
    return entry;
}

}  // namespace

LocalFileEntry MeasureLocalFile(const fs::path& folder, const std::string& name,
                                const LocalDateFormatter& formatDate) {
    return measureIn(-1, folder, name, formatDate);
}

std::vector<LocalFileEntry> MeasureLocalFiles(const fs::path& folder,
                                              const std::vector<std::string>& names) {
    const LocalDateFormatter formatDate;
    std::vector<LocalFileEntry> entries;
    entries.reserve(names.size());
    // Names are looked up in the open folder: the path is walked once.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : names) {
        entries.push_back(measureIn(folderFd, folder, name, formatDate));
    }
    if (folderFd >= 0) {
        ::close(folderFd);
    }
    return entries;
}

}  // namespace quill
