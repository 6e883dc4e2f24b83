#pragma once

#include "common/TextOps.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// Texts of the local file operations, character for character.
namespace localtext {
inline constexpr std::string_view kNewFolderPrompt = "Type a name of the new folder here";
inline constexpr std::string_view kNewFolderTitle = "New Folder creation";
inline constexpr std::string_view kNewFolderFailed =
    "an error apeared while creating new folder\r\nMake sure folder doesn't exist!";
inline constexpr std::string_view kRootFolder = "This is the root folder that can't be removed!";
inline constexpr std::string_view kProgramFolder =
    "This is the program folder that can't be removed!";
inline constexpr std::string_view kNothingToDelete = "Nothing to Delete";
inline constexpr std::string_view kDeleteQuestion =
    "Are you sure to delete these files?\r\nif you are, don't look for them in recycle!";
inline constexpr std::string_view kNothingToRename = "nothing to rename!";
inline constexpr std::string_view kRenameCollision =
    "More than one file with the same name in one folder? no way!";
inline constexpr std::string_view kNothingToOpen = "Nothing to open!";
// Our own texts, for failures that would otherwise pass unreported.
inline constexpr std::string_view kBadName =
    "A name can't contain \"/\" and can't be \".\" or \"..\"!";
inline constexpr std::string_view kFolderNotEmpty =
    "The folder still holds files or folders; nothing was removed.";
}  // namespace localtext

// The outcome of an operation: ok, or the text to show with the exclamation
// icon. A failure with an empty message is one the user asked for (a
// cancelled input) and shows nothing.
struct LocalOpResult {
    bool ok = false;
    QString message;
};

// Creates localPath + name. An empty name does nothing and reports nothing.
LocalOpResult CreateLocalFolder(const std::string& localPath, const std::string& name);

// Why the folder may not be removed (a root, a mount point, the program
// folder or its "/Logon"), or nullopt when it may.
std::optional<QString> FolderRemovalRefusal(const std::filesystem::path& folder,
                                            const std::filesystem::path& programFolder);
QString RemoveFolderQuestion(const std::filesystem::path& folder);
// Removes an empty folder only; a folder that still holds anything is left
// as it is and reported.
LocalOpResult RemoveLocalFolder(const std::filesystem::path& folder);

// Deletes localPath + name for each name, permanently. Folders and names that
// would leave localPath are not touched; every failure is listed in the message.
LocalOpResult DeleteLocalFiles(const std::string& localPath, const std::vector<std::string>& names);

// The question to ask when a rename changes the extension, or nullopt.
std::optional<QString> ExtensionChangeQuestion(std::string_view oldName, std::string_view newName);
// Renames localPath + oldName to localPath + newName without ever replacing
// an existing entry.
LocalOpResult RenameLocalFile(const std::string& localPath, const std::string& oldName,
                              const std::string& newName);

}  // namespace quill
