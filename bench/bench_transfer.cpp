// Upload and download of one file through the FTP client (frmmain, its
// transfer window and engine, offscreen), next to the curl command moving
// the same file to and from the same server over the same protocol, and the
// program's peak memory for a 16 MiB file and for the large one. FTP and
// FTPS go to a loopback vsftpd, SFTP to a loopback sshd (needs root).
//
// Usage: bench_transfer [--disk DIR] [--rounds N] [MiB] [ftp|ftps|sftp ...]
// (default 1024 MiB, 9 rounds, all three protocols).
// The local files live in memory (/dev/shm) unless --disk names a folder on
// a disk: then both downloads, curl's and the program's, write over an
// existing file of the same size, as a user's download into a folder does;
// the server's files stay in memory, as on another machine. Every timed
// transfer starts after sync(), so none pays for another's write-back.
// Needs vsftpd, curl, openssl and openssh-server (all in scripts/deps.sh).
// Build in Release; run with QT_QPA_PLATFORM=offscreen.
// Targets: each direction at >= 0.95x curl's throughput over FTP and
// >= 0.85x over FTPS and SFTP; peak memory for the large file within 20 MB
// of that for 16 MiB.
#include "ftp/frmProg.h"
#include "ftp/frmmain.h"
#include "localpane/LocalPane.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"
#include "support/FakeDialogs.h"
#include "support/SshServer.h"
#include "support/TestCertificate.h"

#include "BenchSupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::secondsSince;
using bench::spawn;
using bench::Times;
using bench::waitFor;

// Seconds for one run of the curl command.
double curlSeconds(std::vector<std::string> args) {
    args.insert(args.begin(), {"curl", "-s", "-S"});
    const auto start = Clock::now();
    if (waitFor(spawn(args)) != 0) {
        throw std::runtime_error("curl failed");
    }
    return secondsSince(start);
}

// The configuration lines that make vsftpd require explicit TLS for the
// login and every transfer.
std::string tlsConfig(const quill::test::TestCertificate& tls) {
    return "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
           "force_anon_data_ssl=YES\nrequire_ssl_reuse=NO\nrsa_cert_file=" +
           tls.certificate.native() + "\nrsa_private_key_file=" + tls.key.native() + "\n";
}

void writeFile(const fs::path& path, std::int64_t bytes) {
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>((i * 131 + i / 4096) & 0xff);
    }
    std::ofstream out(path, std::ios::binary);
    for (std::int64_t left = bytes; left > 0; left -= static_cast<std::int64_t>(block.size())) {
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<std::int64_t>(left, std::ssize(block))));
    }
}

// How the program and curl reach one server.
struct Target {
    std::string protocol;  // "FTP", "FTPS", "SFTP": the quick-connect choice
    int port = 0;
    std::string user = "anonymous";
    std::string password;
    std::string curlBase;  // address of the upload folder, ending in "/"
    std::vector<std::string> curlOptions;
};

// The child: one upload and one download of name through the window, then
// the seconds of each and the process's peak memory. The files to move live
// in local's "src" and "dl".
int child(const Target& target, const fs::path& work, const fs::path& local,
          const std::string& name, int rounds) {
    int argc = 1;
    char arg0[] = "bench_transfer";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    quill::test::FakeDialogs dialogs;
    quill::QtClipboard clipboard;
    quill::test::FakeShell shell;
    quill::AppContext context{work, dialogs, clipboard, shell};
    quill::frmmain window(context);
    window.show();
    // Waits in the event loop (a loop of processEvents would keep a core
    // busy that the transfer needs).
    auto wait = [&] {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!window.busy() && !window.findChild<quill::frmProg*>()) {
                loop.quit();
            }
        });
        check.start(20);
        loop.exec();
    };
    auto* protocols = window.findChild<QComboBox*>(QStringLiteral("cboProtocol"));
    for (int i = 0; i < protocols->count(); ++i) {
        if (protocols->itemText(i).section(QLatin1Char(' '), 0, 0).toStdString() ==
            target.protocol) {
            protocols->setCurrentIndex(i);
        }
    }
    window.findChild<QLineEdit*>(QStringLiteral("txtserver"))->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QLineEdit*>(QStringLiteral("txtport"))->setText(QString::number(target.port));
    window.findChild<QLineEdit*>(QStringLiteral("txtuser"))
        ->setText(QString::fromStdString(target.user));
    window.findChild<QLineEdit*>(QStringLiteral("txtpass"))
        ->setText(QString::fromStdString(target.password));
    // The first run trusts the server's test key, as a user would.
    dialogs.answerYes(true);
    window.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
    wait();
    dialogs.clear();
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("TView1"));
    const auto ups = tree->findItems(QStringLiteral("up"), Qt::MatchExactly | Qt::MatchRecursive);
    if (ups.isEmpty()) {
        std::fprintf(stderr, "no folder \"up\" on the server\n");
        return 1;
    }
    tree->setCurrentItem(ups.front());
    window.OpenFolder();
    wait();
    // Times from the command to the end of the batch (without the listing
    // that follows it).
    auto listed = [&](QAbstractItemView* list) {
        const QModelIndexList found =
            list->model()->match(list->model()->index(0, 0), Qt::DisplayRole,
                                 QString::fromStdString(name), 1, Qt::MatchExactly);
        return found.isEmpty() ? QModelIndex() : found.front();
    };
    auto timed = [&](const char* command, QAbstractItemView* list, bool overwrites) {
        if (overwrites) {
            dialogs.answerOverwrite(quill::OverwriteAnswer::Replace);
        }
        list->clearSelection();
        const QModelIndex item = listed(list);
        if (!item.isValid()) {
            throw std::runtime_error("file not listed");
        }
        list->setCurrentIndex(item);
        window.findChild<QAction*>(QString::fromLatin1(command))->trigger();
        const auto start = Clock::now();
        double seconds = 0;
        QObject::connect(window.findChild<quill::frmProg*>(), &quill::frmProg::batchEnded,
                         [&] { seconds = secondsSince(start); });
        wait();
        if (dialogs.messages() != QStringList{QStringLiteral("Data transfer completed.")}) {
            throw std::runtime_error("transfer failed: " +
                                     dialogs.messages().join(QLatin1Char('|')).toStdString());
        }
        dialogs.clear();
        return seconds;
    };
    auto* localList = window.findChild<QAbstractItemView*>(QStringLiteral("ListView1"));
    auto* remoteList = window.findChild<QAbstractItemView*>(QStringLiteral("ListView2"));
    for (int round = 0; round < rounds; ++round) {
        window.localPane()->setFolder(local / "src");
        const bool remoteThere = listed(remoteList).isValid();
        const double up = timed("zLokUp", localList, remoteThere);
        window.localPane()->setFolder(local / "dl");
        const double down = timed("zRemDown", remoteList, fs::exists(local / "dl" / name));
        std::printf("%.4f %.4f\n", up, down);
        std::fflush(stdout);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("maxrss %ld\n", usage.ru_maxrss);
    return 0;
}

// Files live in memory (/dev/shm) when it has room, so the disk's write-back
// does not decide the figures for either side; otherwise in the temp folder.
// With a parent, in a new folder there instead.
class WorkFolder {
public:
    explicit WorkFolder(std::int64_t fileSize, const fs::path& parent = {}) {
        if (parent.empty()) {
            struct statvfs shm {};
            const bool roomy =
                ::statvfs("/dev/shm", &shm) == 0 &&
                static_cast<double>(shm.f_bavail) * static_cast<double>(shm.f_frsize) >
                    5.0 * static_cast<double>(fileSize);
            // The SFTP server's folder must lie in the temp folder: make it
            // the memory one.
            if (roomy) {
                ::setenv("TMPDIR", "/dev/shm", 1);
            }
        }
        const fs::path in = parent.empty() ? fs::temp_directory_path() : parent;
        std::string pattern = (in / "quillmint-bench-XXXXXX").native();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a work folder");
        }
        m_path = pattern;
        std::printf("files in %s\n", m_path.c_str());
    }
    ~WorkFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

struct ChildFigures {
    double up = 1e9;
    double down = 1e9;
    long maxRssKb = 0;
};

ChildFigures runChild(const char* self, const Target& target, const fs::path& work,
                      const fs::path& local, const std::string& name, int rounds) {
    const fs::path output = work / "child.out";
    const int rc = waitFor(
        spawn({self, "--child", target.protocol, std::to_string(target.port), target.user,
               target.password, work.native(), local.native(), name, std::to_string(rounds)},
              output.c_str()));
    if (rc != 0) {
        throw std::runtime_error("the program's run failed");
    }
    std::ifstream in(output);
    ChildFigures figures;
    std::string first;
    while (in >> first) {
        if (first == "maxrss") {
            in >> figures.maxRssKb;
            continue;
        }
        double down = 0;
        in >> down;
        figures.up = std::min(figures.up, std::stod(first));
        figures.down = std::min(figures.down, down);
    }
    return figures;
}

void printDirection(const char* direction, const Times& curl, const Times& program,
                    double megabytes, double targetRatio) {
    std::printf("  %-9s curl %.0f MB/s, program %.0f MB/s, ratio %.3f (target >= %.2f)\n",
                direction, megabytes / curl.best(), megabytes / program.best(),
                curl.best() / program.best(), targetRatio);
    std::printf(
        "            median: curl %.0f MB/s (%.0f-%.0f), program %.0f MB/s (%.0f-%.0f), "
        "ratio %.3f\n",
        megabytes / curl.median(), megabytes / curl.worst(), megabytes / curl.best(),
        megabytes / program.median(), megabytes / program.worst(), megabytes / program.best(),
        curl.median() / program.median());
}

// Runs curl and the program in turns against target and prints the ratios.
// With onDisk, every download writes over an existing file of the same size.
bool measure(const char* self, const Target& target, const WorkFolder& work, const fs::path& local,
             bool onDisk, const fs::path& upFolder, std::int64_t size, int rounds,
             double targetRatio) {
    // curl and the program take turns, so both meet the same machine load.
    Times curlUp;
    Times curlDown;
    Times programUp;
    Times programDown;
    long maxRssKb = 0;
    auto curl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), target.curlOptions.begin(), target.curlOptions.end());
        ::sync();
        return curlSeconds(std::move(args));
    };
    const fs::path curlFile = local / "dl" / "curl.bin";
    const fs::path programFile = local / "dl" / "big.bin";
    if (onDisk) {
        writeFile(curlFile, size);
        writeFile(programFile, size);
    }
    for (int round = 0; round < rounds; ++round) {
        curlUp.seconds.push_back(
            curl({"-T", (local / "src" / "big.bin").native(), target.curlBase + "curl.bin"}));
        curlDown.seconds.push_back(curl({"-o", curlFile.native(), target.curlBase + "curl.bin"}));
        ::sync();
        const ChildFigures once = runChild(self, target, work.path(), local, "big.bin", 1);
        programUp.seconds.push_back(once.up);
        programDown.seconds.push_back(once.down);
        maxRssKb = std::max(maxRssKb, once.maxRssKb);
        if (fs::file_size(upFolder / "big.bin") != static_cast<std::uintmax_t>(size) ||
            fs::file_size(programFile) != static_cast<std::uintmax_t>(size)) {
            std::fprintf(stderr, "the program moved a wrong number of bytes\n");
            return false;
        }
        if (!onDisk) {
            fs::remove(curlFile);
            fs::remove(programFile);
        }
    }
    const ChildFigures small = runChild(self, target, work.path(), local, "small.bin", 1);

    const double megabytes = static_cast<double>(size) / 1e6;
    std::printf("%lld MiB file over %s, %s, best of %d:\n", static_cast<long long>(size >> 20),
                target.protocol.c_str(),
                onDisk ? "over existing files on disk" : "local files in memory", rounds);
    printDirection("upload:", curlUp, programUp, megabytes, targetRatio);
    printDirection("download:", curlDown, programDown, megabytes, targetRatio);
    std::printf(
        "  peak memory: %.1f MB with %lld MiB, %.1f MB with 16 MiB, difference %.1f MB "
        "(target <= 20)\n",
        static_cast<double>(maxRssKb) / 1024, static_cast<long long>(size >> 20),
        static_cast<double>(small.maxRssKb) / 1024,
        static_cast<double>(maxRssKb - small.maxRssKb) / 1024);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 10 && std::string(argv[1]) == "--child") {
        Target target;
        target.protocol = argv[2];
        target.port = std::atoi(argv[3]);
        target.user = argv[4];
        target.password = argv[5];
        return child(target, argv[6], argv[7], argv[8], std::atoi(argv[9]));
    }
    fs::path disk;
    int rounds = 9;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size();) {
        if (args[i] == "--disk" || args[i] == "--rounds") {
            if (i + 1 == args.size()) {
                rounds = 0;  // reported below
                break;
            }
            if (args[i] == "--disk") {
                disk = args[i + 1];
            } else {
                rounds = std::atoi(args[i + 1].c_str());
            }
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                       args.begin() + static_cast<std::ptrdiff_t>(i + 2));
        } else {
            ++i;
        }
    }
    if (rounds < 1 || (!disk.empty() && !fs::is_directory(disk))) {
        std::fprintf(stderr, "--rounds needs a count, --disk an existing folder\n");
        return 2;
    }
    const std::int64_t mib = !args.empty() ? std::atoll(args.front().c_str()) : 1024;
    const std::int64_t size = mib << 20;
    std::vector<std::string> protocols;
    for (std::size_t i = 1; i < args.size(); ++i) {
        protocols.push_back(args[i]);
    }
    if (protocols.empty()) {
        protocols = {"ftp", "ftps", "sftp"};
    }
    const WorkFolder work(size);
    std::optional<WorkFolder> diskFolder;
    if (!disk.empty()) {
        diskFolder.emplace(size, disk);
    }
    const fs::path local = diskFolder ? diskFolder->path() : work.path();
    const fs::path root = work / "root";
    fs::create_directories(root / "up");
    fs::create_directories(local / "src");
    fs::create_directories(local / "dl");
    fs::permissions(root / "up", fs::perms::all);
    writeFile(local / "src" / "big.bin", size);
    writeFile(local / "src" / "small.bin", std::int64_t{16} << 20);
    const auto certificate = quill::test::MakeTestCertificate(work.path(), "bench");

    bool ok = true;
    for (const std::string& protocol : protocols) {
        Target target;
        if (protocol == "ftp" || protocol == "ftps") {
            const bool tls = protocol == "ftps";
            bench::Vsftpd server(root, work.path(), tls ? tlsConfig(certificate) : std::string());
            target.protocol = tls ? "FTPS" : "FTP";
            target.port = server.port();
            target.curlBase = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/up/";
            if (tls) {
                target.curlOptions = {"--ssl-reqd", "-k"};
            }
            ok = measure(argv[0], target, work, local, diskFolder.has_value(), root / "up", size,
                         rounds, tls ? 0.85 : 0.95) &&
                 ok;
        } else if (protocol == "sftp") {
            std::string why;
            if (!quill::test::SshServer::Available(&why)) {
                std::printf("SFTP skipped: %s\n", why.c_str());
                continue;
            }
            quill::test::SshServerOptions options;
            options.root = root;
            quill::test::SshServer server(options);
            target.protocol = "SFTP";
            target.port = server.port();
            target.user = options.user;
            target.password = options.password;
            target.curlBase =
                "sftp://127.0.0.1:" + std::to_string(server.port()) + (root / "up").native() + "/";
            target.curlOptions = {"-k", "-u", options.user + ":" + options.password};
            ok = measure(argv[0], target, work, local, diskFolder.has_value(), root / "up", size,
                         rounds, 0.85) &&
                 ok;
        } else {
            std::fprintf(stderr, "unknown protocol %s (ftp, ftps or sftp)\n", protocol.c_str());
            return 2;
        }
    }
    return ok ? 0 : 1;
}
