#include "FileTypeIcons.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace quill {

// One drawn 16x16 icon per file type: a coloured page with a letter.
std::array<QIcon, 11> FileTypeIcons() {
    struct Look {
        QColor color;
        char letter;
    };
    const std::array<Look, 11> looks{{
        {Qt::gray, ' '},
        {QColor(0x2e, 0x8b, 0x57), 'I'},  // pictures
        {QColor(0x1e, 0x60, 0xc0), 'H'},  // web pages
        {QColor(0x70, 0x70, 0x70), 'T'},  // texts
        {QColor(0x8a, 0x2b, 0xe2), 'G'},  // gif
        {QColor(0xd2, 0x69, 0x1e), 'S'},  // scripts and styles
        {QColor(0xc0, 0x20, 0x60), 'A'},  // sound
        {QColor(0x8b, 0x6c, 0x14), 'Z'},  // archives
        {QColor(0x20, 0x80, 0x90), 'V'},  // video
        {QColor(0xb0, 0x10, 0x10), 'X'},  // programs
        {QColor(0xb0, 0xb0, 0xb0), ' '},  // anything else
    }};
    std::array<QIcon, 11> icons;
    for (std::size_t type = 1; type < looks.size(); ++type) {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setPen(looks[type].color.darker(150));
        painter.setBrush(Qt::white);
        painter.drawRect(2, 0, 11, 15);
        painter.fillRect(3, 1, 10, 5, looks[type].color);
        if (looks[type].letter != ' ') {
            QFont font = painter.font();
            font.setPixelSize(9);
            font.setBold(true);
            painter.setFont(font);
            painter.setPen(looks[type].color);
            painter.drawText(QRect(2, 5, 12, 11), Qt::AlignCenter,
                             QString(QLatin1Char(looks[type].letter)));
        }
        painter.end();
        icons[type] = QIcon(pixmap);
    }
    return icons;
}

}  // namespace quill
