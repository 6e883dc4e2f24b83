#pragma once

#include <QObject>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QMimeData;
class QWidget;

namespace quill {

// Rows dragged out of the server's file list. They only travel between the
// panes of this program, so the type is its own.
inline constexpr char kRemoteFilesMimeType[] = "application/x-quillmint-remote-files";

struct RemoteFiles {
    std::string folder;                                       // the server's folder, ending in "/"
    std::vector<std::pair<std::string, std::int64_t>> files;  // name, bytes
};

void SetRemoteFiles(QMimeData& data, const RemoteFiles& files);
// Nothing when the data has no rows of ours or they do not decode.
std::optional<RemoteFiles> RemoteFilesOf(const QMimeData& data);

// The paths (bytes, percent-decoded) of the "file:" addresses of a
// text/uri-list: those of this machine, absolute, without "." or ".."
// steps. Other addresses and comments are left out.
std::vector<std::string> LocalFilesOf(const QMimeData& data);

// What a drop brought, read while the drop happened.
struct Dropped {
    std::vector<std::string> localFiles;
    std::optional<RemoteFiles> remoteFiles;
    QPoint position;  // in the widget that took it
};

// Lets widget (a view's viewport) take drags that `accepts` wants, as a
// copy. A drop runs `dropped` once the drag has ended, so it may ask
// questions and start a transfer.
void AcceptDrops(QWidget* widget, std::function<bool(const Dropped&)> accepts,
                 std::function<void(const Dropped&)> dropped);

}  // namespace quill
