// Time to show a remote folder in the FTP client, next to the time curl alone
// takes to LIST it over an already open connection, both against one local
// vsftpd. Usage: bench_remote_listing [entries ...] (default 20000 200000).
// Build in Release; run with QT_QPA_PLATFORM=offscreen.
#include "ftp/frmmain.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"
#include "support/FakeDialogs.h"
#include "support/TestFiles.h"
#include "support/VsftpdServer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Best of this many, for both.
constexpr int kRuns = 5;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

size_t countBytes(char*, size_t size, size_t count, void* user) {
    *static_cast<std::size_t*>(user) += size * count;
    return size * count;
}

// curl by itself: LIST on one handle that stays logged in.
double curlListMs(int port) {
    CURL* curl = curl_easy_init();
    const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/";
    std::size_t bytes = 0;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERPWD, "anonymous:");
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "LIST");
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

// A line of /proc/self/status in KiB ("VmRSS:", "VmHWM:").
long statusKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(key)) {
            return std::atol(line.c_str() + key.size());
        }
    }
    return 0;
}

// Runs the event loop until the listing is shown; gives the longest gap
// between two ticks of a 2 ms timer, the longest time the window did not
// answer.
double waitShown(const quill::frmmain& window, const QAbstractItemView& list, int files) {
    QEventLoop loop;
    QTimer tick;
    double longest = 0;
    auto last = Clock::now();
    const auto begin = last;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        longest = std::max(longest, msSince(last));
        last = Clock::now();
        if (!window.busy() && list.model()->rowCount() >= files) {
            loop.quit();
        } else if (msSince(begin) > 120000) {
            std::fprintf(stderr, "gave up: %d rows shown, log:\n%s\n", list.model()->rowCount(),
                         qPrintable(window.findChild<QPlainTextEdit*>(QStringLiteral("txtInfo"))
                                        ->toPlainText()));
            longest = -1;
            loop.quit();
        }
    });
    tick.start(2);
    loop.exec();
    return longest;
}

void bench(int files) {
    quill::test::VsftpdServer server;
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file %06d.htm", i);
        std::ofstream(server.root() / name) << 'x';
    }
    const double curlMs = curlListMs(server.port());

    quill::test::FakeDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::test::FakeShell shell;
    quill::test::TempDir work;
    quill::AppContext context{work.path(), dialogs, clipboard, shell};
    auto window = std::make_unique<quill::frmmain>(context);
    window->show();
    window->findChild<QLineEdit*>(QStringLiteral("txtserver"))
        ->setText(QStringLiteral("127.0.0.1"));
    window->findChild<QLineEdit*>(QStringLiteral("txtport"))
        ->setText(QString::number(server.port()));
    window->findChild<QLineEdit*>(QStringLiteral("txtuser"))->setText(QStringLiteral("anonymous"));
    auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("TView1"));
    auto* list = window->findChild<QAbstractItemView*>(QStringLiteral("ListView2"));
    const long rssBefore = statusKiB("VmRSS:");
    window->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    if (waitShown(*window, *list, files) < 0) {
        return;
    }
    const long rssShown = statusKiB("VmRSS:");
    double best = 1e12;
    double longestStall = 0;
    for (int run = 0; run < kRuns; ++run) {
        // Not chrooted: the login folder is the server's own path to root().
        tree->setCurrentItem(
            tree->findItems(QStringLiteral("root"), Qt::MatchExactly | Qt::MatchRecursive).last());
        const auto start = Clock::now();
        window->OpenFolder();
        const double stall = waitShown(*window, *list, files);
        if (stall < 0) {
            return;
        }
        longestStall = std::max(longestStall, stall);
        best = std::min(best, msSince(start));
    }
    std::printf(
        "%d entries: curl LIST %.1f ms, shown in the window %.1f ms (%.2fx); "
        "longest time the window did not answer %.1f ms; memory %.0f bytes a row "
        "(resident %ld KiB before, %ld KiB shown, peak %ld KiB)\n",
        files, curlMs, best, best / curlMs, longestStall,
        1024.0 * static_cast<double>(rssShown - rssBefore) / files, rssBefore, rssShown,
        statusKiB("VmHWM:"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        for (const int files : {20000, 200000}) {
            bench(files);
        }
    }
    for (int i = 1; i < argc; ++i) {
        bench(std::atoi(argv[i]));
    }
    return 0;
}
