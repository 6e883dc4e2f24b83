#include "LocalFileOps.h"

#include "FileTypes.h"
#include "LocalListing.h"
#include "common/TextCodec.h"

#include <QStorageInfo>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {
namespace fs = std::filesystem;

namespace {

QString Quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString ErrorText(int error) {
    return Qs(std::error_code(error, std::generic_category()).message());
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

LocalOpResult CreateLocalFolder(const std::string& localPath, const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (!IsPlainName(name)) {
        return {false, Qs(localtext::kBadName)};
    }
    const std::string path = localPath + name;
    if (::mkdir(path.c_str(), 0777) == 0) {
        return {true, {}};
    }
    const int error = errno;
    switch (error) {
        case EEXIST:
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOENT:
        case ENOTDIR:
            return {false, Qs(localtext::kNewFolderFailed)};
        default:
            // Other failures are reported too, with the system's reason.
            return {false, Qs("an error apeared while creating new folder\r\n") + ErrorText(error)};
    }
}

std::optional<QString> FolderRemovalRefusal(const fs::path& folder, const fs::path& programFolder) {
    const std::string path = FolderListPath(folder).string();
    if (path.empty() || path.back() == '/') {
        return Qs(localtext::kRootFolder);
    }
    // A mount point is the root of its volume, the drive root of this platform.
    const QStorageInfo volume(DisplayName(path));
    if (volume.isValid() && volume.rootPath() == DisplayName(path)) {
        return Qs(localtext::kRootFolder);
    }
    const fs::path program = FolderListPath(programFolder);
    const fs::path logon = program / "Logon";
    if (path == logon.string() || path == program.string()) {
        return Qs(localtext::kProgramFolder);
    }
    // The same folders reached by another spelling (a link, a bind mount).
    std::error_code ec;
    if (fs::equivalent(path, program, ec) || fs::equivalent(path, logon, ec)) {
        return Qs(localtext::kProgramFolder);
    }
    return std::nullopt;
}

QString RemoveFolderQuestion(const fs::path& folder) {
    const QString name = DisplayName(FolderListPath(folder).filename().string());
    return Qs("Are you sure to remove this folder: ") + Quoted(name) +
           Qs("? Make sure it contains no files!\r\nIf you are, don't look for it in recycle!");
}

LocalOpResult RemoveLocalFolder(const fs::path& folder) {
    const std::string path = FolderListPath(folder).string();
    // rmdir removes empty folders only and refuses a link to one.
    if (::rmdir(path.c_str()) == 0) {
        return {true, {}};
    }
    const int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) {
        return {false, Qs(localtext::kFolderNotEmpty)};
    }
    return {false, Qs("The folder ") + Quoted(DisplayName(path)) + Qs(" could not be removed: ") +
                       ErrorText(error)};
}

LocalOpResult DeleteLocalFiles(const std::string& localPath,
                               const std::vector<std::string>& names) {
    QStringList failures;
    for (const std::string& name : names) {
        if (!IsPlainName(name)) {
            failures << DisplayName(name) + Qs(": ") + Qs(localtext::kBadName);
            continue;
        }
        const std::string path = localPath + name;
        // unlink never removes a folder; a file already gone is no failure.
        if (::unlink(path.c_str()) != 0) {
            const int error = errno;
            if (error != ENOENT) {
                failures << DisplayName(name) + Qs(": ") + ErrorText(error);
            }
        }
    }
    if (failures.isEmpty()) {
        return {true, {}};
    }
    return {false, Qs("These files could not be deleted:\r\n") + failures.join(Qs("\r\n"))};
}

std::optional<QString> ExtensionChangeQuestion(std::string_view oldName, std::string_view newName) {
    const std::string oldExtension = ExtensionOf(oldName);
    const std::string newExtension = ExtensionOf(newName);
    if (oldExtension == newExtension) {
        return std::nullopt;
    }
    return Qs("Are you sure to exchange the file extension from: ") +
           Quoted(DisplayName(oldExtension)) + Qs(" to: ") + Quoted(DisplayName(newExtension));
}

LocalOpResult RenameLocalFile(const std::string& localPath, const std::string& oldName,
                              const std::string& newName) {
    if (newName.empty()) {
        return {};
    }
    if (!IsPlainName(newName) || !IsPlainName(oldName)) {
        return {false, Qs(localtext::kBadName)};
    }
    if (oldName == newName) {
        return {true, {}};
    }
    const std::string from = localPath + oldName;
    const std::string to = localPath + newName;
    int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        // The file system cannot rename without replacing: check, then rename.
        if (Exists(to)) {
            errno = EEXIST;
        } else {
            result = std::rename(from.c_str(), to.c_str());
        }
    }
    if (result == 0) {
        return {true, {}};
    }
    const int error = errno;
    if (error == EEXIST) {
        return {false, Qs(localtext::kRenameCollision)};
    }
    return {false, Qs("The file ") + Quoted(DisplayName(oldName)) + Qs(" could not be renamed: ") +
                       ErrorText(error)};
}

}  // namespace quill
