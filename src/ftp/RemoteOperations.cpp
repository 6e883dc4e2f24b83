#include "RemoteOperations.h"

#include <QPointer>

namespace quill {

bool IsOctalMode(std::string_view mode) {
    if (mode.size() < 3 || mode.size() > 4) {
        return false;
    }
    for (const char c : mode) {
        if (c < '0' || c > '7') {
            return false;
        }
    }
    return true;
}

RemoteDeleteChain::RemoteDeleteChain(FtpEngine& engine, std::vector<Entry> entries, QObject* parent)
    : QObject(parent), m_engine(engine), m_entries(std::move(entries)) {
}

void RemoteDeleteChain::start() {
    m_next = 0;
    next();
}

void RemoteDeleteChain::next() {
    if (m_next == m_entries.size()) {
        Q_EMIT finished();
        deleteLater();
        return;
    }
    const Entry entry = m_entries[m_next];
    Q_EMIT removing(entry.path);
    m_engine.run<void>(
        [entry](FtpConnection& connection) {
            return entry.folder ? connection.RemoveDirectory(entry.path)
                                : connection.DeleteFile(entry.path);
        },
        [self = QPointer<RemoteDeleteChain>(this), path = entry.path](FtpResult<void> done) {
            if (!self) {
                return;
            }
            if (!done) {
                Q_EMIT self->failed(path, done.error());
                self->deleteLater();
                return;
            }
            Q_EMIT self->removed(path);
            ++self->m_next;
            self->next();
        });
}

}  // namespace quill
