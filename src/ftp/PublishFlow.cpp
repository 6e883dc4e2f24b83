#include "PublishFlow.h"

#include "PublishPreview.h"
#include "common/TextCodec.h"
#include "frmProg.h"
#include "platform/AppContext.h"
#include "publish/PublishJob.h"

namespace quill {

PublishFlow::PublishFlow(AppContext& context, PublishJob* job, QString from, QString destination,
                         QWidget* window)
    : QObject(window),
      m_context(context),
      m_job(job),
      m_from(std::move(from)),
      m_destination(std::move(destination)),
      m_window(window) {
    job->setParent(this);
    connect(job, &PublishJob::planned, this, &PublishFlow::planned);
    connect(job, &PublishJob::failed, this, [this](const FtpError& error) {
        QString reason = ShownText(error.text);
        if (error.kind == FtpErrorKind::Untrusted && error.key) {
            reason = QStringLiteral(
                         "the server's %1 is not trusted yet; connect to the site once "
                         "in the FTP client to accept it")
                         .arg(error.key->type == "certificate" ? QStringLiteral("certificate")
                                                               : QStringLiteral("host key"));
        }
        if (error.kind != FtpErrorKind::Stopped) {
            m_context.dialogs.message(QStringLiteral("Cannot publish: ") + reason,
                                      MessageIcon::Exclamation);
        }
        finish(false, {}, QStringLiteral("Publish not started: ") + reason);
    });
}

PublishFlow::~PublishFlow() = default;

void PublishFlow::start() {
    Q_EMIT logEntry(QStringLiteral(" > Comparing ") + m_from + QStringLiteral(" with ") +
                    m_destination + QStringLiteral("..."));
    m_job->plan();
}

void PublishFlow::stop() {
    if (m_job) {
        m_job->stop();
    }
}

void PublishFlow::planned(const PublishPlan& plan) {
    for (const std::string& text : plan.notes) {
        Q_EMIT logEntry(QStringLiteral(" > ") + ShownText(text));
    }
    // Nothing to show: said at once, without the preview.
    if (!PlanHasWork(plan, true) && plan.problems.empty()) {
        const QString text = QStringLiteral(
                                 "Nothing to publish: the server has all %1 files as "
                                 "they are here.")
                                 .arg(plan.unchanged);
        m_context.dialogs.message(text, MessageIcon::Information);
        finish(false, {}, text);
        return;
    }
    auto* preview = new PublishPreview(plan, m_from, m_destination, m_window);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    connect(preview, &QDialog::accepted, this, [this, preview] {
        if (!m_job) {
            return;
        }
        auto* prog = new frmProg(m_context, m_window);
        connect(prog, &frmProg::logEntry, this, &PublishFlow::logEntry);
        connect(prog, &frmProg::publishEnded, this,
                [this](const PublishTotals& totals, const QString& summary) {
                    finish(true, totals, summary);
                });
        prog->Publish(m_job, preview->options(), m_destination);
        prog->show();
    });
    connect(preview, &QDialog::rejected, this,
            [this] { finish(false, {}, QStringLiteral("Publish cancelled.")); });
    preview->open();
}

void PublishFlow::finish(bool ran, const PublishTotals& totals, const QString& summary) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    if (!ran) {
        Q_EMIT logEntry(QStringLiteral(" > ") + summary);
    }
    Q_EMIT ended(ran, totals, summary);
    deleteLater();
}

}  // namespace quill
