#pragma once

#include "publish/Publisher.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace quill {

struct AppContext;
class PublishJob;

// A publish started from a window: the plan on the job's worker (the window
// stays usable), then the preview, then the transfer window, each modal to
// the window. Ends with ended(), once, whatever happened; deletes itself
// after that.
class PublishFlow final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PublishFlow)
public:
    // Takes the job; from and destination name both folders for the preview.
    PublishFlow(AppContext& context, PublishJob* job, QString from, QString destination,
                QWidget* window);
    ~PublishFlow() override;

    void start();
    // Ends the planning or the run soon.
    void stop();

Q_SIGNALS:
    // A timed log entry (" > ...").
    void logEntry(const QString& message);
    // ran: the transfer window ran the plan, with these totals; summary says
    // how it ended in one line (also when it did not run).
    void ended(bool ran, const quill::PublishTotals& totals, const QString& summary);

private:
    void planned(const PublishPlan& plan);
    void finish(bool ran, const PublishTotals& totals, const QString& summary);

    AppContext& m_context;
    QPointer<PublishJob> m_job;
    QString m_from;
    QString m_destination;
    QWidget* m_window;
    bool m_ended = false;
};

}  // namespace quill
