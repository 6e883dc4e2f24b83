#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace quill {

// The folder of the running executable.
std::filesystem::path ExecutableFolder();

// Where the program keeps its files: the executable's folder when it is
// writable and is not an installed copy (a bin folder whose prefix holds the
// program's menu entry), otherwise dataFolder.
std::filesystem::path ChooseProgramFolder(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& dataFolder);

// The per-user data folder (QStandardPaths::AppDataLocation); needs the
// application and organisation names set, not an application object.
std::filesystem::path UserDataFolder();

// The folder QUILLMINT_PROGRAM_FOLDER names (made absolute), if it is set:
// it overrides the choice below, for scripts and portable setups.
std::optional<std::filesystem::path> ProgramFolderFromEnvironment();

// ChooseProgramFolder for the running program; creates the data folder when
// that is the one chosen.
std::filesystem::path ResolveProgramFolder();

// Creates "folders" and "articles" below the program folder when missing.
// Returns false when either could not be created.
bool EnsureProgramSubfolders(const std::filesystem::path& programFolder);

// Program folder + name, by plain concatenation ("/tempo.htm", "/folders/3").
std::filesystem::path ProgramFile(const std::filesystem::path& programFolder,
                                  std::string_view name);

}  // namespace quill
