#pragma once

#include "Dialogs.h"
#include "PasswordStore.h"
#include "common/AppInfo.h"

#include <QDateTime>

#include <filesystem>
#include <functional>
#include <string>

namespace quill {

// What every window needs from outside: where the program keeps its files,
// the dialogs and desktop services, and the hosts it talks to (tests point
// them at 127.0.0.1).
struct AppContext {
    std::filesystem::path programFolder;
    Dialogs& dialogs;
    Clipboard& clipboard;
    Shell& shell;
    // The desktop keyring for site passwords; none: they stay in the profile files.
    PasswordStore* passwords = nullptr;
    std::string searchHost{app::kSearchHost};
    std::string answersHost{app::kAnswersHost};
    std::string stackExchangeApi{app::kStackExchangeApi};
    // The clock, so tests can fix the date shown in the About window and the logs.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

}  // namespace quill
