#include "AppIcon.h"

#include "common/BuildInfo.h"
#include "common/TextCodec.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace quill {

QIcon AppIcon() {
    // Drawn here rather than left to the SVG icon plugin, which is not linked
    // and so would be missing from the package's computed dependencies.
    QSvgRenderer renderer(QStringLiteral(":/icons/") + Qs(app::kDesktopId) +
                          QStringLiteral(".svg"));
    QIcon icon;
    if (!renderer.isValid()) {
        return icon;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace quill
