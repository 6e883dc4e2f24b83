#include "ftp/RemoteOperations.h"
#include "ftp/TransferBatch.h"

#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/GuiTest.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <optional>

using namespace quill;
using quill::test::FolderNames;
using quill::test::FtpServer;
using quill::test::FtpServerOptions;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

// Bytes in which a shifted or lost block shows.
std::string Pattern(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 13 + i / 1000 + static_cast<std::size_t>(seed)) & 0xff);
    }
    return bytes;
}

class TransferBatchTest : public ::testing::Test {
protected:
    void start(FtpServerOptions options = {}) {
        server.emplace(remote.path(), options);
        FtpConnectParams params;
        params.host = "127.0.0.1";
        params.port = static_cast<std::uint16_t>(server->port());
        params.user = "user";
        params.password = "secret";
        params.timeouts.connectSeconds = 2;
        params.timeouts.serverResponseSeconds = 2;
        std::optional<FtpResult<std::string>> connected;
        engine.connectServer("Quillmint 2012", params,
                             [&](FtpResult<std::string> result) { connected = result; });
        ASSERT_TRUE(WaitFor([&] { return connected.has_value(); }));
        ASSERT_TRUE(*connected) << connected->error().text;
    }
    // Runs a batch to its end; onFile runs as each file starts.
    void run(TransferDirection direction, const std::vector<std::string>& names,
             const std::function<void(TransferBatch&, int)>& onFile = {}) {
        TransferPlan plan{direction, local.path().native() + "/", "/", {}};
        for (const auto& name : names) {
            const auto from = (direction == TransferDirection::Upload ? local : remote) / name;
            std::error_code ec;
            const auto size = static_cast<std::int64_t>(std::filesystem::file_size(from, ec));
            plan.add(name, ec ? 0 : size);
        }
        TransferBatch batch(engine, dialogs, std::move(plan));
        batch.reconnectDelayMs = 20;
        int ended = 0;
        QObject::connect(&batch, &TransferBatch::logEntry,
                         [this](const QString& entry) { log << entry; });
        QObject::connect(&batch, &TransferBatch::fileStarted, [&](int index) {
            started << index;
            if (onFile) {
                onFile(batch, index);
            }
        });
        QObject::connect(&batch, &TransferBatch::ended, [&] { ++ended; });
        batch.start();
        ASSERT_TRUE(WaitFor([&] { return ended > 0; }, 60000));
        QTest::qWait(20);
        EXPECT_EQ(ended, 1);
        EXPECT_FALSE(engine.busy());
        leftKb = QString::fromStdString(batch.meter().labels().lbLeft);
        failed.clear();
        for (const auto& failure : batch.failures()) {
            failed << QString::fromStdString(failure.name);
        }
        EXPECT_EQ(dialogs.unusedAnswers(), 0u);
    }
    // Names in the folder that are not the transfers' own temporary files,
    // and how many of those there are.
    static std::pair<std::vector<std::string>, int> Contents(const std::filesystem::path& folder) {
        std::pair<std::vector<std::string>, int> contents;
        for (auto& name : FolderNames(folder)) {
            if (name.starts_with(kTransferTempPrefix)) {
                ++contents.second;
            } else {
                contents.first.push_back(std::move(name));
            }
        }
        return contents;
    }
    QString logText() const { return log.join(QLatin1Char('|')); }
    // The server's command log, one command a line.
    std::string commands() const { return ReadBytes(remote.path().parent_path() / commandLog); }
    std::string commandLog = "commands-" + std::to_string(::getpid()) + ".log";
    QStringList messages() const { return dialogs.messages(); }
    void SetUp() override {
        QObject::connect(&engine, &FtpEngine::noteForLog,
                         [this](const QString& note) { log << QStringLiteral(" > ") + note; });
    }

    TempDir remote;
    TempDir local;
    std::optional<FtpServer> server;
    FtpEngine engine;
    test::FakeDialogs dialogs;
    QStringList log;
    QList<int> started;
    QStringList failed;
    QString leftKb;
};

TEST_F(TransferBatchTest, EmptyQueueCompletesAtOnce) {
    start();
    run(TransferDirection::Download, {});
    EXPECT_EQ(messages(), QStringList{QStringLiteral("Data transfer completed.")});
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Information);
    EXPECT_TRUE(log.isEmpty());
}

// Every file in order, each logged; names that would leave the local folder
// are refused one by one while the rest go on; the end says which failed.
TEST_F(TransferBatchTest, DownloadMovesEachFileAndRefusesHostileNames) {
    const std::pair<const char*, std::string> files[] = {
        {"empty.txt", ""}, {"one.bin", Pattern(1024, 1)}, {"big file.bin", Pattern(300000, 2)}};
    for (const auto& [name, bytes] : files) {
        WriteBytes(remote / name, bytes);
    }
    WriteBytes(local / "one.bin", "replaced");
    start();
    dialogs.answerOverwrite(OverwriteAnswer::Replace);
    run(TransferDirection::Download,
        {"empty.txt", "../escape", "one.bin", "a/b", ".", "..", "line\nbreak", "big file.bin"});
    for (const auto& [name, bytes] : files) {
        EXPECT_TRUE(ReadBytes(local / name) == bytes) << name;
    }
    EXPECT_EQ(FolderNames(local.path()),
              (std::vector<std::string>{"big file.bin", "empty.txt", "one.bin"}));
    EXPECT_EQ(started, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(failed,
              (QStringList{QStringLiteral("../escape"), QStringLiteral("a/b"), QStringLiteral("."),
                           QStringLiteral(".."), QStringLiteral("line\nbreak")}));
    EXPECT_EQ(leftKb, QStringLiteral("0 Kb"));
    const QString localPath = QString::fromStdString(local.path().native()) + QStringLiteral("/");
    ASSERT_GE(log.size(), 4);
    EXPECT_EQ(log[0], QStringLiteral(" > Accomplishing data transfer...\r\n > Downloading from: "
                                     "/empty.txt, to: ") +
                          localPath + QStringLiteral("empty.txt"));
    EXPECT_EQ(log[1], QStringLiteral(" > OK"));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral(" > Skipped \"../escape\"")));
    EXPECT_EQ(log.count(QStringLiteral(" > OK")), 3);
    EXPECT_EQ(log.last(), QStringLiteral(" > Data transfer completed; 5 of 8 files failed."));
    const QStringList shown = messages();
    ASSERT_EQ(shown.size(), 6);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("\"../escape\" cannot be used")));
    EXPECT_TRUE(shown.last().startsWith(
        QStringLiteral("Data transfer completed, but 5 of 8 files failed:\r\n../escape (")));
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);
}

// A file that cannot be opened on the server stops the batch: the files
// after it stay where they are.
TEST_F(TransferBatchTest, AFileThatCannotBeOpenedStopsTheBatch) {
    WriteBytes(remote / "a.txt", "a");
    WriteBytes(remote / "c.txt", "c");
    start();
    run(TransferDirection::Download, {"a.txt", "missing.txt", "c.txt"});
    EXPECT_EQ(FolderNames(local.path()), std::vector<std::string>{"a.txt"});
    ASSERT_EQ(messages(), QStringList{QStringLiteral("Can't open file path!")});
    EXPECT_EQ(dialogs.lastMessage()->title, QStringLiteral("Problém s URL"));
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);
    EXPECT_TRUE(log.contains(QStringLiteral(" > Can't open file path! Request canceled!")));
    EXPECT_EQ(started, (QList<int>{0, 1}));

    // A server that refuses uploads stops an upload batch the same way.
    server.reset();
    FtpServerOptions refuse;
    refuse.refuse = "STOR";
    start(refuse);
    WriteBytes(local / "b.txt", "b");
    dialogs.clear();
    log.clear();
    started.clear();
    dialogs.answerOverwrite(OverwriteAnswer::Replace);
    run(TransferDirection::Upload, {"a.txt", "b.txt"});
    ASSERT_EQ(messages(), QStringList{QStringLiteral("Cant create requested file on server")});
    EXPECT_TRUE(dialogs.lastMessage()->title.isEmpty()) << "the application title";
    EXPECT_TRUE(
        log.contains(QStringLiteral(" > Cant create requested file on server! request canceled!")));
    EXPECT_FALSE(std::filesystem::exists(remote / "b.txt"));
    EXPECT_EQ(started, QList<int>{0});
}

// A file that fails on its way is reported by name with the reason, never
// logged " > OK", and the batch goes on.
TEST_F(TransferBatchTest, AFileThatFailsOnItsWayIsReportedAndTheBatchGoesOn) {
    WriteBytes(remote / "big.bin", "the good old file");
    for (const auto& [name, bytes] : {std::pair<const char*, std::string>{"small.txt", "small"},
                                      {"big.bin", Pattern(300000, 3)},
                                      {"last.txt", "last"},
                                      {"x.txt", "x"}}) {
        WriteBytes(local / name, bytes);
    }
    FtpServerOptions full;
    full.diskFullAfterBytes = 100000;
    start(full);
    dialogs.answerOverwrite(OverwriteAnswer::Replace);
    run(TransferDirection::Upload, {"small.txt", "big.bin", "gone.txt", "last.txt"});
    EXPECT_EQ(ReadBytes(remote / "big.bin"), "the good old file");
    EXPECT_EQ(Contents(remote.path()),
              std::pair(std::vector<std::string>{"big.bin", "last.txt", "small.txt"}, 0));
    EXPECT_EQ(log.count(QStringLiteral(" > OK")), 2);
    EXPECT_TRUE(
        log.contains(QStringLiteral(" > The file on the server was left as it was: /big.bin")))
        << logText().toStdString();
    EXPECT_EQ(failed, (QStringList{QStringLiteral("big.bin"), QStringLiteral("gone.txt")}));
    ASSERT_EQ(messages().size(), 3);
    EXPECT_TRUE(
        messages()[0].startsWith(QStringLiteral("The file \"big.bin\" could not be uploaded: ")));
    EXPECT_TRUE(messages()[0].contains(QStringLiteral("452"))) << messages()[0].toStdString();
    EXPECT_TRUE(messages()[1].endsWith(QStringLiteral("gone.txt: No such file or directory")));
    EXPECT_TRUE(messages()[2].startsWith(
        QStringLiteral("Data transfer completed, but 2 of 4 files failed:\r\nbig.bin (")));
}

// Cancel during the first, a middle and the last file: that file is stopped,
// its local file left as it was with what arrived kept aside for a resume,
// and the rest are not moved.
TEST_F(TransferBatchTest, CancelEndsTheBatchWithinASecond) {
    const std::vector<std::string> names{"f0.bin", "f1.bin", "f2.bin"};
    FtpServerOptions slow;
    slow.rateBytesPerSecond = 100000;
    start(slow);
    for (int cancelAt = 0; cancelAt < 3; ++cancelAt) {
        SCOPED_TRACE(cancelAt);
        // The files before the cancelled one are small, so they are done
        // quickly; the cancelled one and those after it take seconds.
        for (int i = 0; i < 3; ++i) {
            const auto& name = names[static_cast<std::size_t>(i)];
            WriteBytes(remote / name, Pattern(i < cancelAt ? 100 : 2000000, name[1]));
            WriteBytes(local / name, "old");
        }
        dialogs.clear();
        log.clear();
        started.clear();
        dialogs.answerOverwrite(OverwriteAnswer::ReplaceAll);
        QElapsedTimer sinceCancel;
        run(TransferDirection::Download, names, [&](TransferBatch& batch, int index) {
            if (index == cancelAt) {
                QTimer::singleShot(300, &batch, [&batch, &sinceCancel] {
                    sinceCancel.start();
                    batch.cancel();
                });
            }
        });
        EXPECT_LT(sinceCancel.elapsed(), 1000);
        for (int i = 0; i < 3; ++i) {
            const auto& name = names[static_cast<std::size_t>(i)];
            EXPECT_EQ(ReadBytes(local / name), i < cancelAt ? ReadBytes(remote / name) : "old")
                << i;
        }
        EXPECT_EQ(started.size(), cancelAt + 1);
        EXPECT_EQ(messages(), QStringList{QStringLiteral("Opertion Canceled.")});
        EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Information);
        EXPECT_TRUE(log.contains(QStringLiteral(" > Opertion Canceled.")));
        EXPECT_EQ(Contents(local.path()), std::pair(names, 1)) << "one partial kept";
    }
}

// An upload over a good file leaves it whole whatever happens on the way.
TEST_F(TransferBatchTest, AnUploadNeverBreaksTheFileItReplaces) {
    const std::string good = Pattern(200000, 5);
    const std::string fresh = Pattern(600000, 6);
    struct Case {
        const char* what;
        FtpServerOptions options;
        bool cancel;
        bool replaced;
        const char* logged;
    };
    FtpServerOptions slow, full, cut, noRenameOnto, noHidden;
    slow.rateBytesPerSecond = 200000;
    full.diskFullAfterBytes = 100000;
    cut.dropUploadAfterBytes = 100000;
    noRenameOnto.refuseRenameOntoExisting = true;
    noHidden.refuseHiddenNames = true;
    const Case cases[] = {
        {"stopped", slow, true, false, " > The file on the server was left as it was: /a.html"},
        {"full disk", full, false, false, " > The file on the server was left as it was: /a.html"},
        {"cut each time", cut, false, false, "Gave up after 3 tries to reconnect"},
        {"no rename onto a file", noRenameOnto, false, true, "was deleted first, then replaced"},
        {"no hidden names", noHidden, false, true, "the file is written in place: /a.html"},
    };
    WriteBytes(local / "a.html", fresh);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.reset();
        WriteBytes(remote / "a.html", good);
        start(c.options);
        log.clear();
        dialogs.clear();
        dialogs.answerOverwrite(OverwriteAnswer::Replace);
        run(TransferDirection::Upload, {"a.html"}, [&](TransferBatch& batch, int) {
            if (c.cancel) {
                QTimer::singleShot(300, &batch, [&batch] { batch.cancel(); });
            }
        });
        EXPECT_TRUE(ReadBytes(remote / "a.html") == (c.replaced ? fresh : good));
        EXPECT_EQ(Contents(remote.path()).second, 0) << "no temporary file left";
        EXPECT_TRUE(logText().contains(QString::fromUtf8(c.logged))) << logText().toStdString();
        EXPECT_EQ(log.contains(QStringLiteral(" > OK")), c.replaced);
    }
}

// Replace, Skip, Replace all, Skip all and Cancel, asked once per file that
// is there already, in both directions.
TEST_F(TransferBatchTest, AskedBeforeWritingOverAFile) {
    using A = OverwriteAnswer;
    struct Case {
        std::vector<A> answers;
        const char* replaced;  // which of a, b, c get the new bytes
        const char* ending;
    };
    const Case cases[] = {
        {{A::Replace, A::Skip, A::Replace}, "a.c", "Skipped, as already there: 1 file:\r\nb"},
        {{A::ReplaceAll}, "abc", "Data transfer completed."},
        {{A::Skip, A::SkipAll}, "...", "Skipped, as already there: 3 files:\r\na\r\nb\r\nc"},
        {{A::Replace, A::Cancel}, "a..", "Opertion Canceled."},
    };
    start();
    for (const auto direction : {TransferDirection::Download, TransferDirection::Upload}) {
        const bool down = direction == TransferDirection::Download;
        const auto& from = down ? remote : local;
        const auto& to = down ? local : remote;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(down ? "download " : "upload ") + c.replaced);
            for (const char* name : {"a", "b", "c"}) {
                WriteBytes(from / name, std::string("new ") + name);
                WriteBytes(to / name, "old");
            }
            dialogs.clear();
            for (const A answer : c.answers) {
                dialogs.answerOverwrite(answer);
            }
            const std::size_t askedBefore = dialogs.overwriteQuestions().size();
            run(direction, {"a", "b", "c"});
            for (int i = 0; i < 3; ++i) {
                const std::string name(1, static_cast<char>('a' + i));
                EXPECT_EQ(ReadBytes(to / name), c.replaced[i] == '.' ? "old" : "new " + name);
            }
            ASSERT_EQ(dialogs.overwriteQuestions().size() - askedBefore, c.answers.size());
            const OverwriteQuestion& first = dialogs.overwriteQuestions()[askedBefore];
            EXPECT_EQ(first.localTarget, down);
            EXPECT_EQ(first.existingSize, 3);
            EXPECT_EQ(first.newSize, 5);
            EXPECT_TRUE(first.existingTime.isValid() && first.newTime.isValid());
            EXPECT_TRUE(messages().last().endsWith(QString::fromUtf8(c.ending)))
                << messages().last().toStdString();
        }
    }
}

// A broken transfer goes on where it broke off once the connection is back;
// a remote file that changed meanwhile is fetched whole again.
TEST_F(TransferBatchTest, ReconnectsAndResumes) {
    const std::string big = Pattern(3000000, 7);
    WriteBytes(remote / "big.bin", big);
    WriteBytes(local / "up.bin", big);
    for (const char* name : {"one.txt", "two.txt"}) {
        WriteBytes(remote / name, name);
    }
    FtpServerOptions drops;
    drops.dropAfterBytes = 1000000;
    drops.dropUploadAfterBytes = 1500000;
    drops.dropControlAfterTransfers = 2;
    drops.dropOnce = true;
    drops.commandLog = remote.path().parent_path() / commandLog;
    start(drops);
    run(TransferDirection::Download, {"one.txt", "big.bin", "two.txt"});
    run(TransferDirection::Upload, {"up.bin"});
    EXPECT_TRUE(ReadBytes(local / "big.bin") == big);
    EXPECT_TRUE(ReadBytes(remote / "up.bin") == big);
    EXPECT_EQ(ReadBytes(local / "two.txt"), "two.txt");
    EXPECT_EQ(Contents(local.path()).second, 0);
    EXPECT_EQ(Contents(remote.path()).second, 0);
    EXPECT_EQ(messages(), (QStringList{QStringLiteral("Data transfer completed."),
                                       QStringLiteral("Data transfer completed.")}));
    const std::string sent = commands();
    EXPECT_NE(sent.find("REST 1000000\nRETR big.bin"), std::string::npos) << sent;
    EXPECT_NE(sent.find("REST 1500000\nSTOR .quillmint-"), std::string::npos) << sent;
    for (const char* entry : {"resumed at 1000000 bytes", "resumed at 1500000 bytes",
                              "it was re-established", "Reconnected; the transfer goes on."}) {
        EXPECT_TRUE(logText().contains(QString::fromUtf8(entry))) << entry;
    }

    // Stopped, then changed on the server: no resume from the old bytes.
    server.reset();
    FtpServerOptions slow;
    slow.rateBytesPerSecond = 500000;
    slow.commandLog = drops.commandLog;
    start(slow);
    dialogs.answerOverwrite(OverwriteAnswer::ReplaceAll);
    run(TransferDirection::Download, {"big.bin"}, [](TransferBatch& batch, int) {
        QTimer::singleShot(500, &batch, [&batch] { batch.cancel(); });
    });
    EXPECT_EQ(Contents(local.path()).second, 1);
    const std::string changed = Pattern(2500000, 8);
    WriteBytes(remote / "big.bin", changed);
    std::filesystem::remove(drops.commandLog);
    dialogs.answerOverwrite(OverwriteAnswer::Replace);
    run(TransferDirection::Download, {"big.bin"});
    EXPECT_TRUE(ReadBytes(local / "big.bin") == changed);
    EXPECT_EQ(commands().find("REST"), std::string::npos);
    EXPECT_EQ(Contents(local.path()).second, 0) << "the old partial is cleared away";
}

// An idle connection sends NOOP at each interval, so a server's idle
// time-out does not drop it.
TEST_F(TransferBatchTest, KeepAliveWhileIdle) {
    FtpServerOptions logged;
    logged.commandLog = remote.path().parent_path() / commandLog;
    engine.setKeepAliveInterval(200);
    start(logged);
    QTest::qWait(1100);
    const std::string sent = commands();
    std::size_t noops = 0;
    for (auto at = sent.find("NOOP"); at != std::string::npos; at = sent.find("NOOP", at + 1)) {
        ++noops;
    }
    EXPECT_GE(noops, 3u) << sent;
}

// Removes in order and stops at the first failure: what follows it stays.
TEST_F(TransferBatchTest, DeleteChainRemovesInOrderUpToTheFirstFailure) {
    std::filesystem::create_directory(remote / "empty");
    std::filesystem::create_directory(remote / "full");
    for (const char* name : {"a.txt", "b.txt", "full/keep"}) {
        WriteBytes(remote / name, name);
    }
    start();
    using Entries = std::vector<RemoteDeleteChain::Entry>;
    const std::pair<Entries, std::string> cases[] = {
        {{{"/a.txt"}, {"/empty", true}}, "-/a.txt +/a.txt -/empty +/empty done"},
        {{{"/full", true}, {"/b.txt"}}, "-/full !/full"},
        {{{"/gone.txt"}, {"/b.txt"}}, "-/gone.txt !/gone.txt"},
        {{}, "done"},
    };
    for (const auto& [entries, expected] : cases) {
        std::string events;
        QPointer chain = new RemoteDeleteChain(engine, entries);
        auto note = [&](const char* mark) {
            return [&events, mark](const std::string& path) { events += mark + path + ' '; };
        };
        QObject::connect(chain, &RemoteDeleteChain::removing, note("-"));
        QObject::connect(chain, &RemoteDeleteChain::removed, note("+"));
        QObject::connect(chain, &RemoteDeleteChain::failed,
                         [&](const std::string& path, const FtpError&) { events += "!" + path; });
        QObject::connect(chain, &RemoteDeleteChain::finished, [&] { events += "done"; });
        chain->start();
        ASSERT_TRUE(WaitFor([&] { return chain.isNull(); })) << expected;
        EXPECT_EQ(events, expected);
    }
    EXPECT_EQ(FolderNames(remote.path()), (std::vector<std::string>{"b.txt", "full"}));
}

}  // namespace
