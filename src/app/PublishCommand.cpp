#include "PublishCommand.h"

#include "common/AppInfo.h"
#include "common/ProgramFolder.h"
#include "common/TextCodec.h"
#include "ftp/FtpSession.h"
#include "ftp/SitePasswords.h"
#include "ftp/SiteProfiles.h"
#include "publish/PublishJob.h"
#include "publish/Publisher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <unistd.h>
#include <csignal>

namespace quill {
namespace {

std::atomic<bool> g_interrupted{false};

// QCoreApplication keeps references to these for its lifetime.
int g_argc = 1;
char g_program[] = "quillmint";
char* g_argv[] = {g_program, nullptr};

extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
}

std::string sizeText(std::int64_t bytes) {
    return QLocale::system()
        .formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat)
        .toStdString();
}

// Output lines on stdout; on a terminal, a progress line on stderr that each
// output line clears first.
class Console final : public PublishObserver {
public:
    Console() : m_progress(::isatty(STDERR_FILENO) == 1) {}

    void line(const std::string& text) {
        std::lock_guard lock(m_mutex);
        clearProgress();
        std::fputs((text + '\n').c_str(), stdout);
        std::fflush(stdout);
    }
    void error(const std::string& text) {
        std::lock_guard lock(m_mutex);
        clearProgress();
        std::fputs((text + '\n').c_str(), stderr);
    }
    void stepDone(const PublishStep& step, const std::optional<FtpError>& error) override {
        if (error && error->kind == FtpErrorKind::Stopped) {
            line("not sent " + step.path + ": stopped");
        } else if (error) {
            line("failed " + step.path + ": " + error->text);
        } else {
            line(DescribeStep(step));
        }
    }
    void note(const std::string& text) override { line(text); }

    void showProgress(const PublishProgress& now, double seconds) {
        if (!m_progress) {
            return;
        }
        char text[160];
        std::snprintf(
            text, sizeof text, "\r%d of %d files, %s of %s, %s/s", now.filesDone, now.filesTotal,
            sizeText(now.bytesDone).c_str(), sizeText(now.bytesTotal).c_str(),
            sizeText(static_cast<std::int64_t>(now.bytesDone / std::max(seconds, 0.001))).c_str());
        std::lock_guard lock(m_mutex);
        std::fputs(text, stderr);
        std::fputs("\033[K", stderr);
        m_shown = true;
    }
    void endProgress() {
        std::lock_guard lock(m_mutex);
        clearProgress();
    }

private:
    void clearProgress() {
        if (m_shown) {
            std::fputs("\r\033[K", stderr);
            m_shown = false;
        }
    }
    std::mutex m_mutex;
    bool m_progress;
    bool m_shown = false;
};

int usage(const QString& message) {
    std::fprintf(stderr,
                 "quillmint publish: %s\nUsage: quillmint publish [--dry-run] [--delete] "
                 "[--connections N] SITE LOCAL REMOTE\n",
                 message.toLocal8Bit().constData());
    return 2;
}

}  // namespace

int RunPublishCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Publishes the files of LOCAL that are new or changed since the last publish to the\n"
        "folder REMOTE of the saved site SITE, over several connections."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Show what would be done; change nothing."));
    const QCommandLineOption remove(
        QStringLiteral("delete"),
        QStringLiteral("Delete remote files an earlier publish from LOCAL put there and that "
                       "are gone from LOCAL."));
    const QCommandLineOption connections(
        QStringLiteral("connections"), QStringLiteral("Connections to use, 1 to 8 (default 4)."),
        QStringLiteral("N"), QString::number(kDefaultPublishConnections));
    parser.addOptions({help, dryRun, remove, connections});
    parser.addPositionalArgument(QStringLiteral("SITE"),
                                 QStringLiteral("A saved site (SITE.ftp in the program folder)."));
    parser.addPositionalArgument(QStringLiteral("LOCAL"), QStringLiteral("The local folder."));
    parser.addPositionalArgument(
        QStringLiteral("REMOTE"),
        QStringLiteral("The remote folder, such as /www; created when missing."));
    if (!parser.parse(QStringList{QStringLiteral("quillmint publish")} + arguments)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(help)) {
        std::fputs(
            parser.helpText()
                .replace(QStringLiteral("<executable_name>"), QStringLiteral("quillmint publish"))
                .toLocal8Bit()
                .constData(),
            stdout);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 3) {
        return usage(QStringLiteral("Three arguments are needed: SITE LOCAL REMOTE."));
    }
    bool number = false;
    const int connectionCount = parser.value(connections).toInt(&number);
    if (!number || connectionCount < kMinPublishConnections ||
        connectionCount > kMaxPublishConnections) {
        return usage(QStringLiteral("--connections takes a number from 1 to 8."));
    }
    const std::string site = positional[0].toStdString();
    const std::filesystem::path local = positional[1].toLocal8Bit().toStdString();
    const std::string remote = positional[2].toStdString();

    const std::filesystem::path programFolder = ResolveProgramFolder();
    const SiteProfiles profiles(programFolder);
    const auto profileFile = profiles.PathFor(site);
    std::error_code error;
    if (!profileFile || !std::filesystem::is_regular_file(*profileFile, error)) {
        return usage(QStringLiteral("There is no saved site \"%1\" in %2.")
                         .arg(positional[0], QString::fromStdString(programFolder.native())));
    }
    if (!std::filesystem::is_directory(local, error)) {
        return usage(QStringLiteral("There is no folder %1.").arg(positional[1]));
    }
    if (remote.empty() || remote.find_first_of("\r\n", 0) != std::string::npos ||
        remote.find('\0') != std::string::npos) {
        return usage(QStringLiteral("REMOTE must be a folder name on one line."));
    }
    // The keyring's answers come through an event loop, which needs an application.
    std::optional<QCoreApplication> application;
    if (!QCoreApplication::instance()) {
        application.emplace(g_argc, g_argv);
    }
    KeyringPasswordStore keyring(Qs(app::kKeyringService));
    const LoadedSite loaded = ReadSite(profiles, &keyring, profileFile->filename().native());
    if (!loaded.problem.empty()) {
        std::fprintf(stderr, "quillmint publish: %s\n", loaded.problem.c_str());
        return 1;
    }
    const auto request = ConnectRequestFor(loaded.profile);
    if (!request) {
        return usage(QStringLiteral("The site \"%1\" cannot be used: %2")
                         .arg(positional[0], QString::fromStdString(request.error())));
    }
    const auto session = NetworkLibrary::Open(site);
    if (!session) {
        std::fputs("quillmint publish: the network library cannot be started.\n", stderr);
        return 1;
    }
    const FtpConnectParams params = ConnectParamsFor(*request, programFolder);
    Publisher publisher(
        [&](const std::atomic<bool>* stop) {
            FtpConnectParams own = params;
            own.stop = stop;
            return FtpConnection::Connect(*session, std::move(own));
        },
        programFolder, site, local, remote);

    Console console;
    g_interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program at once
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);
    // Turns Ctrl+C into a safe stop and keeps the progress line fresh.
    std::mutex watchMutex;
    std::condition_variable wake;
    bool finished = false;
    bool running = false;
    const auto start = std::chrono::steady_clock::now();
    std::jthread watcher([&] {
        std::unique_lock lock(watchMutex);
        while (!wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return finished; })) {
            if (g_interrupted.load()) {
                publisher.stop();
            }
            if (running) {
                const std::chrono::duration<double> elapsed =
                    std::chrono::steady_clock::now() - start;
                console.showProgress(publisher.progress(), elapsed.count());
            }
        }
    });
    const auto stopWatching = [&] {
        {
            std::lock_guard lock(watchMutex);
            finished = true;
        }
        wake.notify_all();
        watcher.join();
        console.endProgress();
        ::sigaction(SIGINT, &previous, nullptr);
    };

    auto plan = publisher.Plan(connectionCount);
    if (!plan) {
        stopWatching();
        const FtpError& failure = plan.error();
        if (failure.kind == FtpErrorKind::Untrusted && failure.key) {
            console.error(
                "quillmint publish: the server's " +
                std::string(failure.key->type == "certificate" ? "certificate" : "host key") + " " +
                failure.key->fingerprint +
                " is not trusted yet; connect to the site once in the FTP client "
                "to accept it.");
        } else {
            console.error("quillmint publish: " + failure.text);
        }
        return 1;
    }
    for (const std::string& text : plan->notes) {
        console.line(text);
    }
    const int deletions = plan->count(PublishAction::Delete);
    if (parser.isSet(dryRun)) {
        stopWatching();
        for (const std::string& folder : plan->newFolders) {
            console.line("would create the folder " + folder);
        }
        for (const PublishStep& step : plan->steps) {
            if (step.action != PublishAction::Delete || parser.isSet(remove)) {
                console.line("would " + DescribeStep(step));
            }
        }
        for (const std::string& leftover : plan->leftovers) {
            console.line("would remove the temporary file " + leftover);
        }
        for (const PublishProblem& problem : plan->problems) {
            console.line("cannot publish " + problem.path + ": " + problem.reason);
        }
        std::string summary = "Dry run: " + std::to_string(plan->count(PublishAction::Upload)) +
                              " new, " + std::to_string(plan->count(PublishAction::Replace)) +
                              " changed";
        if (parser.isSet(remove)) {
            summary += ", " + std::to_string(deletions) + " to delete";
        } else if (deletions > 0) {
            summary += ", " + std::to_string(deletions) +
                       " removed here (--delete would delete them on the server)";
        }
        summary +=
            ", " + std::to_string(plan->unchanged) + " unchanged; " +
            sizeText(plan->bytes(PublishAction::Upload) + plan->bytes(PublishAction::Replace)) +
            " to send. Nothing was changed.";
        console.line(summary);
        return plan->problems.empty() ? 0 : 1;
    }
    {
        std::lock_guard lock(watchMutex);
        running = true;
    }
    PublishOptions options;
    options.connections = connectionCount;
    options.deleteRemoved = parser.isSet(remove);
    const PublishTotals totals = publisher.Run(*plan, options, console);
    stopWatching();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const std::string summary =
        PublishSummary(totals, options.deleteRemoved ? 0 : deletions, elapsed.count())
            .toStdString();
    console.line(summary);
    return totals.complete() ? 0 : 1;
}

}  // namespace quill
