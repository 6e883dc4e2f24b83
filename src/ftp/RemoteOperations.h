#pragma once

#include "FtpEngine.h"

#include <QObject>

#include <string>
#include <string_view>
#include <vector>

namespace quill {

// A mode for SITE CHMOD: three or four octal digits.
bool IsOctalMode(std::string_view mode);

// Removes remote files and folders on the engine, one at a time in the
// order given; the first failure ends the chain and the rest stay. The
// chain deletes itself after finished or failed.
class RemoteDeleteChain final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RemoteDeleteChain)
public:
    struct Entry {
        std::string path;
        bool folder = false;
    };

    RemoteDeleteChain(FtpEngine& engine, std::vector<Entry> entries, QObject* parent = nullptr);

    void start();

Q_SIGNALS:
    void removing(const std::string& path);
    void removed(const std::string& path);
    void failed(const std::string& path, const quill::FtpError& error);
    // Every entry is gone.
    void finished();

private:
    void next();

    FtpEngine& m_engine;
    std::vector<Entry> m_entries;
    std::size_t m_next = 0;
};

}  // namespace quill
