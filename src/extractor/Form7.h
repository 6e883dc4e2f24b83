#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace quill {

struct AppContext;

// The About window. Its close box and "<< Home" both lead to the harvester.
class Form7 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form7)
public:
    explicit Form7(AppContext& context, QWidget* parent = nullptr);

Q_SIGNALS:
    // The window is closing (by "<< Home" or its close box).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AppContext& m_context;
    QLabel* m_label1;
    QListWidget* m_list1;
};

}  // namespace quill
