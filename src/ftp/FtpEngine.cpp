#include "FtpEngine.h"

namespace quill {

FtpEngine::FtpEngine(QObject* parent) : QObject(parent) {
    connect(&m_queue, &WorkerQueue::busyChanged, this, &FtpEngine::busyChanged);
    m_keepAlive.setInterval(kKeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &FtpEngine::keepAlive);
    connect(this, &FtpEngine::busyChanged, this, [this](bool busy) {
        if (busy || !m_connected) {
            m_keepAlive.stop();
        } else {
            m_keepAlive.start();
        }
    });
}

FtpEngine::~FtpEngine() {
    m_queue.shutdown();
    // The worker has ended: the connection can go on this thread.
    m_connection.reset();
    m_session.reset();
}

void FtpEngine::stop() {
    m_queue.stop();
}

void FtpEngine::postNotes() {
    if (!m_connection) {
        return;
    }
    for (auto& note : m_connection->TakeNotes()) {
        post([this, text = QString::fromStdString(note)] { Q_EMIT noteForLog(text); });
    }
}

// Runs quietly on the worker: the window's commands stay enabled, and a
// command asked meanwhile waits only for this one short exchange.
void FtpEngine::keepAlive() {
    if (busy() || !m_connected) {
        return;
    }
    m_queue.clearStop();  // a stop was for an operation that has ended
    m_queue.runQuietly([this] {
        if (m_connection) {
            (void)m_connection->KeepAlive();
            postNotes();
        }
    });
}

void FtpEngine::connectServer(std::string agent, FtpConnectParams params,
                              std::function<void(FtpResult<std::string>)> done) {
    params.stop = &m_queue.stopFlag();
    m_queue.submit<FtpResult<std::string>>(
        [this, agent = std::move(agent), params = std::move(params)]() -> FtpResult<std::string> {
            m_connection.reset();
            m_session = NetworkLibrary::Open(agent);
            if (!m_session) {
                return std::unexpected(
                    FtpError{0, "The network library could not start", FtpErrorKind::Failed});
            }
            auto connection = FtpConnection::Connect(*m_session, params);
            if (!connection) {
                return std::unexpected(connection.error());
            }
            m_connection = std::move(*connection);
            if (const std::string& note = m_connection->TrustNote(); !note.empty()) {
                post([this, text = QString::fromStdString(note)] { Q_EMIT noteForLog(text); });
            }
            return m_connection->CurrentDirectory();
        },
        [this, done = std::move(done)](FtpResult<std::string> result) {
            m_connected = result.has_value();
            done(std::move(result));
        });
}

void FtpEngine::closeConnection() {
    m_connected = false;
    stop();
    m_queue.submit<bool>(
        [this] {
            m_connection.reset();
            // The stop was for what ran before the close; what is asked
            // after it must run.
            m_queue.clearStop();
            return true;
        },
        [](bool) {});
}

}  // namespace quill
