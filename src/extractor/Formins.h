#pragma once

#include "Insertion.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quill {

// The insertion window: advert id, subject, keywords, the dynamic date choice
// and the two editable advert script parts. "Ok" hands the fields over and
// closes the window; closing it otherwise changes nothing.
class Formins final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Formins)
public:
    explicit Formins(QWidget* parent = nullptr);

    InsertionFields fields() const;
    void Command1_Click();

Q_SIGNALS:
    void insertionAccepted(const quill::InsertionFields& fields);

private:
    QLineEdit* m_text1;
    QLineEdit* m_text2;
    QLineEdit* m_text3;
    QCheckBox* m_check1;
    QPlainTextEdit* m_text4;
    QPlainTextEdit* m_text5;
    QPushButton* m_command1;
};

}  // namespace quill
