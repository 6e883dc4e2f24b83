#include "common/ProgramFolder.h"
#include "extractor/Form1.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // The web view shares GL contexts with the widgets; must precede QApplication.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmint"));
    QApplication::setOrganizationName(QStringLiteral("Brindlecast"));

    quill::QtDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::QtShell shell;
    quill::AppContext context{quill::ResolveProgramFolder(), dialogs, clipboard, shell};
    quill::EnsureProgramSubfolders(context.programFolder);

    auto* form1 = new quill::Form1(context);
    form1->setAttribute(Qt::WA_DeleteOnClose);
    form1->show();
    return QApplication::exec();
}
