#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <unistd.h>
#include <system_error>

namespace quill {

std::filesystem::path ResolveProgramFolder() {
    const std::filesystem::path exeDir = QCoreApplication::applicationDirPath().toStdString();
    if (!exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0) {
        return exeDir;
    }
    std::filesystem::path data =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    std::error_code ec;
    std::filesystem::create_directories(data, ec);
    return data;
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
