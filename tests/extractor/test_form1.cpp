#include "extractor/Form1.h"

#include "platform/AppContext.h"
#include "platform/QtDialogs.h"
#include "platform/WebViewSettings.h"
#include "support/FakeDialogs.h"
#include "support/GuiTest.h"
#include "support/HttpServer.h"
#include "support/TestFiles.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextCursor>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

const std::string kPage =
    "<html><head><title>q</title></head><body>\r\n"
    "<h1 class=\"subject\">Why is the sky blue?</h1>\r\n"
    "<ul class=\"meta\"><li>asked</li></ul>\r\n"
    "<div class=\"content\">Rayleigh scattering &amp; more.</div>\r\n"
    "<ul class=\"meta\"><li>answered</li></ul>\r\n"
    "</body></html>";
const std::string kArticle =
    "<h1 class=\"subject\">Why is the sky blue?</h1>\r\n"
    "\r\n<h1>Answer</h1>\r\n"
    "<div class=\"content\">Rayleigh scattering &amp; more.</div>\r\n";

class Form1Test : public ::testing::Test {
protected:
    std::unique_ptr<Form1> load(std::optional<std::string> tempo) {
        if (tempo) {
            WriteBytes(dir / "tempo.htm", *tempo);
        }
        auto form = std::make_unique<Form1>(context);
        form->show();
        return form;
    }
    template <typename T>
    T* child(Form1& form, const char* name) {
        return test::FindNamed<T>(form, name);
    }
    QString evaluate(QWebEngineView* view, const QString& script) {
        QString result;
        bool done = false;
        view->page()->runJavaScript(script, [&](const QVariant& v) {
            result = v.toString();
            done = true;
        });
        EXPECT_TRUE(WaitFor([&] { return done; }));
        return result;
    }

    // Evaluates script until its value satisfies ok (the view loads
    // asynchronously, and an earlier page may still be in place at first).
    QString pollUntil(QWebEngineView* view, const QString& script,
                      const std::function<bool(const QString&)>& ok, int timeoutMs = 60000) {
        QString value;
        WaitFor(
            [&] {
                value = evaluate(view, script);
                return ok(value);
            },
            timeoutMs);
        return value;
    }

    quill::test::TempDir dir;
    quill::test::FakeDialogs dialogs;
    QtClipboard clipboard;
    quill::test::FakeShell shell;
    AppContext context{dir.path(), dialogs, clipboard, shell};
};

TEST_F(Form1Test, LoadExtractsTheArticleIntoTheCodeView) {
    auto form = load(kPage);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarnwick Article extractor for content"));
    EXPECT_EQ(form->articleHtml(), kArticle);
    EXPECT_EQ(form->document().rawPage(), kPage + "\r\n");
    auto* text1 = child<QPlainTextEdit>(*form, "Text1");
    EXPECT_EQ(text1->toPlainText().toStdString(),
              "<h1 class=\"subject\">Why is the sky blue?</h1>\n\n<h1>Answer</h1>\n"
              "<div class=\"content\">Rayleigh scattering &amp; more.</div>\n");
    EXPECT_TRUE(text1->isVisible());
    EXPECT_FALSE(child<QWebEngineView>(*form, "WebBrowser1")->isVisible());
    EXPECT_TRUE(child<QRadioButton>(*form, "Option4")->isChecked());
}

TEST_F(Form1Test, MissingOrEmptyPageFileOpensWithAnEmptyArticle) {
    auto form = load(std::nullopt);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->articleHtml(), "");
    auto empty = load(std::string{});
    EXPECT_EQ(empty->articleHtml(), "");
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Form1Test, ControlsCarryTheirNamesCaptionsAndAccessKeys) {
    auto form = load(kPage);
    EXPECT_EQ(child<QRadioButton>(*form, "Option3")->text(), QStringLiteral("&Html"));
    EXPECT_EQ(child<QRadioButton>(*form, "Option4")->text(), QStringLiteral("&Code"));
    EXPECT_EQ(child<QPushButton>(*form, "Command1")->text(), QStringLiteral("&Save as"));
    EXPECT_EQ(child<QPushButton>(*form, "Command9")->text(), QStringLiteral("FTP &Upload"));
    EXPECT_EQ(child<QPushButton>(*form, "Command10")->text(), QStringLiteral("&About"));
    EXPECT_EQ(child<QPushButton>(*form, "Command11")->text(), QStringLiteral("&Finish"));
    EXPECT_TRUE(child<QLabel>(*form, "Label1")
                    ->text()
                    .contains(QStringLiteral("Click here to copy html to clipboard")));
    EXPECT_TRUE(child<QLabel>(*form, "Label2")
                    ->text()
                    .contains(QStringLiteral("Click here to make an insertion")));
    for (auto* edit : form->findChildren<QPlainTextEdit*>()) {
        EXPECT_FALSE(edit->accessibleName().isEmpty()) << edit->objectName().toStdString();
    }
}

TEST_F(Form1Test, HtmlViewRendersTheCurrentArticleIncludingEdits) {
    auto form = load(kPage);
    auto* text1 = child<QPlainTextEdit>(*form, "Text1");
    auto* view = child<QWebEngineView>(*form, "WebBrowser1");
    text1->appendPlainText(QStringLiteral("<p id=\"added\">Edited in code view</p>"));

    child<QRadioButton>(*form, "Option3")->click();
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(text1->isVisible());
    const QString text =
        pollUntil(view, QStringLiteral("document.body ? document.body.innerText : ''"),
                  [](const QString& t) { return t.contains(QStringLiteral("Edited")); });
    EXPECT_TRUE(text.contains(QStringLiteral("Why is the sky blue?"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Rayleigh scattering & more."))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Edited in code view"))) << text.toStdString();

    child<QRadioButton>(*form, "Option4")->click();
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(text1->isVisible());
}

// The view follows the choice however it is made; a screen reader's toggle
// action gives no click at all.
TEST_F(Form1Test, ViewFollowsTheChoiceHoweverItIsMade) {
    auto form = load(kPage);
    auto* html = child<QRadioButton>(*form, "Option3");
    auto* code = child<QRadioButton>(*form, "Option4");
    auto* view = child<QWebEngineView>(*form, "WebBrowser1");
    auto* text1 = child<QPlainTextEdit>(*form, "Text1");
    const std::pair<const char*, std::function<void(QRadioButton*)>> ways[] = {
        {"screen reader", [](QRadioButton* b) { test::ChooseAccessibly(*b); }},
        {"mouse",
         [](QRadioButton* b) {
             QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(4, b->height() / 2));
         }},
        {"space bar",
         [](QRadioButton* b) {
             b->setFocus();
             QTest::keyClick(b, Qt::Key_Space);
         }},
    };
    const QString body = QStringLiteral("document.body ? document.body.innerText : ''");
    for (const auto& [way, choose] : ways) {
        const QString marker = QStringLiteral("Chosen by %1").arg(QString::fromLatin1(way));
        form->setArticleText(QStringLiteral("<p>%1</p>").arg(marker));
        choose(html);
        EXPECT_TRUE(html->isChecked()) << way;
        EXPECT_TRUE(view->isVisible()) << way;
        EXPECT_FALSE(text1->isVisible()) << way;
        EXPECT_TRUE(pollUntil(view, body, [&](const QString& t) { return t.contains(marker); })
                        .contains(marker))
            << way;
        choose(code);
        EXPECT_TRUE(code->isChecked()) << way;
        EXPECT_FALSE(view->isVisible()) << way;
        EXPECT_TRUE(text1->isVisible()) << way;
    }
}

TEST_F(Form1Test, ScriptsRunInTheHtmlView) {
    auto form = load(kPage);
    form->setArticleHtml(
        "<p id=\"d\"></p><script>document.getElementById('d').textContent = "
        "'written by ' + 'script';</script>");
    auto* view = child<QWebEngineView>(*form, "WebBrowser1");
    child<QRadioButton>(*form, "Option3")->click();
    const QString script = QStringLiteral(
        "(function(){var d=document.getElementById('d');"
        "return d ? d.textContent : '';})()");
    EXPECT_EQ(pollUntil(view, script, [](const QString& t) { return !t.isEmpty(); }),
              QStringLiteral("written by script"));
}

// A script in a fetched page runs, but reaches no host but the advert's.
TEST_F(Form1Test, ScriptsOfAFetchedPageCannotMakeRequests) {
    test::HttpServer server;
    server.serve("/leak", "x");
    auto form = load(kPage);
    const QString leak = QString::fromStdString(server.url("/leak"));
    form->setArticleHtml(QStringLiteral("<p id=\"d\"></p><img src=\"%1?img\"><script>"
                                        "fetch('%1?fetch').catch(function(){});"
                                        "new Image().src='%1?image';"
                                        "document.getElementById('d').textContent='ran';</script>")
                             .arg(leak)
                             .toStdString());
    auto* view = child<QWebEngineView>(*form, "WebBrowser1");
    child<QRadioButton>(*form, "Option3")->click();
    EXPECT_EQ(pollUntil(view,
                        QStringLiteral("document.getElementById('d') ? "
                                       "document.getElementById('d').textContent : ''"),
                        [](const QString& t) { return !t.isEmpty(); }),
              QStringLiteral("ran"));
    WaitFor([&] { return !server.requests().empty(); }, 1500);
    EXPECT_EQ(server.requests(), std::vector<std::string>{});
    EXPECT_TRUE(MayRequest(QUrl(QStringLiteral("http://pagead2.googlesyndication.com/a.js")),
                           {QStringLiteral("pagead2.googlesyndication.com")}));
}

TEST_F(Form1Test, ChoosingHtmlAgainRendersTheArticleAnew) {
    auto form = load(kPage);
    auto* view = child<QWebEngineView>(*form, "WebBrowser1");
    auto* html = child<QRadioButton>(*form, "Option3");
    html->click();
    const QString body = QStringLiteral("document.body ? document.body.innerText : ''");
    pollUntil(view, body, [](const QString& t) { return t.contains(QStringLiteral("sky")); });
    form->setArticleText(QStringLiteral("<p>Inserted in front</p>") + form->articleText());
    html->click();  // already selected: still a click on "&Html"
    const QString text = pollUntil(
        view, body, [](const QString& t) { return t.contains(QStringLiteral("Inserted")); });
    EXPECT_TRUE(text.contains(QStringLiteral("Inserted in front"))) << text.toStdString();
}

TEST_F(Form1Test, EditingKeepsUntouchedNoBreakSpacesAndLineEnds) {
    const std::string page =
        "<h1 class=\"subject\">a\xC2\xA0"
        "b</h1>\r\n<ul class=\"meta\">";
    auto form = load(page);
    auto* text1 = child<QPlainTextEdit>(*form, "Text1");
    text1->moveCursor(QTextCursor::End);
    text1->insertPlainText(QStringLiteral("!"));
    EXPECT_EQ(form->articleHtml(),
              "<h1 class=\"subject\">a\xC2\xA0"
              "b</h1>\r\n!");
}

TEST_F(Form1Test, SaveWritesStyleBlockArticleAndCrLfByteForByte) {
    auto form = load(kPage);
    const auto file = dir / "saved.html";
    dialogs.answerSaveFile(QString::fromStdString(file.native()));
    child<QPushButton>(*form, "Command1")->click();
    EXPECT_EQ(ReadBytes(file),
              "<style>\r\nh1{\r\ncolor:red;\r\n}\r\nbody{\r\ncolor:navy;\r\n}\r\na{\r\n"
              "color:blue;\r\n}\r\n</style>\r\n" +
                  kArticle + "\r\n");
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().front().text, QStringLiteral("All Files (*.*)|*.*|"));
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Form1Test, SavingOverAPrivateFileBehindALinkKeepsBoth) {
    auto form = load(kPage);
    WriteBytes(dir / "private.html", "old");
    ASSERT_EQ(::chmod((dir / "private.html").c_str(), 0600), 0);
    std::filesystem::create_symlink("private.html", dir / "link.html");
    dialogs.answerSaveFile(QString::fromStdString((dir / "link.html").native()));
    form->SaveArticleAs();
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.html"));
    EXPECT_EQ(ReadBytes(dir / "private.html"),
              std::string(ArticleDocument::kInitialStyle) + kArticle + "\r\n");
    EXPECT_EQ(std::filesystem::status(dir / "private.html").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Form1Test, SaveUsesEditedStyleAndArticle) {
    auto form = load(kPage);
    auto* text3 = child<QPlainTextEdit>(*form, "Text3");
    text3->setPlainText(QStringLiteral("<style>p{}</style>\n"));
    child<QPlainTextEdit>(*form, "Text1")->setPlainText(QStringLiteral("line one\nline two"));
    const auto file = dir / "edited.html";
    dialogs.answerSaveFile(QString::fromStdString(file.native()));
    form->SaveArticleAs();
    EXPECT_EQ(ReadBytes(file), "<style>p{}</style>\r\nline one\r\nline two\r\n");
}

TEST_F(Form1Test, CancelledSaveWritesNothing) {
    auto form = load(kPage);
    dialogs.answerSaveFile(std::nullopt);
    form->SaveArticleAs();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "only tempo.htm is there";
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Form1Test, FailedSaveIsReportedWithTheExclamationIcon) {
    auto form = load(kPage);
    dialogs.answerSaveFile(QString::fromStdString((dir / "no-folder" / "a.html").native()));
    form->SaveArticleAs();
    const auto* shown = dialogs.lastMessage();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->icon, MessageIcon::Exclamation);
    EXPECT_TRUE(shown->text.contains(QStringLiteral("not saved")));
}

TEST_F(Form1Test, CopyPutsTheArticleOnTheClipboard) {
    auto form = load(kPage);
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    auto* label = child<QLabel>(*form, "Label1");
    Q_EMIT label->linkActivated(QStringLiteral("#"));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), kArticle);
}

TEST_F(Form1Test, NavigationControlsAskForTheirWindows) {
    auto form = load(kPage);
    QSignalSpy about(form.get(), &Form1::aboutRequested);
    QSignalSpy finish(form.get(), &Form1::finishRequested);
    QSignalSpy upload(form.get(), &Form1::ftpUploadRequested);
    QSignalSpy insertion(form.get(), &Form1::insertionRequested);
    child<QPushButton>(*form, "Command10")->click();
    child<QPushButton>(*form, "Command11")->click();
    child<QPushButton>(*form, "Command9")->click();
    Q_EMIT child<QLabel>(*form, "Label2")->linkActivated(QStringLiteral("#"));
    EXPECT_EQ(about.size(), 1);
    EXPECT_EQ(finish.size(), 1);
    EXPECT_EQ(upload.size(), 1);
    EXPECT_EQ(insertion.size(), 1);
}

TEST_F(Form1Test, InvalidUtf8AndNulBytesSurviveASaveUnchanged) {
    using namespace std::string_literals;
    const std::string expected = "<h1 class=\"subject\">caf\xE9 \0 na\xEFve</h1>"s;
    const std::string page = expected + "<ul class=\"meta\">";
    auto form = load(page);
    EXPECT_EQ(form->articleHtml(), expected);
    const auto file = dir / "latin.html";
    dialogs.answerSaveFile(QString::fromStdString(file.native()));
    form->SaveArticleAs();
    EXPECT_EQ(ReadBytes(file), std::string(ArticleDocument::kInitialStyle) + expected + "\r\n");
}

std::string ParagraphPage(std::size_t bytes) {
    std::string page;
    page.reserve(bytes + 200);
    const std::string line = "<p>" + std::string(120, 'x') + "</p>\n";
    while (page.size() < bytes) {
        page += line;
    }
    return page;
}

TEST_F(Form1Test, HugePageWithoutMarkersOpensWithTheWholePage) {
    const std::string page = ParagraphPage(50u << 20);
    auto form = load(page);
    EXPECT_TRUE(form->isVisible());
    // Every LF line end became CR LF.
    EXPECT_EQ(form->articleHtml().size(), page.size() + page.size() / 128);
}

TEST_F(Form1Test, ArticleTooBigForSetHtmlStillRenders) {
    const std::string page = ParagraphPage(3u << 20);
    auto form = load(page);
    auto* view = child<QWebEngineView>(*form, "WebBrowser1");
    child<QRadioButton>(*form, "Option3")->click();
    const QString expected = QString::number(page.size() / 128);
    EXPECT_EQ(pollUntil(
                  view, QStringLiteral("String(document.querySelectorAll('p').length)"),
                  [&](const QString& t) { return t == expected; }, 120000),
              expected);
}

}  // namespace
