#pragma once

#include <QFrame>

class QLabel;

namespace quill {

// The product banner at the top of the main windows: a drawn picture with the
// product name on it. Emits clicked() on a mouse click or Enter/Space.
class Banner final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Banner)
public:
    // labelName is the objectName of the product label on the banner.
    Banner(const QString& labelName, QWidget* parent = nullptr);
    QLabel* label() const { return m_label; }

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_label;
};

}  // namespace quill
