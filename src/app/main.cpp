#include "common/ProgramFolder.h"
#include "extractor/Form1.h"
#include "ftp/frmmain.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"

#include <QApplication>
#include <QPointer>

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

    // "FTP Upload" opens the FTP client while Form1 stays loaded; the client
    // brings Form1 back when it closes or on "About".
    QPointer<quill::Form1> extractor(form1);
    QPointer<quill::frmmain> ftpClient;
    QObject::connect(form1, &quill::Form1::ftpUploadRequested, form1, [&] {
        if (!ftpClient) {
            ftpClient = new quill::frmmain(context);
            ftpClient->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(ftpClient, &quill::frmmain::showForm1Requested, ftpClient, [&] {
                if (extractor) {
                    extractor->show();
                    extractor->raise();
                }
            });
        }
        ftpClient->show();
        ftpClient->raise();
    });
    return QApplication::exec();
}
