#include "FileDrops.h"

#include "common/TextCodec.h"
#include "common/TextOps.h"

#include <QDataStream>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace quill {
namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;

// The path of one uri-list line, or nothing when it is not a local file.
std::optional<std::string> LocalPathOf(QByteArray line) {
    line = line.trimmed();
    if (!line.toLower().startsWith("file:")) {
        return std::nullopt;
    }
    QByteArray rest = line.mid(5);
    if (const qsizetype end = rest.indexOf('?'); end >= 0) {
        rest.truncate(end);
    }
    if (const qsizetype end = rest.indexOf('#'); end >= 0) {
        rest.truncate(end);
    }
    if (rest.startsWith("//")) {
        const qsizetype pathStart = rest.indexOf('/', 2);
        const QByteArray host = rest.mid(2, pathStart < 0 ? -1 : pathStart - 2).toLower();
        if (pathStart < 0 || !(host.isEmpty() || host == "localhost" ||
                               host == QSysInfo::machineHostName().toUtf8().toLower())) {
            return std::nullopt;
        }
        rest = rest.mid(pathStart);
    }
    QByteArray path = QByteArray::fromPercentEncoding(rest);
    while (path.size() > 1 && path.endsWith('/')) {
        path.chop(1);
    }
    if (!path.startsWith('/') || path.contains('\0')) {
        return std::nullopt;
    }
    for (const QByteArray& step : path.split('/')) {
        if (step == "." || step == "..") {
            return std::nullopt;
        }
    }
    return path.toStdString();
}

Dropped ReadDrop(const QMimeData& data, QPoint position) {
    return {LocalFilesOf(data), RemoteFilesOf(data), position};
}

class DropFilter final : public QObject {
public:
    DropFilter(QWidget* widget, std::function<bool(const Dropped&)> accepts,
               std::function<void(const Dropped&)> dropped)
        : QObject(widget), m_accepts(std::move(accepts)), m_dropped(std::move(dropped)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                Dropped what = ReadDrop(*drop->mimeData(), drop->position().toPoint());
                if (!m_accepts(what)) {
                    drop->ignore();
                    return true;
                }
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                if (event->type() == QEvent::Drop) {
                    // After the drag's own event loop has ended.
                    QTimer::singleShot(0, this,
                                       [this, what = std::move(what)] { m_dropped(what); });
                }
                return true;
            }
            case QEvent::DragLeave:
                return true;
            default:
                return QObject::eventFilter(watched, event);
        }
    }

private:
    std::function<bool(const Dropped&)> m_accepts;
    std::function<void(const Dropped&)> m_dropped;
};

}  // namespace

void SetRemoteFiles(QMimeData& data, const RemoteFiles& files) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(kStreamVersion);
    stream << ByteArrayOf(files.folder) << static_cast<quint32>(files.files.size());
    for (const auto& [name, size] : files.files) {
        stream << ByteArrayOf(name) << static_cast<qint64>(size);
    }
    data.setData(QString::fromLatin1(kRemoteFilesMimeType), bytes);
}

std::optional<RemoteFiles> RemoteFilesOf(const QMimeData& data) {
    const QString type = QString::fromLatin1(kRemoteFilesMimeType);
    if (!data.hasFormat(type)) {
        return std::nullopt;
    }
    const QByteArray bytes = data.data(type);
    QDataStream stream(bytes);
    stream.setVersion(kStreamVersion);
    QByteArray folder;
    quint32 count = 0;
    stream >> folder >> count;
    if (stream.status() != QDataStream::Ok || !folder.startsWith('/') || !folder.endsWith('/')) {
        return std::nullopt;
    }
    RemoteFiles files{folder.toStdString(), {}};
    // Each row takes at least 12 bytes, so a count beyond that is a lie.
    if (count > static_cast<quint32>(bytes.size() / 12)) {
        return std::nullopt;
    }
    for (quint32 i = 0; i < count; ++i) {
        QByteArray name;
        qint64 size = 0;
        stream >> name >> size;
        if (stream.status() != QDataStream::Ok ||
            !IsPlainName(std::string_view(name.constData(), name.size()))) {
            return std::nullopt;
        }
        files.files.emplace_back(name.toStdString(), size);
    }
    return files;
}

std::vector<std::string> LocalFilesOf(const QMimeData& data) {
    std::vector<std::string> paths;
    if (!data.hasFormat(QStringLiteral("text/uri-list"))) {
        return paths;
    }
    for (const QByteArray& line : data.data(QStringLiteral("text/uri-list")).split('\n')) {
        if (!line.startsWith('#')) {
            if (auto path = LocalPathOf(line)) {
                paths.push_back(std::move(*path));
            }
        }
    }
    return paths;
}

void AcceptDrops(QWidget* widget, std::function<bool(const Dropped&)> accepts,
                 std::function<void(const Dropped&)> dropped) {
    widget->setAcceptDrops(true);
    widget->installEventFilter(new DropFilter(widget, std::move(accepts), std::move(dropped)));
}

}  // namespace quill
