#pragma once

#include "common/FileListRow.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// A folder as the folder list holds it: absolute, normalised, without a
// trailing "/" except for the root "/".
std::filesystem::path FolderListPath(const std::filesystem::path& folder);

// The published local folder: the folder list's path followed by "/", so the
// root gives "/" and never "//".
std::string LocalPathOf(const std::filesystem::path& folder);

// Label1's text: the local path, or "..." and its last 30 characters when it
// is longer than 30.
QString LocalPathLabel(std::string_view localPath);

// A file name or path in bytes, as the user sees it.
QString DisplayName(std::string_view bytes);

// "1 234.57 Kb": bytes / 1000 written with the size picture.
QString LocalSizeText(std::uintmax_t bytes);

// Writes file times in the system's short date-and-time format; the format is
// looked up once, which matters for large folders.
class LocalDateFormatter {
public:
    LocalDateFormatter();
    QString operator()(std::filesystem::file_time_type time) const;

private:
    QLocale m_locale;
    QString m_format;
};

// What a folder holds, names in bytes. Names starting with a dot are hidden
// and left out; only folders and regular files (or links to them) count.
struct LocalFolderContents {
    bool readable = false;
    std::vector<std::string> folders;
    std::vector<std::string> files;
};

// Both lists sorted by name, ignoring ASCII case. An unreadable or missing
// folder gives readable == false and empty lists.
LocalFolderContents ReadLocalFolder(const std::filesystem::path& folder);

// One row of the local file list, and the size it was measured at.
struct LocalFileEntry : FileListRow {
    std::optional<std::uintmax_t> bytes;
};

// Measures one file. A file that vanished or cannot be measured since it was
// enumerated keeps empty size, date and byte texts.
LocalFileEntry MeasureLocalFile(const std::filesystem::path& folder, const std::string& name,
                                const LocalDateFormatter& formatDate);

std::vector<LocalFileEntry> MeasureLocalFiles(const std::filesystem::path& folder,
                                              const std::vector<std::string>& names);

}  // namespace quill
