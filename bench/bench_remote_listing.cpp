// Time to list a remote folder of 20,000 files from a local pyftpdlib server
// and fill the FTP client's file list with it. Build in Release for real
// figures; run with QT_QPA_PLATFORM=offscreen.
#include "ftp/RemoteListing.h"
#include "ftp/frmmain.h"
#include "platform/AppContext.h"
#include "platform/FtpConnection.h"
#include "platform/QtDialogs.h"
#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>

namespace {

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    constexpr int kFiles = 20000;
    quill::test::TempDir root;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file %05d.htm", i);
        quill::test::WriteBytes(root / name, "x");
    }
    quill::test::FtpServer server(root.path());

    auto session = quill::FtpInternetSession::Open("bench");
    quill::FtpConnectParams params;
    params.host = "127.0.0.1";
    params.port = static_cast<std::uint16_t>(server.port());
    params.user = server.options().user;
    params.password = server.options().password;
    auto connection = quill::FtpConnection::Connect(*session, params);
    if (!connection) {
        std::fprintf(stderr, "connect failed: %s\n", connection.error().text.c_str());
        return 1;
    }
    for (int run = 0; run < 3; ++run) {
        auto start = std::chrono::steady_clock::now();
        auto list = (*connection)->FindFiles("/*.*");
        const double listMs = msSince(start);
        start = std::chrono::steady_clock::now();
        const auto rows = quill::BuildRemoteListing(*list, "/");
        std::printf("run %d: LIST + parse %zu entries %.1f ms, rows %zu in %.1f ms\n", run,
                    list->size(), listMs, rows.files.size(), msSince(start));
    }

    quill::test::FakeDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::test::FakeShell shell;
    quill::AppContext context{root.path(), dialogs, clipboard, shell};
    quill::frmmain window(context);
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("txtserver"))->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QLineEdit*>(QStringLiteral("txtport"))
        ->setText(QString::number(server.port()));
    window.findChild<QLineEdit*>(QStringLiteral("txtuser"))->setText(QStringLiteral("user"));
    window.findChild<QLineEdit*>(QStringLiteral("txtpass"))->setText(QStringLiteral("secret"));
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("TView1"));
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView2"));
    auto start = std::chrono::steady_clock::now();
    window.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    std::printf("connect + first listing into the window: %.1f ms, %d items\n", msSince(start),
                list->topLevelItemCount());
    for (int run = 0; run < 3; ++run) {
        tree->setCurrentItem(tree->topLevelItem(0));
        start = std::chrono::steady_clock::now();
        window.OpenFolder();
        QApplication::processEvents();
        std::printf("open folder, list and fill the view: %.1f ms, %d items\n", msSince(start),
                    list->topLevelItemCount());
    }
    window.Sort(0);
    start = std::chrono::steady_clock::now();
    window.Sort(1);
    std::printf("sort 20,000 items by size text: %.1f ms\n", msSince(start));
    return 0;
}
