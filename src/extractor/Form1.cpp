#include "Form1.h"

#include "common/ProgramFolder.h"
#include "common/TextOps.h"
#include "platform/AppContext.h"
#include "platform/Banner.h"
#include "platform/WebViewSettings.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <utility>

namespace quill {
namespace {

// setHtml goes through a data: address, which the web view caps at 2 MB.
constexpr qsizetype kInlineHtmlLimit = 2'000'000;

bool fitsInlineHtml(const QString& html) {
    return html.size() <= kInlineHtmlLimit &&
           html.toUtf8().toPercentEncoding().size() < kInlineHtmlLimit - 64;
}

// The editor's text line by line: toPlainText() would turn no-break spaces
// into plain ones, changing bytes the user never touched.
QString editorText(const QPlainTextEdit& editor) {
    QString text;
    for (QTextBlock block = editor.document()->begin(); block.isValid(); block = block.next()) {
        if (block != editor.document()->begin()) {
            text += QLatin1Char('\n');
        }
        text += block.text();
    }
    return text;
}

QString linkText(const QString& caption) {
    return QStringLiteral("<a href=\"#\">%1</a>").arg(caption.toHtmlEscaped());
}

}  // namespace

Form1::Form1(AppContext& context, QWidget* parent)
    : QWidget(parent),
      m_context(context),
      m_text1(new QPlainTextEdit(this)),
      m_text3(new QPlainTextEdit(this)),
      m_webBrowser1(new QWebEngineView(this)),
      m_option3(new QRadioButton(QStringLiteral("&Html"), this)),
      m_option4(new QRadioButton(QStringLiteral("&Code"), this)),
      m_label1(new QLabel(linkText(QStringLiteral("Click here to copy html to clipboard")), this)),
      m_label2(new QLabel(linkText(QStringLiteral("Click here to make an insertion")), this)),
      m_saveButton(new QPushButton(QStringLiteral("&Save as"), this)),
      m_command9(new QPushButton(QStringLiteral("FTP &Upload"), this)),
      m_command10(new QPushButton(QStringLiteral("&About"), this)),
      m_command11(new QPushButton(QStringLiteral("&Finish"), this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tarnwick Article extractor for content"));
    resize(820, 680);

    auto* banner = new Banner(QStringLiteral("Label3"), this);
    connect(banner, &Banner::clicked, this,
            [this] { m_context.shell.open(Qs(app::kProductPage)); });

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setAccessibleName(QStringLiteral("Article HTML"));
    m_text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_text3->setObjectName(QStringLiteral("Text3"));
    m_text3->setAccessibleName(QStringLiteral("Style block"));
    m_text3->setMaximumHeight(110);
    m_webBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    // Scripts stay on: the view previews the article as its readers will see
    // it, with the date line and advert an insertion adds. Without local file
    // access those scripts cannot read the user's files.
    RestrictWebView(*m_webBrowser1, PageScripts::On);
    // Any script of a fetched page runs too: only the advert host is reached.
    LimitRequests(*m_webBrowser1, {Qs(app::kAdScriptHost)});
    m_webBrowser1->setAccessibleName(QStringLiteral("Rendered article"));
    m_option3->setObjectName(QStringLiteral("Option3"));
    m_option4->setObjectName(QStringLiteral("Option4"));
    m_option4->setChecked(true);
    for (QLabel* label : {m_label1, m_label2}) {
        label->setTextFormat(Qt::RichText);
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    }
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setAccessibleName(QStringLiteral("Click here to copy html to clipboard"));
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setAccessibleName(QStringLiteral("Click here to make an insertion"));
    m_saveButton->setObjectName(QStringLiteral("Command1"));
    m_command9->setObjectName(QStringLiteral("Command9"));
    m_command10->setObjectName(QStringLiteral("Command10"));
    m_command11->setObjectName(QStringLiteral("Command11"));

    auto* styleLabel = new QLabel(QStringLiteral("Style bloc&k:"), this);
    styleLabel->setBuddy(m_text3);

    auto* viewRow = new QHBoxLayout;
    viewRow->addWidget(m_option3);
    viewRow->addWidget(m_option4);
    viewRow->addStretch();
    viewRow->addWidget(m_label1);
    viewRow->addSpacing(16);
    viewRow->addWidget(m_label2);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_saveButton);
    buttonRow->addStretch();
    buttonRow->addWidget(m_command9);
    buttonRow->addWidget(m_command10);
    buttonRow->addWidget(m_command11);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addLayout(viewRow);
    layout->addWidget(m_text1, 1);
    layout->addWidget(m_webBrowser1, 1);
    layout->addWidget(styleLabel);
    layout->addWidget(m_text3);
    layout->addLayout(buttonRow);

    setTabOrder(m_option3, m_option4);
    setTabOrder(m_option4, m_text1);
    setTabOrder(m_text1, m_webBrowser1);
    setTabOrder(m_webBrowser1, m_label1);
    setTabOrder(m_label1, m_label2);
    setTabOrder(m_label2, m_text3);
    setTabOrder(m_text3, m_saveButton);
    setTabOrder(m_saveButton, m_command9);
    setTabOrder(m_command9, m_command10);
    setTabOrder(m_command10, m_command11);

    // A view is chosen however the choice is made (mouse, keyboard, access
    // key or a screen reader's toggle action, which only toggles). Choosing
    // "&Html" while it is chosen already renders the article anew; such a
    // click starts with a press on the checked button.
    connect(m_option3, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            ShowHtmlView();
        }
    });
    connect(m_option4, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            ShowCodeView();
        }
    });
    connect(m_option3, &QRadioButton::pressed, this,
            [this] { m_htmlChosenAgain = m_option3->isChecked(); });
    connect(m_option3, &QRadioButton::clicked, this, [this] {
        if (std::exchange(m_htmlChosenAgain, false)) {
            ShowHtmlView();
        }
    });
    connect(m_text1, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_settingText) {
            m_articleEdited = true;
        }
    });
    connect(m_text3, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_settingText) {
            m_styleEdited = true;
        }
    });
    connect(m_label1, &QLabel::linkActivated, this, [this] { CopyArticleHtml(); });
    connect(m_label2, &QLabel::linkActivated, this, &Form1::insertionRequested);
    connect(m_saveButton, &QPushButton::clicked, this, &Form1::SaveArticleAs);
    connect(m_command9, &QPushButton::clicked, this, &Form1::ftpUploadRequested);
    connect(m_command10, &QPushButton::clicked, this, &Form1::aboutRequested);
    connect(m_command11, &QPushButton::clicked, this, &Form1::finishRequested);

    Form_Load();
}

Form1::~Form1() = default;

void Form1::Form_Load() {
    m_webBrowser1->hide();
    m_webBrowser1->load(QUrl(QStringLiteral("about:blank")));
    m_document.LoadPageFile(ProgramFile(m_context.programFolder, "/tempo.htm"));
    m_encoding = DetectEncoding(m_document.rawPage());
    m_settingText = true;
    m_text3->setPlainText(ToEditorText(displayText(m_document.style())));
    m_settingText = false;
    showArticleInEditor();
}

QString Form1::displayText(const std::string& bytes) const {
    return ToDisplay(bytes, m_encoding);
}

void Form1::showArticleInEditor() {
    m_settingText = true;
    m_text1->setPlainText(ToEditorText(displayText(m_document.article())));
    m_settingText = false;
    m_articleEdited = false;
}

void Form1::syncFromEditors() {
    if (m_articleEdited) {
        m_document.setArticle(FromDisplay(FromEditorText(editorText(*m_text1)), m_encoding));
        m_articleEdited = false;
    }
    if (m_styleEdited) {
        m_document.setStyle(FromDisplay(FromEditorText(editorText(*m_text3)), m_encoding));
        m_styleEdited = false;
    }
}

const std::string& Form1::articleHtml() {
    syncFromEditors();
    return m_document.article();
}

void Form1::setArticleHtml(std::string html) {
    syncFromEditors();
    if (m_encoding == TextEncoding::Utf8 && DetectEncoding(html) == TextEncoding::Latin1) {
        m_encoding = TextEncoding::Latin1;
    }
    m_document.setArticle(std::move(html));
    showArticleInEditor();
}

QString Form1::articleText() {
    return displayText(articleHtml());
}

void Form1::setArticleText(const QString& text) {
    setArticleHtml(FromDisplay(text, m_encoding));
}

const ArticleDocument& Form1::document() {
    syncFromEditors();
    return m_document;
}

void Form1::SaveArticleAs() {
    const auto file = m_context.dialogs.saveFileName(QStringLiteral("All Files (*.*)|*.*|"));
    if (!file) {
        return;
    }
    syncFromEditors();
    const auto saved = m_document.SaveTo(file->toStdString());
    if (!saved) {
        m_context.dialogs.message(
            QStringLiteral("The article was not saved.\n%1").arg(Qs(saved.error())),
            MessageIcon::Exclamation);
    }
}

void Form1::ShowHtmlView() {
    const QString html = displayText(articleHtml());
    if (fitsInlineHtml(html)) {
        m_webBrowser1->setHtml(html, QUrl(QStringLiteral("about:blank")));
    } else {
        // Too big for setHtml: render from a private file instead. The BOM
        // tells the view the text is UTF-8 without changing the article.
        if (!m_renderDir) {
            m_renderDir = std::make_unique<QTemporaryDir>();
        }
        const QString path = m_renderDir->filePath(QStringLiteral("article.html"));
        QFile file(path);
        if (m_renderDir->isValid() && file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write("\xEF\xBB\xBF");
            file.write(html.toUtf8());
            file.close();
            m_webBrowser1->load(QUrl::fromLocalFile(path));
        }
    }
    if (m_option3->isChecked()) {
        m_webBrowser1->show();
        m_text1->hide();
    }
    m_option3->setFocus();
}

void Form1::ShowCodeView() {
    if (m_option4->isChecked()) {
        m_webBrowser1->hide();
        m_text1->show();
    }
}

void Form1::CopyArticleHtml() {
    m_context.clipboard.clear();
    m_context.clipboard.setText(displayText(articleHtml()));
}

}  // namespace quill
