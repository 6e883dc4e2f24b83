#include "WorkerQueue.h"

namespace quill {

WorkerQueue::WorkerQueue(const QString& threadName, QObject* parent) : QObject(parent) {
    m_thread.setObjectName(threadName);
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

WorkerQueue::~WorkerQueue() {
    shutdown();
}

void WorkerQueue::shutdown() {
    m_closing.store(true);
    m_stop.store(true);
    m_thread.quit();
    m_thread.wait();
}

void WorkerQueue::stop() {
    if (busy()) {
        m_stop.store(true);
    }
}

void WorkerQueue::onWorker(std::function<void()> job) {
    if (m_closing.load()) {
        return;  // the worker has gone or is going
    }
    QMetaObject::invokeMethod(
        m_worker,
        [this, job = std::move(job)] {
            // Jobs still queued when the owner goes are not started.
            if (!m_closing.load()) {
                job();
            }
        },
        Qt::QueuedConnection);
}

void WorkerQueue::finished(const std::function<void()>& deliver) {
    --m_pending;
    deliver();
    if (m_pending == 0) {
        Q_EMIT busyChanged(false);
    }
}

}  // namespace quill
