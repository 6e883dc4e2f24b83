#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace quill {

// One worker thread that runs jobs one at a time, in the order submitted.
// Each job's result comes back to its done function on the queue's own
// thread by a queued call; when the queue is destroyed first, results not
// yet delivered are dropped. Jobs (and the network calls they make) watch
// the stop flag, so stop() ends the running job and those queued behind it
// soon.
class WorkerQueue final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WorkerQueue)
public:
    explicit WorkerQueue(const QString& threadName, QObject* parent = nullptr);
    ~WorkerQueue() override;

    // Jobs submitted and not yet answered.
    bool busy() const { return m_pending > 0; }

    // Raised by stop() while busy; lowered when a job is submitted to an idle
    // queue, so a stop meant for earlier work does not cut the next.
    const std::atomic<bool>& stopFlag() const { return m_stop; }
    bool stopRequested() const { return m_stop.load(); }
    void stop();
    // For jobs: the stop was for work that has ended; what follows must run.
    void clearStop() { m_stop.store(false); }

    // job runs on the worker; done runs here with its result.
    template <typename R>
    void submit(std::function<R()> job, std::function<void(R)> done) {
        if (m_pending++ == 0) {
            m_stop.store(false);
            Q_EMIT busyChanged(true);
        }
        onWorker([this, job = std::move(job), done = std::move(done)] {
            auto result = std::make_shared<R>(job());
            post([this, result, done] { finished([&] { done(std::move(*result)); }); });
        });
    }

    // Runs job on the worker after what is queued, without making the queue
    // busy and without a result.
    void runQuietly(std::function<void()> job) { onWorker(std::move(job)); }

    // For jobs: fn runs on the queue's thread, before the job's result
    // arrives there; dropped when the queue is gone first.
    void post(std::function<void()> fn) {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    }

    // Stops, waits for the running job to end and drops the others; what
    // the jobs touched is then free to go on this thread. Called again, does
    // nothing.
    void shutdown();

Q_SIGNALS:
    void busyChanged(bool busy);

private:
    void onWorker(std::function<void()> job);
    void finished(const std::function<void()>& deliver);

    QThread m_thread;
    QObject* m_worker = nullptr;  // lives on m_thread
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_closing{false};
    int m_pending = 0;
};

}  // namespace quill
