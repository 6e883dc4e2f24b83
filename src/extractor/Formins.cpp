#include "Formins.h"

#include "common/TextCodec.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quill {

Formins::Formins(QWidget* parent)
    : QWidget(parent),
      m_text1(new QLineEdit(this)),
      m_text2(new QLineEdit(this)),
      m_text3(new QLineEdit(this)),
      m_check1(new QCheckBox(QStringLiteral("Include Dynamic Date."), this)),
      m_text4(new QPlainTextEdit(ToEditorText(InitialScriptOpening()), this)),
      m_text5(new QPlainTextEdit(ToEditorText(InitialScriptClosing()), this)),
      m_command1(new QPushButton(QStringLiteral("Ok"), this)) {
    setObjectName(QStringLiteral("Formins"));
    setWindowTitle(QStringLiteral("Insertion to Tarnwick's Quillmint"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(560, 520);

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text3->setObjectName(QStringLiteral("Text3"));
    m_check1->setObjectName(QStringLiteral("Check1"));
    m_text4->setObjectName(QStringLiteral("Text4"));
    m_text4->setAccessibleName(QStringLiteral("Advert script opening"));
    m_text4->setMaximumHeight(60);
    m_text5->setObjectName(QStringLiteral("Text5"));
    m_text5->setAccessibleName(QStringLiteral("Advert script closing"));
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Adsense id"), m_text1);
    form->addRow(QStringLiteral("Subject"), m_text2);
    form->addRow(QStringLiteral("Keywords"), m_text3);
    form->addRow(QStringLiteral("Other"), m_check1);
    // QFormLayout makes each row label the buddy of its field.
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_text4);
    layout->addWidget(m_text5, 1);
    layout->addWidget(m_command1, 0, Qt::AlignRight);

    connect(m_command1, &QPushButton::clicked, this, &Formins::Command1_Click);
    connect(m_text1, &QLineEdit::returnPressed, this, &Formins::Command1_Click);
    connect(m_text2, &QLineEdit::returnPressed, this, &Formins::Command1_Click);
    connect(m_text3, &QLineEdit::returnPressed, this, &Formins::Command1_Click);
}

InsertionFields Formins::fields() const {
    return {m_text1->text(),
            m_text2->text(),
            m_text3->text(),
            m_check1->isChecked(),
            FromEditorText(m_text4->toPlainText()),
            FromEditorText(m_text5->toPlainText())};
}

void Formins::Command1_Click() {
    Q_EMIT insertionAccepted(fields());
    close();
}

}  // namespace quill
