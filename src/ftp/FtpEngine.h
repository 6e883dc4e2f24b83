#pragma once

#include "common/WorkerQueue.h"
#include "net/FtpConnection.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace quill {

// Runs every FTP operation on one worker thread that owns the connection, one
// at a time and in the order asked, so the window never waits on the network.
// Each operation's result comes back to `done` on the engine's own thread;
// when the engine is destroyed first, pending results are dropped. The
// worker never shows anything.
class FtpEngine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FtpEngine)
public:
    explicit FtpEngine(QObject* parent = nullptr);
    // Stops the running operation, closes the connection and ends the worker.
    ~FtpEngine() override;

    // Operations asked for and not yet answered.
    bool busy() const { return m_queue.busy(); }
    // A connection is open (as far as the answered operations tell).
    bool hasConnection() const { return m_connected; }

    // Makes the running operation (and any queued behind it) end soon with
    // FtpErrorKind::Stopped.
    void stop();

    // Connects and logs in; the result is the login folder. An open
    // connection is closed first.
    void connectServer(std::string agent, FtpConnectParams params,
                       std::function<void(FtpResult<std::string>)> done);

    // Runs job on the open connection; "not connected" when there is none.
    template <typename T>
    void run(std::function<FtpResult<T>(FtpConnection&)> job,
             std::function<void(FtpResult<T>)> done) {
        m_queue.submit<FtpResult<T>>(
            [this, job = std::move(job)]() -> FtpResult<T> {
                if (!m_connection) {
                    return std::unexpected(FtpError{0, "Not connected", FtpErrorKind::Failed});
                }
                auto result = job(*m_connection);
                postNotes();
                return result;
            },
            std::move(done));
    }

    // Stops what runs and closes the connection.
    void closeConnection();

    // For jobs: runs fn on the engine's own thread, before the job's result
    // arrives there; dropped when the engine is gone first.
    void post(std::function<void()> fn) { m_queue.post(std::move(fn)); }

    // An idle connection hears from us this often, so the server's idle
    // time-out does not drop it.
    static constexpr int kKeepAliveMs = 50'000;
    void setKeepAliveInterval(int ms) { m_keepAlive.setInterval(ms); }

Q_SIGNALS:
    void busyChanged(bool busy);
    // Something the user should read in the log (not a failure).
    void noteForLog(const QString& text);

private:
    // On the worker: the connection's notes go to the log, in order, before
    // the job's result arrives.
    void postNotes();
    void keepAlive();

    WorkerQueue m_queue{QStringLiteral("FTP engine")};
    // Touched only by jobs, on the worker thread.
    std::unique_ptr<FtpConnection> m_connection;
    std::unique_ptr<NetworkLibrary> m_session;
    bool m_connected = false;
    QTimer m_keepAlive;
};

}  // namespace quill
