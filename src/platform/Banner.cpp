#include "Banner.h"

#include "common/AppInfo.h"
#include "common/TextCodec.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace quill {

Banner::Banner(const QString& labelName, QWidget* parent)
    : QFrame(parent), m_label(new QLabel(Qs(app::kTitle), this)) {
    setObjectName(QStringLiteral("Picture1"));
    setMinimumHeight(72);
    setMaximumHeight(146);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("Quillmint 2012 banner"));
    setAccessibleDescription(QStringLiteral("Opens the product web page"));

    m_label->setObjectName(labelName);
    QFont font(QStringLiteral("Trebuchet MS"));
    font.setPointSize(26);
    font.setBold(true);
    m_label->setFont(font);
    m_label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 8, 24, 8);
    layout->addWidget(m_label);
    layout->addStretch();
}

void Banner::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, QColor(0x1d, 0x3b, 0x6e));
    gradient.setColorAt(1.0, QColor(0x4f, 0x8a, 0xc9));
    painter.fillRect(rect(), gradient);
    if (hasFocus()) {
        painter.setPen(QPen(Qt::white, 1, Qt::DashLine));
        painter.drawRect(rect().adjusted(1, 1, -2, -2));
    }
    QFrame::paintEvent(event);
}

void Banner::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Q_EMIT clicked();
    }
    QFrame::mouseReleaseEvent(event);
}

void Banner::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space) {
        Q_EMIT clicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

}  // namespace quill
