#pragma once

#include "Publisher.h"
#include "common/WorkerQueue.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quill {

// A connector that opens its own Internet session, so a publish does not
// depend on a window's session staying open. Fails every attempt when the
// network library cannot be started.
Publisher::Connector PublishConnector(FtpConnectParams params, std::string agent);

// Running the plan would change something on the server: files to send,
// folders to create, leftovers to clear, or (when chosen) files to delete.
bool PlanHasWork(const PublishPlan& plan, bool deleteRemoved);

// A finished run in one line, for a log or a message: "Published: 2 new, 1
// replaced, ...; 4.1 KB sent in 0.3 s." deletionsLeft are files removed here
// that were left on the server.
QString PublishSummary(const PublishTotals& totals, int deletionsLeft, double seconds);

// A publish for a window: Plan and Run go to one worker thread, what they
// report comes back as signals on the job's thread. Destroying the job stops
// a running plan or run and waits for it.
class PublishJob final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PublishJob)
public:
    PublishJob(Publisher::Connector connect, const std::filesystem::path& programFolder,
               std::string site, std::filesystem::path localFolder, std::string remoteFolder,
               QObject* parent = nullptr);
    ~PublishJob() override;

    // Plans on the worker: planned() or failed() follows.
    void plan(int connections = kDefaultPublishConnections);
    // Carries out the plan planned() gave: stepDone() and note() as it goes,
    // finished() at the end.
    void run(const PublishOptions& options);
    // From any thread: the plan or run ends soon, every remote file whole.
    void stop() { m_publisher.stop(); }
    bool stopping() const { return m_publisher.stopping(); }
    // Planning or running.
    bool working() const { return m_working; }
    PublishProgress progress() const { return m_publisher.progress(); }
    // The last plan, empty before planned().
    const PublishPlan& lastPlan() const { return m_plan; }
    const std::string& site() const { return m_site; }

Q_SIGNALS:
    void planned(const quill::PublishPlan& plan);
    void failed(const quill::FtpError& error);
    void stepDone(const quill::PublishStep& step, const std::optional<quill::FtpError>& error);
    void note(const QString& text);
    void finished(const quill::PublishTotals& totals);

private:
    class Relay;

    Publisher m_publisher;
    std::string m_site;
    PublishPlan m_plan;
    bool m_working = false;
    // Last, so it goes first: its jobs use the publisher.
    WorkerQueue m_queue{QStringLiteral("PublishJob")};
};

}  // namespace quill
