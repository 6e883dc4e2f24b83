// Times the local pane on a folder of many files: reading the folder,
// measuring every file, and the whole refresh that fills the file list.
// Usage: bench_local_listing [file count, default 20000]
#include "localpane/LocalListing.h"
#include "localpane/LocalPane.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;

    std::string pattern = (fs::temp_directory_path() / "quillmint-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    for (int i = 0; i < count; ++i) {
        const std::string name = (folder / ("article " + std::to_string(i) + ".html")).string();
        const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || ::write(fd, "<p>x</p>", 8) != 8) {
            std::perror("create");
            return 1;
        }
        ::close(fd);
    }

    QElapsedTimer timer;
    timer.start();
    const quill::LocalFolderContents contents = quill::ReadLocalFolder(folder);
    const double readMs = Milliseconds(timer);
    timer.restart();
    const auto entries = quill::MeasureLocalFiles(folder, contents.files);
    const double measureMs = Milliseconds(timer);

    quill::QtDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::QtShell shell;
    quill::AppContext context{fs::temp_directory_path(), dialogs, clipboard, shell};
    quill::LocalPane pane(context);
    pane.resize(600, 800);
    pane.show();
    QApplication::processEvents();

    timer.restart();
    pane.setFolder(folder);
    const double firstMs = Milliseconds(timer);
    QApplication::processEvents();
    const double paintedMs = Milliseconds(timer);
    timer.restart();
    pane.RefreshLocalList();
    const double refreshMs = Milliseconds(timer);
    timer.restart();
    pane.ListView1_ColumnClick(1);
    const double sortMs = Milliseconds(timer);

    const auto* view = pane.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    std::printf("files                      %d (listed %d, measured %zu)\n", count,
                view ? view->topLevelItemCount() : -1, entries.size());
    std::printf("read folder                %8.1f ms\n", readMs);
    std::printf("measure files              %8.1f ms\n", measureMs);
    std::printf("open folder, fill the list %8.1f ms (%.1f ms with the first paint)\n", firstMs,
                paintedMs);
    std::printf("refresh                    %8.1f ms\n", refreshMs);
    std::printf("sort by size text          %8.1f ms\n", sortMs);

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
