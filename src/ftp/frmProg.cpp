#include "frmProg.h"

#include "common/TextCodec.h"
#include "platform/AppContext.h"
#include "publish/PublishJob.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace quill {
namespace {

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// A value label, read out under the caption of the label beside it.
QLabel* valueLabel(const char* name, const QString& caption, QWidget* parent) {
    auto* label = namedLabel(name, {}, parent);
    label->setAccessibleName(caption);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

frmProg::frmProg(AppContext& context, QWidget* parent) : QDialog(parent), m_context(context) {
    setObjectName(QStringLiteral("frmProg"));
    setWindowTitle(QStringLiteral("Upload/Download"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);

    auto* grid = new QGridLayout;
    int row = 0;
    auto pair = [&](const char* captionName, const QString& caption, const char* valueName,
                    QLabel** captionOut = nullptr) {
        QLabel* captionLabel = namedLabel(captionName, caption, this);
        QLabel* value = valueLabel(valueName, QString(caption).remove(QLatin1Char(':')), this);
        grid->addWidget(captionLabel, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
        if (captionOut) {
            *captionOut = captionLabel;
        }
        return value;
    };
    m_lbCelkem = pair("Label3", QStringLiteral("Kb to transfer:"), "lbCelkem");
    m_lbTime = pair("Label6", QStringLiteral("Time elapsed:"), "lbTime");
    m_lbFar = pair("Label4", QStringLiteral("Bytes sent:"), "lbFar", &m_label4);
    m_lbTimeLeft = pair("Label9", QStringLiteral("Time remaining:"), "lbTimeLeft");
    m_lbLeft = pair("Label5", QStringLiteral("Bytes to send:"), "lbLeft");
    m_lbLeft->setVisible(false);
    m_lbSpeed = pair("Label7", QStringLiteral("Speed:"), "lbSpeed");
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 160);

    m_label1 = namedLabel("Label1", QStringLiteral("Downloading file:"), this);
    m_label1->setWordWrap(true);
    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setAccessibleName(QStringLiteral("Progress of the file"));
    m_label2 = namedLabel("Label2", QStringLiteral("File:             / 5"), this);
    // lbCount sits in the gap of Label2's caption.
    m_lbCount = valueLabel("lbCount", QStringLiteral("File number"), m_label2);
    m_lbCount->setText(QStringLiteral("0"));
    m_lbCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_label2->installEventFilter(this);
    m_progressBar2 = new QProgressBar(this);
    m_progressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    m_progressBar2->setAccessibleName(QStringLiteral("Progress of the batch"));
    for (QProgressBar* bar : {m_progressBar1, m_progressBar2}) {
        bar->setMinimum(0);
        bar->setMaximum(100);
        bar->setValue(0);
    }

    m_command3 = new QPushButton(QStringLiteral("Download"), this);
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_command3->setAutoDefault(false);
    connect(m_command3, &QPushButton::clicked, this, &frmProg::Command3_Click);
    m_command1 = new QPushButton(QStringLiteral("Cancel"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setEnabled(false);
    connect(m_command1, &QPushButton::clicked, this, &frmProg::Command1_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_command3);
    buttons->addWidget(m_command1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_label1);
    layout->addWidget(m_progressBar1);
    layout->addWidget(m_label2);
    layout->addWidget(m_progressBar2);
    layout->addLayout(buttons);
    resize(440, 320);
    placeCount();
}

frmProg::frmProg(AppContext& context, FtpEngine& engine, TransferPlan plan, QWidget* parent)
    : frmProg(context, parent) {
    const bool upload = plan.direction == TransferDirection::Upload;
    // An empty queue leaves the captions as they were.
    if (!plan.files.empty()) {
        m_label2->setText(
            (upload ? QStringLiteral("Status:       /") : QStringLiteral("File:             /")) +
            QString::number(plan.files.size()));
        placeCount();
        m_command3->setText(upload ? QStringLiteral("Upload") : QStringLiteral("Download"));
        m_label4->setText(upload ? QStringLiteral("Bytes send:")
                                 : QStringLiteral("Bytes received:"));
    }
    m_lbCelkem->setText(QString::number(plan.total()));
    m_batch = new TransferBatch(engine, m_context.dialogs, std::move(plan), this);
    connect(m_batch, &TransferBatch::logEntry, this, &frmProg::logEntry);
    connect(m_batch, &TransferBatch::fileStarted, this, &frmProg::showFile);
    connect(m_batch, &TransferBatch::progressed, this, &frmProg::showProgress);
    connect(m_batch, &TransferBatch::ended, this, [this] {
        Q_EMIT batchEnded(m_batch->direction());
        close();
    });
}

frmProg::~frmProg() = default;

void frmProg::placeCount() {
    // The count covers the blanks between "File:" (or "Status:") and "/".
    const QString text = m_label2->text();
    const auto colon = text.indexOf(QLatin1Char(':'));
    const auto slash = text.indexOf(QLatin1Char('/'));
    const QFontMetrics metrics(m_label2->font());
    const int left = metrics.horizontalAdvance(text.left(colon + 2));
    const int right = slash > colon ? metrics.horizontalAdvance(text.left(slash)) : left + 40;
    const int width = std::max(right - left - metrics.horizontalAdvance(QLatin1Char(' ')), 24);
    // Label2 centres its line; the count is centred the same way.
    m_lbCount->setGeometry(left, 0, width, m_label2->height());
}

bool frmProg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_label2 && event->type() == QEvent::Resize) {
        placeCount();
    }
    return QDialog::eventFilter(watched, event);
}

void frmProg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Started from the event loop, so a batch that ends at once (nothing
    // queued) does not close the window while it is being shown.
    if (m_batch && !m_started) {
        QTimer::singleShot(0, this, &frmProg::Command3_Click);
    }
}

void frmProg::Command3_Click() {
    if (!m_batch || m_started) {
        return;
    }
    m_started = true;
    const TransferMeter::Labels& labels = m_batch->meter().labels();
    m_lbLeft->setVisible(true);
    m_lbLeft->setText(Qs(labels.lbLeft));
    m_lbLeft->repaint();
    m_lbCelkem->setText(Qs(labels.lbCelkem));
    m_command3->setEnabled(false);
    m_command1->setEnabled(true);
    m_command1->setFocus();
    // Both directions move the bars.
    m_batchSteps = BarStepsFor(m_batch->meter().total());
    m_progressBar2->setMaximum(std::max(m_batchSteps.maximum, 1));
    m_progressBar2->setValue(0);
    m_batch->start();
}

void frmProg::Command1_Click() {
    if (m_batch) {
        m_batch->cancel();
    }
    if (m_job && m_job->working() && !m_job->stopping()) {
        m_job->stop();
        m_label1->setText(QStringLiteral("Stopping: no file on the server is left half written."));
        Q_EMIT logEntry(QStringLiteral(" > Stopping the publish."));
    }
}

bool frmProg::running() const {
    return (m_batch && m_batch->running()) || (m_job && m_job->working());
}

void frmProg::Publish(PublishJob* job, const PublishOptions& options, const QString& destination) {
    if (m_batch || m_job || !job) {
        return;
    }
    job->setParent(this);
    m_job = job;
    const PublishPlan& plan = job->lastPlan();
    const int deletions = plan.count(PublishAction::Delete);
    m_deletionsLeft = options.deleteRemoved ? 0 : deletions;
    m_publishFiles = static_cast<int>(plan.steps.size()) - m_deletionsLeft;
    m_publishMeter =
        TransferMeter(plan.bytes(PublishAction::Upload) + plan.bytes(PublishAction::Replace));
    setWindowTitle(QStringLiteral("Publish folder"));
    m_label4->setText(QStringLiteral("Bytes sent:"));
    m_lbCelkem->setText(Qs(m_publishMeter.labels().lbCelkem));
    m_lbLeft->setVisible(true);
    m_lbLeft->setText(Qs(m_publishMeter.labels().lbLeft));
    m_label1->setText(QStringLiteral("Publishing to ") + destination);
    m_label2->setText(QStringLiteral("Files:             / ") + QString::number(m_publishFiles));
    placeCount();
    m_progressBar1->setAccessibleName(QStringLiteral("Bytes sent"));
    m_progressBar1->setMaximum(1000);
    m_progressBar2->setAccessibleName(QStringLiteral("Files published"));
    m_progressBar2->setMaximum(std::max(m_publishFiles, 1));
    m_command3->hide();
    m_command1->setEnabled(true);
    m_command1->setFocus();

    connect(job, &PublishJob::stepDone, this,
            [this](const PublishStep& step, const std::optional<FtpError>& error) {
                if (error) {
                    // A stop leaves the file as it was: not a failure.
                    Q_EMIT logEntry(
                        (error->kind == FtpErrorKind::Stopped ? QStringLiteral(" > not sent ")
                                                              : QStringLiteral(" > failed ")) +
                        ShownText(step.path) + QStringLiteral(": ") + ShownText(error->text));
                } else {
                    Q_EMIT logEntry(QStringLiteral(" > ") + ShownText(DescribeStep(step)));
                }
            });
    connect(job, &PublishJob::note, this,
            [this](const QString& text) { Q_EMIT logEntry(QStringLiteral(" > ") + text); });
    connect(job, &PublishJob::finished, this, &frmProg::publishFinished);
    m_publishTimer.setInterval(100);
    connect(&m_publishTimer, &QTimer::timeout, this, &frmProg::showPublishProgress);
    m_publishClock.start();
    m_publishMeter.startFile(0);
    m_publishTimer.start();
    job->run(options);
}

void frmProg::showPublishProgress() {
    const PublishProgress now = m_job->progress();
    m_publishMeter.update(now.bytesDone, m_publishClock.elapsed());
    const TransferMeter::Labels& labels = m_publishMeter.labels();
    m_lbFar->setText(Qs(labels.lbFar));
    m_lbLeft->setText(Qs(labels.lbLeft));
    m_lbTime->setText(Qs(labels.lbTime));
    m_lbSpeed->setText(Qs(labels.lbSpeed));
    m_lbTimeLeft->setText(Qs(labels.lbTimeLeft));
    m_lbCount->setText(QString::number(now.filesDone));
    const std::int64_t total = m_publishMeter.total();
    m_progressBar1->setValue(
        total > 0 ? static_cast<int>(std::min<std::int64_t>(now.bytesDone * 1000 / total, 1000))
                  : 0);
    m_progressBar2->setValue(std::min(now.filesDone, m_progressBar2->maximum()));
}

void frmProg::publishFinished(const PublishTotals& totals) {
    m_publishTimer.stop();
    showPublishProgress();
    const QString summary = PublishSummary(totals, m_deletionsLeft,
                                           static_cast<double>(m_publishClock.elapsed()) / 1000.0);
    Q_EMIT logEntry(QStringLiteral(" > ") + summary);
    Q_EMIT publishEnded(totals, summary);
    close();
}

void frmProg::showFile(int index) {
    const auto& file = m_batch->queue()[static_cast<std::size_t>(index)];
    const QString size = QString::number(file.size);
    m_label1->setText(
        (m_batch->direction() == TransferDirection::Download ? QStringLiteral("Downloading File: ")
                                                             : QStringLiteral("Uploading file: ")) +
        DisplayText(file.name) + QStringLiteral(" / ") + size + QStringLiteral(" bytes."));
    m_lbCount->setText(QString::number(index + 1));
    m_fileSteps = BarStepsFor(file.size);
    m_progressBar1->setMaximum(std::max(m_fileSteps.maximum, 1));
    m_progressBar1->setValue(0);
}

void frmProg::showProgress() {
    const TransferMeter& meter = m_batch->meter();
    const TransferMeter::Labels& labels = meter.labels();
    m_lbFar->setText(Qs(labels.lbFar));
    m_lbLeft->setText(Qs(labels.lbLeft));
    m_lbTime->setText(Qs(labels.lbTime));
    m_lbSpeed->setText(Qs(labels.lbSpeed));
    m_lbTimeLeft->setText(Qs(labels.lbTimeLeft));
    // A file larger than its listed size must not run past the bar.
    m_progressBar1->setValue(
        std::min(m_fileSteps.value(m_batch->currentFileBytes()), m_progressBar1->maximum()));
    m_progressBar2->setValue(
        std::min(m_batchSteps.value(meter.transferred()), m_progressBar2->maximum()));
}

void frmProg::reject() {
    // Escape cancels a running batch; the window closes when it is over.
    if (running()) {
        Command1_Click();
        return;
    }
    QDialog::reject();
}

void frmProg::closeEvent(QCloseEvent* event) {
    if (running()) {
        Command1_Click();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace quill
