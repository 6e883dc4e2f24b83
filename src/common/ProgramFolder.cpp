#include "ProgramFolder.h"

#include <cstdlib>

#include "common/BuildInfo.h"

#include <QStandardPaths>

#include <unistd.h>
#include <system_error>

namespace quill {

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : executable.parent_path();
}

std::filesystem::path ChooseProgramFolder(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& dataFolder) {
    if (executableFolder.empty() || ::access(executableFolder.c_str(), W_OK) != 0) {
        return dataFolder;
    }
    // Root may write to /usr/bin, but an installed program must not fill it.
    const auto menuEntry = executableFolder.parent_path() / "share/applications" /
                           (std::string(app::kDesktopId) + ".desktop");
    std::error_code ec;
    if (executableFolder.filename() == "bin" && std::filesystem::exists(menuEntry, ec)) {
        return dataFolder;
    }
    return executableFolder;
}

std::filesystem::path UserDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
}

std::optional<std::filesystem::path> ProgramFolderFromEnvironment() {
    const char* forced = std::getenv("QUILLMINT_PROGRAM_FOLDER");
    if (forced == nullptr || *forced == '\0') {
        return std::nullopt;
    }
    std::error_code ec;
    return std::filesystem::absolute(forced, ec);
}

std::filesystem::path ResolveProgramFolder() {
    if (auto forced = ProgramFolderFromEnvironment()) {
        std::error_code ec;
        std::filesystem::create_directories(*forced, ec);
        return *forced;
    }
    const auto data = UserDataFolder();
    auto folder = ChooseProgramFolder(ExecutableFolder(), data);
    if (folder == data) {
        std::error_code ec;
        std::filesystem::create_directories(data, ec);
    }
    return folder;
}

bool EnsureProgramSubfolders(const std::filesystem::path& programFolder) {
    bool ok = true;
    for (const char* sub : {"folders", "articles"}) {
        std::error_code ec;
        std::filesystem::create_directories(programFolder / sub, ec);
        ok = ok && !ec;
    }
    return ok;
}

std::filesystem::path ProgramFile(const std::filesystem::path& programFolder,
                                  std::string_view name) {
    std::string joined = programFolder.native();
    while (!joined.empty() && joined.back() == '/' && !name.empty() && name.front() == '/') {
        joined.pop_back();
    }
    joined.append(name);
    return joined;
}

}  // namespace quill
