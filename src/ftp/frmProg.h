#pragma once

#include "TransferBatch.h"
#include "publish/Publisher.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quill {

struct AppContext;
class PublishJob;

// The transfer window "Upload/Download": made with the plan of an upload or
// download batch, it shows the queue's captions and starts the batch once
// shown; it shows the running batch's labels and bars, and closes itself
// (deleting itself) when the batch is over. Cancel, Escape and the close box
// stop the batch. Made without a plan, it shows a publish instead (see
// Publish).
class frmProg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmProg)
public:
    frmProg(AppContext& context, FtpEngine& engine, TransferPlan plan, QWidget* parent = nullptr);
    explicit frmProg(AppContext& context, QWidget* parent = nullptr);
    ~frmProg() override;

    // Start: runs the plan's batch, once.
    void Command3_Click();
    // Cancel: stops the file being moved and ends the batch.
    void Command1_Click();

    TransferBatch* batch() const { return m_batch; }

    // Runs the plan job has made, taking the job over: files done of all,
    // bytes, speed and time left; a log entry per file and a summary. Cancel
    // stops the publish between files. destination names the site's folder.
    void Publish(PublishJob* job, const PublishOptions& options, const QString& destination);

Q_SIGNALS:
    void logEntry(const QString& message);
    // The batch is over and its messages were shown; the window closes next.
    void batchEnded(TransferDirection direction);
    // The publish is over; summary is its log entry's text. The window
    // closes next.
    void publishEnded(const quill::PublishTotals& totals, const QString& summary);

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showFile(int index);
    void showProgress();
    void placeCount();
    void showPublishProgress();
    void publishFinished(const PublishTotals& totals);
    bool running() const;

    AppContext& m_context;
    QPointer<TransferBatch> m_batch;  // null for a publish
    bool m_started = false;
    BarSteps m_fileSteps;
    BarSteps m_batchSteps;
    QPointer<PublishJob> m_job;
    QTimer m_publishTimer;
    QElapsedTimer m_publishClock;
    TransferMeter m_publishMeter;
    int m_publishFiles = 0;
    int m_deletionsLeft = 0;

    QLabel* m_lbCelkem;
    QLabel* m_lbTime;
    QLabel* m_label4;
    QLabel* m_lbFar;
    QLabel* m_lbTimeLeft;
    QLabel* m_lbLeft;
    QLabel* m_lbSpeed;
    QLabel* m_label1;
    QProgressBar* m_progressBar1;
    QLabel* m_label2;
    QLabel* m_lbCount;
    QProgressBar* m_progressBar2;
    QPushButton* m_command3;
    QPushButton* m_command1;
};

}  // namespace quill
