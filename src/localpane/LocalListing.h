#pragma once

#include "common/FileListRow.h"

#include <QLocale>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// Writes file times (milliseconds since the epoch) in the system's short
// date-and-time format; the format is looked up once.
class LocalDateFormatter {
public:
    LocalDateFormatter();
    QString operator()(std::int64_t msSinceEpoch) const;

private:
    QLocale m_locale;
    QString m_format;
};

// What a folder holds, names in bytes, read in one pass. Names starting with
// a dot are hidden and left out; only folders and regular files (or links to
// them) count. Files come with name and type; a file reached through a link
// is measured already, the others are left to MeasureLocalFiles.
struct LocalFolderContents {
    bool readable = false;
    // False when the read stopped at maxEntries: the lists hold only part.
    bool complete = true;
    std::vector<std::string> folders;
    std::vector<FileListRow> files;
};

// Both lists sorted by name, ignoring ASCII case; a read that finds more
// than maxEntries folders and files stops there, incomplete. An unreadable or missing
// folder gives readable == false and empty lists.
LocalFolderContents ReadLocalFolder(const std::filesystem::path& folder,
                                    std::size_t maxEntries = SIZE_MAX);

// Gives every file not measured yet its size and time, one stat each in the
// open folder. A file that vanished or cannot be measured keeps unknown
// values. Ends early, leaving the rest unmeasured, once stopped() says so.
void MeasureLocalFiles(const std::filesystem::path& folder, std::vector<FileListRow>& files,
                       const std::function<bool()>& stopped = {});

}  // namespace quill
