#include "PublishJob.h"

#include <QLocale>
#include <QMetaObject>

#include <utility>

namespace quill {

Publisher::Connector PublishConnector(FtpConnectParams params, std::string agent) {
    std::shared_ptr<const NetworkLibrary> session = NetworkLibrary::Open(std::move(agent));
    return [session, params = std::move(params)](
               const std::atomic<bool>* stop) -> FtpResult<std::unique_ptr<FtpConnection>> {
        if (!session) {
            return std::unexpected(
                FtpError{0, "The network library cannot be started", FtpErrorKind::Local});
        }
        FtpConnectParams own = params;
        own.stop = stop;
        return FtpConnection::Connect(*session, std::move(own));
    };
}

bool PlanHasWork(const PublishPlan& plan, bool deleteRemoved) {
    const int deletions = plan.count(PublishAction::Delete);
    return std::ssize(plan.steps) > deletions || (deleteRemoved && deletions > 0) ||
           !plan.newFolders.empty() || !plan.leftovers.empty();
}

QString PublishSummary(const PublishTotals& totals, int deletionsLeft, double seconds) {
    QString text =
        QStringLiteral("%1: %2 new, %3 replaced, %4 deleted, %5 unchanged, %6 failed")
            .arg(totals.stopped ? QStringLiteral("Stopped") : QStringLiteral("Published"))
            .arg(totals.uploaded)
            .arg(totals.replaced)
            .arg(totals.deleted)
            .arg(totals.unchanged)
            .arg(totals.failed);
    if (totals.notDone > 0) {
        text += QStringLiteral(", %1 not done").arg(totals.notDone);
    }
    if (deletionsLeft > 0) {
        text += QStringLiteral(", %1 removed here left on the server").arg(deletionsLeft);
    }
    return text + QStringLiteral("; %1 sent in %2 s.")
                      .arg(QLocale::system().formattedDataSize(totals.bytes, 1,
                                                               QLocale::DataSizeTraditionalFormat))
                      .arg(seconds, 0, 'f', 1);
}

// Passes the run's reports to the job's thread; the run calls it one call
// at a time from its workers.
class PublishJob::Relay final : public PublishObserver {
public:
    explicit Relay(PublishJob& job) : m_job(job) {}
    void stepDone(const PublishStep& step, const std::optional<FtpError>& error) override {
        m_job.m_queue.post([job = &m_job, step, error] { Q_EMIT job->stepDone(step, error); });
    }
    void note(const std::string& text) override {
        m_job.m_queue.post(
            [job = &m_job, text = QString::fromStdString(text)] { Q_EMIT job->note(text); });
    }

private:
    PublishJob& m_job;
};

PublishJob::PublishJob(Publisher::Connector connect, const std::filesystem::path& programFolder,
                       std::string site, std::filesystem::path localFolder,
                       std::string remoteFolder, QObject* parent)
    : QObject(parent),
      m_publisher(std::move(connect), programFolder, site, std::move(localFolder),
                  std::move(remoteFolder)),
      m_site(std::move(site)) {
}

PublishJob::~PublishJob() {
    // The queue waits for the running plan or run, which the stop ends soon.
    stop();
}

void PublishJob::plan(int connections) {
    if (m_working) {
        return;
    }
    m_working = true;
    m_queue.submit<FtpResult<PublishPlan>>(
        [this, connections] { return m_publisher.Plan(connections); },
        [this](FtpResult<PublishPlan> result) {
            m_working = false;
            if (!result) {
                Q_EMIT failed(result.error());
                return;
            }
            m_plan = std::move(*result);
            Q_EMIT planned(m_plan);
        });
}

void PublishJob::run(const PublishOptions& options) {
    if (m_working) {
        return;
    }
    m_working = true;
    m_queue.submit<PublishTotals>(
        [this, options] {
            Relay relay(*this);
            return m_publisher.Run(m_plan, options, relay);
        },
        // Posted after the last step, so finished() comes last.
        [this](PublishTotals totals) {
            m_working = false;
            Q_EMIT finished(totals);
        });
}

}  // namespace quill
