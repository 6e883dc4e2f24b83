#pragma once

#include "FtpEngine.h"
#include "TransferMeter.h"
#include "TransferPlan.h"
#include "platform/Dialogs.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

class Dialogs;

// A file of a batch that did not arrive, and why.
struct FailedTransfer {
    std::string name;
    QString reason;
};

// What is there before a file moves: the remote file, and the local one.
struct TransferTargets {
    // Unknown (exists false, -1s) when the server could not be asked.
    FtpFileInfo remote;
    bool remoteKnown = false;
    bool localExists = false;
    std::int64_t localSize = -1;
    std::int64_t localModified = -1;  // seconds since 1970
};
TransferTargets ProbeTargets(FtpConnection& connection, const std::string& remotePath,
                             const std::string& localPath);

// A lost connection is made again this many times, after 1, 2, 4 s.
inline constexpr int kReconnectTries = 3;

// One upload or download batch over the engine's connection: the files go
// one at a time, in queue order, each as one operation on the engine's
// worker. The worker only counts bytes; a timer here turns the count into
// label values every ~50 ms, and once more after each file's last bytes, so
// refreshing never slows the transfer. Messages go through dialogs; log
// entries and window updates leave as signals.
class TransferBatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferBatch)
public:
    static constexpr int kRefreshMs = 50;

    TransferBatch(FtpEngine& engine, Dialogs& dialogs, TransferPlan plan,
                  QObject* parent = nullptr);
    ~TransferBatch() override;

    // Runs the batch; ended() follows once it is over.
    void start();
    // Ends the batch after the running file (which is stopped): the rest are
    // not moved. Does nothing when the batch is not running.
    void cancel();

    TransferDirection direction() const { return m_plan.direction; }
    bool running() const { return m_running; }
    bool fileOpen() const { return m_fileRunning; }
    const std::vector<QueuedFile>& queue() const { return m_plan.files; }
    // 0-based number of the file being moved (or last moved).
    int currentIndex() const { return m_index; }
    std::int64_t currentFileBytes() const { return m_fileBytes; }
    const TransferMeter& meter() const { return m_meter; }
    const std::vector<FailedTransfer>& failures() const { return m_failures; }
    // Files left alone because the user chose not to write over them.
    const std::vector<std::string>& skipped() const { return m_skipped; }
    bool cancelled() const { return m_cancelled; }

    // The milliseconds clock; replaceable for tests.
    std::function<std::int64_t()> now;
    // Waits before each reconnect try; tests shorten them.
    int reconnectDelayMs = 1000;

Q_SIGNALS:
    // A timed status-log entry (" > ..."), possibly of several lines.
    void logEntry(const QString& message);
    // File index starts moving: its name, size and number are shown.
    void fileStarted(int index);
    // The labels and bars have new values.
    void progressed();
    // The batch is over (completed, stopped by a failure or cancelled) and
    // its messages have been shown.
    void ended();

private:
    void nextFile();
    void probed(const TransferTargets& targets);
    bool mayWriteOver(const QueuedFile& file, const TransferTargets& targets);
    void startTransfer();
    void fileFinished(const FtpResult<std::int64_t>& result);
    void reconnect(const QString& reason);
    void giveUpReconnecting();
    bool targetExists(const TransferTargets& targets) const;
    bool refuseName(const QueuedFile& file);
    void failFile(const QueuedFile& file, const FtpError& error);
    void stopOnOpenFailure(const FtpError& error);
    void finish();
    void refresh();
    std::string localPathOf(const QueuedFile& file) const { return m_plan.localPathOf(file); }
    std::string remotePathOf(const QueuedFile& file) const { return m_plan.remotePathOf(file); }

    FtpEngine& m_engine;
    Dialogs& m_dialogs;
    TransferPlan m_plan;
    TransferMeter m_meter;
    // Written by the worker, read by the timer; shared so a job that
    // outlives the batch still has it.
    std::shared_ptr<std::atomic<std::int64_t>> m_moved;
    QTimer m_refresh;
    std::vector<FailedTransfer> m_failures;
    std::vector<std::string> m_skipped;
    std::vector<std::string> m_notDone;
    std::optional<OverwriteAnswer> m_forAll;
    std::optional<TransferTargets> m_targets;  // of the file being moved
    int m_tries = 0;                           // reconnects for this file
    bool m_waiting = false;                    // between reconnect tries
    int m_index = 0;
    std::int64_t m_fileBytes = 0;
    bool m_running = false;
    bool m_fileRunning = false;
    bool m_cancelled = false;
    bool m_cancelLogged = false;
};

}  // namespace quill
