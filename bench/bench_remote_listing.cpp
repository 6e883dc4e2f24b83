// Time to show a remote folder in the FTP client, next to the time curl alone
// takes to LIST it over an already open connection, from a local pyftpdlib
// server. Usage: bench_remote_listing [entries] (default 20000). Build in
// Release; run with QT_QPA_PLATFORM=offscreen.
#include "ftp/RemoteListing.h"
#include "ftp/frmmain.h"
#include "net/FtpConnection.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"
#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Best of this many: a listing over a reused connection now and then waits a
// second for its data connection (curl alone shows it too).
constexpr int kRuns = 7;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

size_t countBytes(char*, size_t size, size_t count, void* user) {
    *static_cast<std::size_t*>(user) += size * count;
    return size * count;
}

// curl by itself: the same command on one handle that stays logged in.
double curlListMs(int port, const char* command) {
    CURL* curl = curl_easy_init();
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/";
    std::size_t bytes = 0;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERPWD, "user:secret");
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, command);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &countBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes);
    curl_easy_perform(curl);  // opens the connection
    double best = 1e12;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        curl_easy_perform(curl);
        best = std::min(best, msSince(start));
    }
    curl_easy_cleanup(curl);
    return best;
}

// Runs the event loop until the listing is shown; gives the longest gap
// between two ticks of a 2 ms timer, the longest time the window did not
// answer.
double waitShown(const quill::frmmain& window, const QTreeWidget& list, int files) {
    QEventLoop loop;
    QTimer tick;
    double longest = 0;
    auto last = Clock::now();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        longest = std::max(longest, msSince(last));
        last = Clock::now();
        if (!window.busy() && list.topLevelItemCount() >= files) {
            loop.quit();
        }
    });
    tick.start(2);
    loop.exec();
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    quill::test::TempDir root;
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file %06d.htm", i);
        quill::test::WriteBytes(root / name, "x");
    }
    for (const bool mlsd : {true, false}) {
        quill::test::FtpServerOptions options;
        options.noMlst = !mlsd;
        quill::test::FtpServer server(root.path(), options);
        const double curlMs = curlListMs(server.port(), mlsd ? "MLSD" : "LIST");
        {
            // The program's own reading, without a window: transfer + parse, then rows.
            auto session = quill::NetworkLibrary::Open("bench");
            quill::FtpConnectParams params;
            params.host = "127.0.0.1";
            params.port = static_cast<std::uint16_t>(server.port());
            params.user = "user";
            params.password = "secret";
            auto connection = quill::FtpConnection::Connect(*session, params);
            double readMs = 1e12, rowsMs = 1e12;
            for (int run = 0; connection && run < kRuns; ++run) {
                auto start = Clock::now();
                auto listing = (*connection)->ListFolder("/*.*");
                readMs = std::min(readMs, msSince(start));
                start = Clock::now();
                const auto rows = quill::BuildRemoteListing(listing->entries, "/");
                rowsMs = std::min(rowsMs, msSince(start));
            }
            std::printf("%s: read and parse %.1f ms, rows %.1f ms\n", mlsd ? "MLSD" : "LIST",
                        readMs, rowsMs);
        }

        quill::test::FakeDialogs dialogs;
        quill::QtClipboard clipboard;
        quill::test::FakeShell shell;
        quill::AppContext context{root.path(), dialogs, clipboard, shell};
        quill::frmmain window(context);
        window.show();
        window.findChild<QLineEdit*>(QStringLiteral("txtserver"))
            ->setText(QStringLiteral("127.0.0.1"));
        window.findChild<QLineEdit*>(QStringLiteral("txtport"))
            ->setText(QString::number(server.port()));
        window.findChild<QLineEdit*>(QStringLiteral("txtuser"))->setText(QStringLiteral("user"));
        window.findChild<QLineEdit*>(QStringLiteral("txtpass"))->setText(QStringLiteral("secret"));
        auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("TView1"));
        auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView2"));
        window.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
        waitShown(window, *list, files);
        double best = 1e12;
        double longestStall = 0;
        for (int run = 0; run < kRuns; ++run) {
            tree->setCurrentItem(tree->topLevelItem(0));
            const auto start = Clock::now();
            window.OpenFolder();
            longestStall = std::max(longestStall, waitShown(window, *list, files));
            best = std::min(best, msSince(start));
        }
        std::printf(
            "%s, %d entries: curl %.1f ms, shown in the window %.1f ms (%.2fx), "
            "longest time the window did not answer %.1f ms\n",
            mlsd ? "MLSD" : "LIST", files, curlMs, best, best / curlMs, longestStall);
    }
    return 0;
}
