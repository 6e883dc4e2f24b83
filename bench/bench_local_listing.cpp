// Times the local pane on a folder of many files, from the request until the
// list holds every file, for a first open and for a refresh, next to
// `find -printf '%s %T@'` and `ls -l` on the same folder.
// Usage: bench_local_listing [file count ...] (default 20000 100000).
#include "localpane/LocalPane.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;

double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Best time of a shell command, its output thrown away.
double CommandMs(const std::string& command) {
    double best = 1e12;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (std::system((command + " >/dev/null").c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
        }
        best = std::min(best, Milliseconds(timer));
    }
    return best;
}

struct Shown {
    double ms = 0;
    double longestStall = 0;  // the longest time the window did not answer
};

// Runs action, then the event loop until the pane shows count files.
template <typename Action>
Shown TimeShown(quill::LocalPane& pane, const QAbstractItemView& view, int count, Action action) {
    QElapsedTimer timer;
    timer.start();
    action();
    Shown shown;
    shown.longestStall = Milliseconds(timer);
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        shown.longestStall = std::max(shown.longestStall, Milliseconds(sinceTick));
        sinceTick.restart();
        if (!pane.measuring() && view.model()->rowCount() == count) {
            loop.quit();
        }
    });
    if (pane.measuring() || view.model()->rowCount() != count) {
        tick.start(1);
        loop.exec();
    }
    shown.ms = Milliseconds(timer);
    return shown;
}

void Bench(quill::LocalPane& pane, int count) {
    std::string pattern = (fs::temp_directory_path() / "quillmint-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    const fs::path folder = pattern;
    for (int i = 0; i < count; ++i) {
        const std::string name = (folder / ("article " + std::to_string(i) + ".html")).string();
        const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || ::write(fd, "<p>x</p>", 8) != 8) {
            std::perror("create");
            std::exit(1);
        }
        ::close(fd);
    }
    const auto* view = pane.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    const double findMs = CommandMs("find '" + folder.string() + "' -printf '%s %T@\\n'");
    const double lsMs = CommandMs("ls -l '" + folder.string() + "'");
    Shown first{1e12, 0};
    Shown refresh{1e12, 0};
    for (int run = 0; run < kRuns; ++run) {
        pane.setFolder(fs::temp_directory_path());
        const Shown opened = TimeShown(pane, *view, count, [&] { pane.setFolder(folder); });
        const Shown again = TimeShown(pane, *view, count, [&] { pane.RefreshLocalList(); });
        first = opened.ms < first.ms ? opened : first;
        refresh = again.ms < refresh.ms ? again : refresh;
    }
    std::printf(
        "%d files: find -printf %.0f ms, ls -l %.0f ms; Quillmint first open %.0f ms "
        "(window stalled at most %.0f ms), refresh %.0f ms (at most %.0f ms)\n",
        count, findMs, lsMs, first.ms, first.longestStall, refresh.ms, refresh.longestStall);
    std::error_code ec;
    fs::remove_all(folder, ec);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    quill::QtDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::QtShell shell;
    quill::AppContext context{fs::temp_directory_path(), dialogs, clipboard, shell};
    quill::LocalPane pane(context);
    pane.resize(600, 800);
    pane.show();
    QApplication::processEvents();
    if (argc < 2) {
        for (const int count : {20000, 100000}) {
            Bench(pane, count);
        }
    }
    for (int i = 1; i < argc; ++i) {
        Bench(pane, std::atoi(argv[i]));
    }
    return 0;
}
