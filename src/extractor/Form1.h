#pragma once

#include "ArticleDocument.h"
#include "common/TextCodec.h"

#include <QTemporaryDir>
#include <QWidget>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWebEngineView;

namespace quill {

struct AppContext;

// The extractor window: shows the article cut from the hand-off page file,
// rendered or as editable source, and saves or copies it. Constructing the
// window is loading it; destroying it is unloading it.
class Form1 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)
public:
    explicit Form1(AppContext& context, QWidget* parent = nullptr);
    ~Form1() override;

    // The article HTML as bytes, edits in the code view included.
    const std::string& articleHtml();
    void setArticleHtml(std::string html);
    // The article HTML as shown to the user; setting it keeps the page's encoding.
    QString articleText();
    void setArticleText(const QString& text);
    const ArticleDocument& document();

    void SaveArticleAs();
    void ShowHtmlView();
    void ShowCodeView();
    void CopyArticleHtml();

Q_SIGNALS:
    void insertionRequested();
    void ftpUploadRequested();
    void aboutRequested();
    void finishRequested();

private:
    void Form_Load();
    void showArticleInEditor();
    void syncFromEditors();
    QString displayText(const std::string& bytes) const;

    AppContext& m_context;
    ArticleDocument m_document;
    TextEncoding m_encoding = TextEncoding::Utf8;
    bool m_settingText = false;
    bool m_articleEdited = false;
    bool m_styleEdited = false;
    bool m_htmlChosenAgain = false;  // a click on "&Html" began while it was chosen
    std::unique_ptr<QTemporaryDir> m_renderDir;

    QPlainTextEdit* m_text1;
    QPlainTextEdit* m_text3;
    QWebEngineView* m_webBrowser1;
    QRadioButton* m_option3;
    QRadioButton* m_option4;
    QLabel* m_label1;
    QLabel* m_label2;
    QPushButton* m_saveButton;
    QPushButton* m_command9;
    QPushButton* m_command10;
    QPushButton* m_command11;
};

}  // namespace quill
