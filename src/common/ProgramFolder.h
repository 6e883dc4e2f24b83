#pragma once

#include <filesystem>

namespace quill {

// The folder of the running executable when it is writable, otherwise the
// per-user data folder. Needs a QCoreApplication.
std::filesystem::path ResolveProgramFolder();

// Creates "folders" and "articles" below the program folder when missing.
// Returns false when either could not be created.
bool EnsureProgramSubfolders(const std::filesystem::path& programFolder);

// Program folder + name, by plain concatenation ("/tempo.htm", "/folders/3").
std::filesystem::path ProgramFile(const std::filesystem::path& programFolder,
                                  std::string_view name);

}  // namespace quill
