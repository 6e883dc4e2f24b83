#include "TransferBatch.h"

#include "common/TextCodec.h"
#include "common/TextOps.h"
#include "platform/Dialogs.h"

#include <QDateTime>
#include <QPointer>

#include <sys/stat.h>

#include <chrono>

namespace quill {
namespace {

// Names listed in the end message; the log has every one.
constexpr std::size_t kNamesInEndMessage = 10;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString quoted(const std::string& bytes) {
    return QStringLiteral("\"") + ShownText(bytes) + QStringLiteral("\"");
}

}  // namespace

TransferBatch::TransferBatch(FtpEngine& engine, Dialogs& dialogs, TransferPlan plan,
                             QObject* parent)
    : QObject(parent),
      now(&steadyMs),
      m_engine(engine),
      m_dialogs(dialogs),
      m_plan(std::move(plan)),
      m_meter(m_plan.total()),
      m_moved(std::make_shared<std::atomic<std::int64_t>>(0)) {
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &TransferBatch::refresh);
}

// A job still running keeps its own share of the counter, and its answer
// finds no batch; the engine may already be gone, so it is not touched here.
TransferBatch::~TransferBatch() = default;

void TransferBatch::start() {
    if (m_running) {
        return;
    }
    m_running = true;
    m_index = 0;
    Q_EMIT progressed();
    m_refresh.start();
    nextFile();
}

void TransferBatch::cancel() {
    if (!m_running || m_cancelled) {
        return;
    }
    m_cancelled = true;
    if (m_waiting) {
        // Nothing runs between two reconnect tries.
        m_waiting = false;
        finish();
        return;
    }
    m_engine.stop();
}

void TransferBatch::refresh() {
    if (!m_fileRunning) {
        return;
    }
    m_fileBytes = m_moved->load(std::memory_order_relaxed);
    m_meter.update(m_fileBytes, now());
    Q_EMIT progressed();
}

bool TransferBatch::refuseName(const QueuedFile& file) {
    if (IsPlainName(file.name) && !HoldsLineBreak(file.name)) {
        return false;
    }
    m_failures.push_back({file.name, QStringLiteral("not a plain file name")});
    Q_EMIT logEntry(QStringLiteral(" > Skipped ") + quoted(file.name) +
                    QStringLiteral(": a file name may not be \".\" or \"..\" and may not hold "
                                   "\"/\", a NUL or a line break."));
    m_dialogs.message(QStringLiteral("The file name ") + quoted(file.name) +
                          QStringLiteral(" cannot be used: a file name may not be \".\" or \"..\" "
                                         "and may not hold \"/\", a NUL or a line break. The file "
                                         "is skipped."),
                      MessageIcon::Exclamation);
    return true;
}

namespace {

// "\r\nname (reason)" lines for a message box: the first few, then a count.
QString nameLines(const std::vector<std::string>& names, const std::vector<QString>& reasons = {}) {
    QString text;
    for (std::size_t i = 0; i < names.size() && i < kNamesInEndMessage; ++i) {
        text += QStringLiteral("\r\n") + ShownText(names[i]);
        if (i < reasons.size()) {
            text += QStringLiteral(" (") + reasons[i] + QStringLiteral(")");
        }
    }
    if (names.size() > kNamesInEndMessage) {
        text += QStringLiteral("\r\nand ") + QString::number(names.size() - kNamesInEndMessage) +
                QStringLiteral(" more (see the status log).");
    }
    return text;
}

QString filesCount(std::size_t count) {
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

}  // namespace

TransferTargets ProbeTargets(FtpConnection& connection, const std::string& remotePath,
                             const std::string& localPath) {
    TransferTargets targets;
    if (auto remote = connection.FileInfo(remotePath)) {
        targets.remote = *remote;
        targets.remoteKnown = true;
    }
    struct stat info {};
    if (::stat(localPath.c_str(), &info) == 0) {
        targets.localExists = true;
        targets.localSize = info.st_size;
        targets.localModified = info.st_mtim.tv_sec;
    }
    return targets;
}

void TransferBatch::nextFile() {
    // Files with names that cannot be used are passed over in a loop, not by
    // recursion, however many there are.
    while (!m_cancelled && m_index < static_cast<int>(m_plan.files.size())) {
        const QueuedFile& file = m_plan.files[static_cast<std::size_t>(m_index)];
        Q_EMIT fileStarted(m_index);
        if (refuseName(file)) {
            ++m_index;
            continue;
        }
        m_tries = 0;
        m_targets.reset();
        m_fileRunning = true;
        m_engine.run<TransferTargets>(
            [remote = remotePathOf(file), local = localPathOf(file)](FtpConnection& connection) {
                return FtpResult<TransferTargets>(ProbeTargets(connection, remote, local));
            },
            [self = QPointer<TransferBatch>(this)](FtpResult<TransferTargets> targets) {
                if (self) {
                    self->probed(targets ? *targets : TransferTargets{});
                }
            });
        return;
    }
    finish();
}

bool TransferBatch::targetExists(const TransferTargets& targets) const {
    return m_plan.direction == TransferDirection::Download ? targets.localExists
                                                           : targets.remote.exists;
}

bool TransferBatch::mayWriteOver(const QueuedFile& file, const TransferTargets& targets) {
    if (!targetExists(targets)) {
        return true;
    }
    OverwriteAnswer answer = m_forAll.value_or(OverwriteAnswer::Replace);
    if (!m_forAll) {
        auto seconds = [](std::int64_t when) {
            return when < 0 ? QDateTime() : QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
        };
        OverwriteQuestion question;
        question.name = ShownText(file.name);
        question.localTarget = m_plan.direction == TransferDirection::Download;
        const std::pair<std::int64_t, QDateTime> local{targets.localSize,
                                                       seconds(targets.localModified)};
        const std::pair<std::int64_t, QDateTime> remote{targets.remote.size,
                                                        seconds(targets.remote.modified)};
        const auto& [existing, coming] =
            question.localTarget ? std::pair(local, remote) : std::pair(remote, local);
        std::tie(question.existingSize, question.existingTime) = existing;
        std::tie(question.newSize, question.newTime) = coming;
        answer = m_dialogs.askOverwrite(question);
    }
    switch (answer) {
        case OverwriteAnswer::ReplaceAll:
            m_forAll = OverwriteAnswer::Replace;
            return true;
        case OverwriteAnswer::SkipAll:
            m_forAll = OverwriteAnswer::Skip;
            break;
        case OverwriteAnswer::Cancel:
            m_cancelled = true;
            return false;
        case OverwriteAnswer::Replace:
            return true;
        case OverwriteAnswer::Skip:
            break;
    }
    m_skipped.push_back(file.name);
    Q_EMIT logEntry(QStringLiteral(" > Skipped ") + quoted(file.name) +
                    QStringLiteral(": the file is already there and was left as it was."));
    return false;
}

void TransferBatch::probed(const TransferTargets& targets) {
    m_fileRunning = false;
    const QueuedFile& file = m_plan.files[static_cast<std::size_t>(m_index)];
    // A stop while the server was asked ends the batch like a stopped file.
    if (m_cancelled || !mayWriteOver(file, targets)) {
        if (!m_cancelled) {
            ++m_index;
        }
        nextFile();
        return;
    }
    m_targets = targets;
    if (m_plan.direction == TransferDirection::Download) {
        Q_EMIT logEntry(QStringLiteral(" > Accomplishing data transfer...\r\n > Downloading "
                                       "from: ") +
                        ShownText(remotePathOf(file)) + QStringLiteral(", to: ") +
                        ShownText(localPathOf(file)));
    } else {
        Q_EMIT logEntry(QStringLiteral(" > Begining data transfer...\r\n > Uploading from: ") +
                        ShownText(localPathOf(file)) + QStringLiteral(", to: ") +
                        ShownText(remotePathOf(file)));
    }
    startTransfer();
}

void TransferBatch::startTransfer() {
    const QueuedFile& file = m_plan.files[static_cast<std::size_t>(m_index)];
    const std::string local = localPathOf(file);
    const std::string remote = remotePathOf(file);
    m_moved->store(0);
    m_fileBytes = 0;
    m_meter.startFile(now());
    m_fileRunning = true;
    // What the server said before the question; asked again after a
    // reconnect, since the file may have changed meanwhile.
    std::optional<FtpFileInfo> known;
    if (m_targets && m_targets->remoteKnown && m_tries == 0) {
        known = m_targets->remote;
    }
    std::function<FtpResult<std::int64_t>(FtpConnection&)> job;
    if (m_plan.direction == TransferDirection::Download) {
        job = [remote, local, known, moved = m_moved](FtpConnection& connection) {
            return connection.DownloadFile(remote, local, moved.get(), known ? &*known : nullptr);
        };
    } else {
        job = [remote, local, known, moved = m_moved](FtpConnection& connection) {
            return connection.UploadFile(local, remote, moved.get(), known ? &*known : nullptr);
        };
    }
    m_engine.run<std::int64_t>(
        std::move(job), [self = QPointer<TransferBatch>(this)](FtpResult<std::int64_t> result) {
            if (self) {
                self->fileFinished(result);
            }
        });
}

void TransferBatch::fileFinished(const FtpResult<std::int64_t>& result) {
    m_fileRunning = false;
    // The last refresh of the file, with its exact count.
    m_fileBytes = result ? *result : m_moved->load();
    m_meter.update(m_fileBytes, now());
    Q_EMIT progressed();
    const bool lost = !result && !m_cancelled &&
                      (result.error().kind == FtpErrorKind::Dropped ||
                       result.error().kind == FtpErrorKind::TimedOut);
    if (lost) {
        // The file is tried again where it broke off once the connection
        // is back; its bytes so far do not count twice.
        reconnect(VisibleControls(Qs(result.error().text)));
        return;
    }
    m_meter.endFile();
    const QueuedFile& file = m_plan.files[static_cast<std::size_t>(m_index)];
    ++m_index;
    if (result) {
        Q_EMIT logEntry(QStringLiteral(" > OK"));
    } else if (result.error().kind == FtpErrorKind::Stopped) {
        m_cancelled = true;
        m_cancelLogged = true;
        Q_EMIT logEntry(QStringLiteral(" > Opertion Canceled."));
        if (m_plan.direction == TransferDirection::Download) {
            Q_EMIT logEntry(QStringLiteral(" > The local file was left as it was: ") +
                            ShownText(localPathOf(file)));
        } else if (result.error().opened) {
            Q_EMIT logEntry((result.error().targetIntact
                                 ? QStringLiteral(" > The file on the server was left as it was: ")
                                 : QStringLiteral(" > The file on the server is incomplete: ")) +
                            ShownText(remotePathOf(file)));
        }
    } else if (!result.error().opened && result.error().kind != FtpErrorKind::Local) {
        stopOnOpenFailure(result.error());
        return;
    } else {
        failFile(file, result.error());
    }
    nextFile();
}

void TransferBatch::reconnect(const QString& reason) {
    if (m_tries >= kReconnectTries) {
        giveUpReconnecting();
        return;
    }
    const int delay = reconnectDelayMs << m_tries;
    ++m_tries;
    Q_EMIT logEntry(QStringLiteral(" > The connection was lost (") + reason +
                    QStringLiteral("). Reconnecting in ") +
                    QString::number(static_cast<double>(delay) / 1000.0) +
                    QStringLiteral(" s (try ") + QString::number(m_tries) + QStringLiteral(" of ") +
                    QString::number(kReconnectTries) + QStringLiteral(")..."));
    m_waiting = true;
    QTimer::singleShot(delay, this, [this] {
        if (!m_waiting) {
            return;
        }
        m_waiting = false;
        m_fileRunning = true;
        m_engine.run<bool>(
            [](FtpConnection& connection) -> FtpResult<bool> {
                if (auto done = connection.Reconnect(); !done) {
                    return std::unexpected(done.error());
                }
                return true;
            },
            [self = QPointer<TransferBatch>(this)](FtpResult<bool> done) {
                if (!self) {
                    return;
                }
                self->m_fileRunning = false;
                if (self->m_cancelled) {
                    self->m_meter.endFile();
                    ++self->m_index;
                    self->finish();
                } else if (done) {
                    Q_EMIT self->logEntry(QStringLiteral(" > Reconnected; the transfer goes on."));
                    self->startTransfer();
                } else {
                    self->reconnect(VisibleControls(Qs(done.error().text)));
                }
            });
    });
}

void TransferBatch::giveUpReconnecting() {
    for (int i = m_index; i < static_cast<int>(m_plan.files.size()); ++i) {
        const std::string& name = m_plan.files[static_cast<std::size_t>(i)].name;
        m_notDone.push_back(name);
    }
    m_meter.endFile();
    m_index = static_cast<int>(m_plan.files.size());
    Q_EMIT logEntry(QStringLiteral(" > Gave up after ") + QString::number(kReconnectTries) +
                    QStringLiteral(" tries to reconnect and go on; ") +
                    filesCount(m_notDone.size()) + QStringLiteral(" not transferred."));
    finish();
}

void TransferBatch::failFile(const QueuedFile& file, const FtpError& error) {
    const QString reason = VisibleControls(Qs(error.text));
    m_failures.push_back({file.name, reason});
    if (m_plan.direction == TransferDirection::Download) {
        Q_EMIT logEntry(QStringLiteral(" > Download of ") + quoted(file.name) +
                        QStringLiteral(" failed: ") + reason);
        Q_EMIT logEntry(QStringLiteral(" > The local file was left as it was: ") +
                        ShownText(localPathOf(file)));
        m_dialogs.message(QStringLiteral("The file ") + quoted(file.name) +
                              QStringLiteral(" could not be downloaded: ") + reason +
                              QStringLiteral("\r\nThe local file was left as it was."),
                          MessageIcon::Exclamation);
        return;
    }
    if (error.opened) {
        Q_EMIT logEntry(QStringLiteral(" > Nastala chyba pøi pøevodu dat! Požadavek stornován!"));
    }
    Q_EMIT logEntry(QStringLiteral(" > Upload of ") + quoted(file.name) +
                    QStringLiteral(" failed: ") + reason);
    if (error.opened) {
        Q_EMIT logEntry((error.targetIntact
                             ? QStringLiteral(" > The file on the server was left as it was: ")
                             : QStringLiteral(" > The file on the server is incomplete: ")) +
                        ShownText(remotePathOf(file)));
    }
    m_dialogs.message(QStringLiteral("The file ") + quoted(file.name) +
                          QStringLiteral(" could not be uploaded: ") + reason,
                      MessageIcon::Exclamation);
}

void TransferBatch::stopOnOpenFailure(const FtpError& error) {
    m_refresh.stop();
    m_running = false;
    if (m_plan.direction == TransferDirection::Download) {
        Q_EMIT logEntry(QStringLiteral(" > Can't open file path! Request canceled!"));
        Q_EMIT logEntry(QStringLiteral(" > ") + VisibleControls(Qs(error.text)));
        m_dialogs.message(QStringLiteral("Can't open file path!"), MessageIcon::Exclamation,
                          QStringLiteral("Problém s URL"));
    } else {
        Q_EMIT logEntry(
            QStringLiteral(" > Cant create requested file on server! request canceled!"));
        Q_EMIT logEntry(QStringLiteral(" > ") + VisibleControls(Qs(error.text)));
        m_dialogs.message(QStringLiteral("Cant create requested file on server"),
                          MessageIcon::Exclamation);
    }
    Q_EMIT ended();
}

void TransferBatch::finish() {
    m_refresh.stop();
    m_running = false;
    QString skipped;
    if (!m_skipped.empty()) {
        skipped = QStringLiteral("\r\n\r\nSkipped, as already there: ") +
                  filesCount(m_skipped.size()) + QStringLiteral(":") + nameLines(m_skipped);
    }
    if (!m_notDone.empty()) {
        m_dialogs.message(QStringLiteral("The connection to the server was lost, and ") +
                              QString::number(kReconnectTries) +
                              QStringLiteral(" tries to reconnect and go on did not help. These "
                                             "files were not transferred:") +
                              nameLines(m_notDone) + skipped,
                          MessageIcon::Exclamation);
        Q_EMIT ended();
        return;
    }
    if (m_cancelled) {
        // The file may have ended before the stop reached it.
        if (!m_cancelLogged) {
            Q_EMIT logEntry(QStringLiteral(" > Opertion Canceled."));
        }
        m_dialogs.message(QStringLiteral("Opertion Canceled.") + skipped, MessageIcon::Information);
        Q_EMIT ended();
        return;
    }
    if (m_failures.empty()) {
        m_dialogs.message(QStringLiteral("Data transfer completed.") + skipped,
                          MessageIcon::Information);
        Q_EMIT ended();
        return;
    }
    const QString count = QString::number(m_failures.size()) + QStringLiteral(" of ") +
                          filesCount(m_plan.files.size()) + QStringLiteral(" failed");
    Q_EMIT logEntry(QStringLiteral(" > Data transfer completed; ") + count + QStringLiteral("."));
    std::vector<std::string> names;
    std::vector<QString> reasons;
    for (const auto& failure : m_failures) {
        names.push_back(failure.name);
        reasons.push_back(failure.reason);
    }
    m_dialogs.message(QStringLiteral("Data transfer completed, but ") + count +
                          QStringLiteral(":") + nameLines(names, reasons) + skipped,
                      MessageIcon::Exclamation);
    Q_EMIT ended();
}

}  // namespace quill
