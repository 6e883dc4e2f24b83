#include "CommandLine.h"
#include "app/AppShell.h"
#include "app/WebEngineSandbox.h"
#include "common/BuildInfo.h"
#include "common/ProgramFolder.h"
#include "common/TextCodec.h"
#include "ftp/SitePasswords.h"
#include "platform/AppContext.h"
#include "platform/AppIcon.h"
#include "platform/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication::setApplicationName(QStringLiteral("Quillmint"));
    QApplication::setOrganizationName(QStringLiteral("Brindlecast"));
    QApplication::setApplicationVersion(quill::Qs(quill::app::kVersion));
    if (const auto status = quill::AnswerCommandLine(argc, argv)) {
        return *status;
    }

    quill::DisableWebEngineSandboxForRoot();
    // The web view shares GL contexts with the widgets; must precede QApplication.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    // Every window and the task bar show the menu entry's icon.
    QApplication::setWindowIcon(quill::AppIcon());
    QGuiApplication::setDesktopFileName(quill::Qs(quill::app::kDesktopId));
    // Hidden windows (the harvester after Next) must not keep the program
    // running once the last visible window is closed.
    QApplication::setQuitOnLastWindowClosed(true);

    quill::QtDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::QtShell desktop;
    quill::KeyringPasswordStore keyring(quill::Qs(quill::app::kKeyringService));
    quill::AppContext context{quill::ResolveProgramFolder(), dialogs, clipboard, desktop};
    context.passwords = &keyring;
    quill::EnsureProgramSubfolders(context.programFolder);

    quill::AppShell windows(context);
    windows.start();
    return QApplication::exec();
}
