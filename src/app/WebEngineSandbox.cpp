#include "WebEngineSandbox.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace quill {

bool DisableWebEngineSandboxForRoot(uid_t effectiveUser, std::FILE* err) {
    if (effectiveUser != 0) {
        return false;
    }
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
    // Qt WebEngine turns the sandbox off when this variable is set at all.
    if (flags.split(' ').contains("--no-sandbox") ||
        qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        return false;
    }
    // Both ways, so it holds whichever one this Qt version reads.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    flags.append(flags.isEmpty() ? "--no-sandbox" : " --no-sandbox");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    std::fputs(
        "Quillmint: running as root, so the web view's sandbox is turned off for this process.\n",
        err);
    return true;
}

}  // namespace quill
