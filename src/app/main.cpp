#include "app/WebEngineSandbox.h"
#include "common/ProgramFolder.h"
#include "extractor/AppShell.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    quill::DisableWebEngineSandboxForRoot();
    // The web view shares GL contexts with the widgets; must precede QApplication.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmint"));
    QApplication::setOrganizationName(QStringLiteral("Brindlecast"));
    // Hidden windows (the harvester after Next) must not keep the program
    // running once the last visible window is closed.
    QApplication::setQuitOnLastWindowClosed(true);

    quill::QtDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::QtShell desktop;
    quill::AppContext context{quill::ResolveProgramFolder(), dialogs, clipboard, desktop};
    quill::EnsureProgramSubfolders(context.programFolder);

    quill::AppShell windows(context);
    windows.start();
    return QApplication::exec();
}
