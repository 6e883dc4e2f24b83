#include "harvester/Form6.h"

#include "common/PageFile.h"
#include "common/ProgramFolder.h"
#include "common/QaArticle.h"
#include "common/TextCodec.h"
#include "net/WebDownload.h"
#include "platform/AppContext.h"
#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/GuiTest.h"
#include "support/HttpServer.h"
#include "support/QaPages.h"
#include "support/StackExchangeReplies.h"
#include "support/TestFiles.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QExposeEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>

#include <functional>

#include <gtest/gtest.h>

using namespace quill;
using quill::test::FakeResult;
using quill::test::QuestionArticle;
using quill::test::QuestionPage;
using quill::test::ReadBytes;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

// Records the caption of a button each time it is painted.
class CaptionRecorder final : public QObject {
public:
    explicit CaptionRecorder(QPushButton* button) : m_button(button) {
        button->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_button && event->type() == QEvent::Paint &&
            (captions.isEmpty() || captions.back() != m_button->text())) {
            captions << m_button->text();
        }
        return false;
    }
    QStringList captions;

private:
    QPushButton* m_button;
};

class Form6Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureProgramSubfolders(dir.path()));
        context.searchHost = server.host();
        context.answersHost = "answers.example";
        form = std::make_unique<Form6>(context);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Serves a result page with count questions, each with its page.
    void serveResults(int count) {
        std::vector<FakeResult> results;
        for (int i = 0; i < count; ++i) {
            const auto path = "/q/" + std::to_string(i);
            results.push_back({server.url(path), "Question <em>" + std::to_string(i) + "</em>"});
            server.serve(
                path, QuestionPage("Subject " + std::to_string(i), "Answer " + std::to_string(i)));
        }
        server.serve("/search", test::ResultPage(results));
    }

    void search(const QString& term) {
        auto* text1 = child<QLineEdit>("Text1");
        text1->clear();
        bool ascii = true;
        for (const QChar c : term) {
            ascii = ascii && c.unicode() < 0x80;
        }
        if (ascii) {
            QTest::keyClicks(text1, term);
        } else {
            text1->setText(term);  // the test key map knows ASCII only
        }
        QTest::keyClick(text1, Qt::Key_Return);
        settle();
    }

    // Go, Next and Save all run on a worker: waits until the window has their results.
    void settle() {
        EXPECT_TRUE(WaitFor([this] { return !form->busy(); }));
    }
    void press(const char* name) {
        button(name)->click();
        settle();
    }

    template <typename T>
    T* child(const char* name) {
        return test::FindNamed<T>(*form, name);
    }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    QListWidget* list1() { return child<QListWidget>("List1"); }

    test::HttpServer server;
    test::TempDir dir;
    test::FakeDialogs dialogs;
    test::FakeClipboard clipboard;
    test::FakeShell shell;
    AppContext context{dir.path(), dialogs, clipboard, shell};
    std::unique_ptr<Form6> form;
};

TEST_F(Form6Test, FreshWindowState) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tarnwick's Quillmint 2012 v3"));
    EXPECT_TRUE(list1()->isVisible());
    EXPECT_FALSE(child<QWebEngineView>("WebBrowserx")->isVisible());
    EXPECT_TRUE(button("Command5")->isEnabled());
    EXPECT_EQ(button("Command5")->text(), QStringLiteral("Save all Q && A"));
    EXPECT_FALSE(button("Command4")->isEnabled());
    EXPECT_FALSE(button("Command3")->isEnabled());
    EXPECT_TRUE(child<QRadioButton>("Option1")->isChecked());
    EXPECT_EQ(form->focusWidget(), child<QLineEdit>("Text1"));
}

TEST_F(Form6Test, SaveAllOnAFreshWindowAsksForASearch) {
    press("Command5");
    ASSERT_EQ(dialogs.messages(), QStringList{QStringLiteral("Make a search first")});
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::None);
    EXPECT_FALSE(button("Command5")->isEnabled());
    EXPECT_FALSE(button("Command4")->isEnabled());
}

TEST_F(Form6Test, GoWithAnEmptyTermAsksForOne) {
    serveResults(2);
    search(QStringLiteral("x"));
    ASSERT_EQ(list1()->count(), 2);
    button("Command4")->click();
    child<QLineEdit>("Text1")->clear();
    press("Command1");
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("Please enter search term")});
    EXPECT_EQ(list1()->count(), 2) << "the lists are left untouched";
    EXPECT_TRUE(button("Command5")->isEnabled());
    EXPECT_EQ(button("Command5")->text(), QStringLiteral("Save All"));
    EXPECT_FALSE(button("Command3")->isEnabled());
    EXPECT_TRUE(button("Command4")->isEnabled());
    EXPECT_EQ(form->focusWidget(), child<QLineEdit>("Text1"));
}

TEST_F(Form6Test, GoSendsTheQueryAndListsTitlesAndAddressesInStep) {
    serveResults(3);
    search(QStringLiteral("cat food"));
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back(),
              "/search?q=site%3Aanswers.example+cat+food+-inurl:activity"
              "+%2B%22best+answer%22+&num=5&output=ie&hl=en");
    ASSERT_EQ(list1()->count(), 3);
    EXPECT_EQ(list1()->item(0)->text(), QStringLiteral("Question 0"));
    ASSERT_EQ(form->addresses().size(), 3u);
    EXPECT_EQ(form->addresses()[2], server.url("/q/2"));
    EXPECT_TRUE(list1()->selectedItems().isEmpty());
    EXPECT_EQ(button("Command5")->text(), QStringLiteral("Save All"));
    EXPECT_TRUE(button("Command5")->isEnabled());
    EXPECT_TRUE(button("Command4")->isEnabled());
    EXPECT_FALSE(button("Command3")->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(dir / "temp.htm"));
}

TEST_F(Form6Test, EnterRunsGoOnceFromTheFieldAndFromOtherControls) {
    serveResults(2);
    search(QStringLiteral("once"));
    EXPECT_EQ(server.requests().size(), 1u) << "Enter in the search field runs Go once";
    auto* option2 = child<QRadioButton>("Option2");
    option2->setFocus();
    QTest::keyClick(option2, Qt::Key_Return);
    settle();
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(server.requests().back().find("&num=5&"), std::string::npos);
    QTest::keyClick(list1(), Qt::Key_Enter, Qt::KeypadModifier);  // the keypad's Enter
    settle();
    EXPECT_EQ(server.requests().size(), 3u);
    QTest::keyClick(child<QLineEdit>("Text1"), Qt::Key_Enter, Qt::KeypadModifier);
    settle();
    EXPECT_EQ(server.requests().size(), 4u);

    auto* read = button("Command4");
    read->setFocus();
    QTest::keyClick(read, Qt::Key_Return);
    settle();
    EXPECT_EQ(server.requests().size(), 4u) << "Enter on a button presses that button";
    EXPECT_TRUE(button("Command3")->isEnabled());
}

TEST_F(Form6Test, DepthSetsTheNumberAskedAndTheListLimit) {
    serveResults(60);
    test::ChooseAccessibly(*child<QRadioButton>("Option2"));  // as a screen reader does
    search(QStringLiteral("t"));
    EXPECT_NE(server.requests().back().find("&num=10&output=ie&hl=en"), std::string::npos);
    EXPECT_EQ(list1()->count(), 20);
    child<QRadioButton>("Option3")->click();
    search(QStringLiteral("t"));
    EXPECT_NE(server.requests().back().find("&num=20&"), std::string::npos);
    EXPECT_EQ(list1()->count(), 50);
    EXPECT_EQ(form->addresses().size(), 50u);
}

TEST_F(Form6Test, TermsWithQuotesHashAndNonAsciiAreSearched) {
    serveResults(1);
    search(QStringLiteral("c# \"caf\u00e9\" & more"));
    EXPECT_EQ(server.requests().back(),
              "/search?q=site%3Aanswers.example+c%23+%22caf%c3%a9%22+&+more+-inurl:activity"
              "+%2B%22best+answer%22+&num=5&output=ie&hl=en");
    EXPECT_EQ(list1()->count(), 1);
}

// A page that cannot be fetched is reported and never passed off as fresh:
// Next stays in the harvester, Save all skips that question and names it
// once, Go lists nothing. The earlier files stay on disk untouched.
TEST_F(Form6Test, FailedDownloadsAreReportedNotPassedOffAsFresh) {
    enum class Kind { GzipBomb, Endless, NotFound, Refused };
    const std::pair<Kind, std::string> kinds[] = {
        {Kind::GzipBomb, "page too large (over 32 MiB)"},
        {Kind::Endless, "page too large (over 32 MiB)"},
        {Kind::NotFound, "the server answered with HTTP status 404"},
        {Kind::Refused, "could not connect to the server"},
    };
    WriteBytes(dir / "tempo.htm", "EARLIER QUESTION");
    WriteBytes(dir / "folders/1", QuestionPage("Stale", "Stale answer"));
    server.serve("/q/0", QuestionPage("Subject 0", "Answer 0"));
    server.serve("/q/2", QuestionPage("Subject 2", "Answer 2"));
    for (const auto& [kind, reason] : kinds) {
        SCOPED_TRACE(reason);
        // Its "/search" and "/q" fail the same way.
        test::HttpServer bad;
        std::string badHost = bad.host();
        if (kind == Kind::GzipBomb) {
            for (const char* path : {"/search", "/q"}) {
                bad.serveGzip(path, std::string(kMaxPageBytes + 1, 'x'));
            }
        } else if (kind == Kind::Endless) {
            bad.serveEndless("/search");
            bad.serveEndless("/q");
        } else if (kind == Kind::Refused) {
            badHost = "127.0.0.1:" + std::to_string(test::ClosedPort());
        }
        const std::string term = "term" + std::to_string(static_cast<int>(kind));
        context.searchHost = server.host();
        server.serve("/search", test::ResultPage({{server.url("/q/0"), "Question 0"},
                                                  {"http://" + badHost + "/q", "Question 1"},
                                                  {server.url("/q/2"), "Question 2"}}));
        search(QString::fromStdString(term));
        ASSERT_EQ(list1()->count(), 3);
        const std::string results = ReadBytes(dir / "temp.htm");

        // Next on the failing question.
        QSignalSpy next(form.get(), &Form6::showForm1Requested);
        list1()->setCurrentRow(1);
        button("Command4")->click();
        press("Command3");
        EXPECT_EQ(dialogs.messages(),
                  QStringList{Qs("The question page could not be downloaded: " + reason + ".")});
        EXPECT_EQ(next.size(), 0);
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(ReadBytes(dir / "tempo.htm"), "EARLIER QUESTION");
        dialogs.clear();

        // Save all skips it; the stale page saved under its number is not used.
        press("Command5");
        EXPECT_EQ(dialogs.messages(),
                  QStringList{Qs("These questions could not be downloaded and were not "
                                 "saved:\nQuestion 1 (" +
                                 reason + ")")});
        EXPECT_EQ(ReadBytes(dir / "articles" / (term + ".html")),
                  QuestionArticle("Subject 0", "Answer 0") + "\r\n\r\n" +
                      QuestionArticle("Subject 2", "Answer 2") + "\r\n\r\n");
        EXPECT_FALSE(std::filesystem::exists(dir / "articles/1.html"));
        EXPECT_EQ(list1()->count(), 0);
        dialogs.clear();

        // Go: the previous results stay on disk but are not listed.
        context.searchHost = badHost;
        search(QStringLiteral("again"));
        EXPECT_EQ(dialogs.messages(), QStringList{Qs("The search failed: " + reason + ".")});
        EXPECT_EQ(list1()->count(), 0);
        EXPECT_TRUE(form->addresses().empty());
        EXPECT_EQ(ReadBytes(dir / "temp.htm"), results);
        dialogs.clear();
    }
}

TEST_F(Form6Test, EmptyResultPageListsNothing) {
    server.serve("/search", "");
    search(QStringLiteral("nothing"));
    EXPECT_EQ(list1()->count(), 0);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Form6Test, ClickingATitleSelectsItsAddressAndShowsItAsToolTip) {
    serveResults(4);
    search(QStringLiteral("t"));
    list1()->setCurrentRow(2);
    EXPECT_EQ(form->selectedAddressIndex(), 2);
    EXPECT_EQ(list1()->toolTip(), QStringLiteral("Question 2"));
}

TEST_F(Form6Test, ReadTheAnswerEnablesNextUntilTheWindowIsExposedAgain) {
    serveResults(3);
    search(QStringLiteral("t"));
    list1()->setCurrentRow(2);
    button("Command4")->click();
    EXPECT_TRUE(button("Command3")->isEnabled());
    QTest::qWait(50);
    EXPECT_TRUE(button("Command3")->isEnabled()) << "pressing a button is not a window repaint";

    QExposeEvent expose(QRegion(0, 0, form->width(), form->height()));
    QCoreApplication::sendEvent(form->windowHandle(), &expose);
    EXPECT_FALSE(button("Command3")->isEnabled()) << "uncovering the window";

    button("Command4")->click();
    form->hide();
    form->show();
    EXPECT_FALSE(button("Command3")->isEnabled()) << "showing the window again";
    EXPECT_EQ(form->focusWidget(), child<QLineEdit>("Text1"));
}

TEST_F(Form6Test, NextWithoutChoosingHandsOverTheFirstResult) {
    serveResults(3);
    search(QStringLiteral("t"));
    button("Command4")->click();
    QSignalSpy next(form.get(), &Form6::showForm1Requested);
    press("Command3");
    EXPECT_EQ(next.size(), 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(ReadBytes(dir / "tempo.htm"), QuestionPage("Subject 0", "Answer 0"));
}

TEST_F(Form6Test, NextHandsOverTheChosenQuestionAndKeepsTheLists) {
    serveResults(3);
    search(QStringLiteral("t"));
    list1()->setCurrentRow(1);
    button("Command4")->click();
    press("Command3");
    EXPECT_EQ(ReadBytes(dir / "tempo.htm"), QuestionPage("Subject 1", "Answer 1"));
    form->show();
    EXPECT_EQ(list1()->count(), 3);
    EXPECT_EQ(list1()->currentRow(), 1);
}

TEST_F(Form6Test, SaveAllOfThreeQuestions) {
    serveResults(3);
    search(QStringLiteral("sky"));
    CaptionRecorder recorder(button("Command5"));
    auto* view = child<QWebEngineView>("WebBrowserx");
    press("Command5");

    EXPECT_EQ(recorder.captions,
              (QStringList{QStringLiteral("Saving Q && A 1"), QStringLiteral("Saving Q && A 2"),
                           QStringLiteral("Saving Q && A 3")}));
    std::string combined;
    for (int i = 0; i < 3; ++i) {
        const auto article =
            QuestionArticle("Subject " + std::to_string(i), "Answer " + std::to_string(i));
        EXPECT_EQ(ReadBytes(dir / "articles" / (std::to_string(i) + ".html")), article + "\r\n");
        combined += article + "\r\n\r\n";
    }
    EXPECT_EQ(ReadBytes(dir / "articles/sky.html"), combined);
    EXPECT_EQ(list1()->count(), 0);
    EXPECT_TRUE(form->addresses().empty());
    EXPECT_FALSE(list1()->isVisible());
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(button("Command5")->isEnabled());
    EXPECT_EQ(button("Command5")->text(), QStringLiteral("Saving Q && A 3"));
    EXPECT_FALSE(button("Command4")->isEnabled());
    EXPECT_TRUE(WaitFor([&] { return view->url().isLocalFile(); }));
    EXPECT_EQ(view->url().toLocalFile().toStdString(), (dir / "articles/sky.html").native());
    QTest::qWait(100);
    EXPECT_TRUE(button("Command3")->isEnabled());
    EXPECT_TRUE(dialogs.messages().isEmpty());

    // Go makes Save all usable again.
    search(QStringLiteral("sky"));
    EXPECT_TRUE(list1()->isVisible());
    EXPECT_TRUE(button("Command5")->isEnabled());
    EXPECT_EQ(button("Command5")->text(), QStringLiteral("Save All"));
}

TEST_F(Form6Test, SavingTwiceWithOneTermAppendsBothRuns) {
    serveResults(2);
    search(QStringLiteral("twice"));
    press("Command5");
    server.serve("/q/0", QuestionPage("New 0", "Fresh 0"));
    server.serve("/q/1", QuestionPage("New 1", "Fresh 1"));
    search(QStringLiteral("twice"));
    press("Command5");
    EXPECT_EQ(ReadBytes(dir / "articles/twice.html"),
              QuestionArticle("Subject 0", "Answer 0") + "\r\n\r\n" +
                  QuestionArticle("Subject 1", "Answer 1") + "\r\n\r\n" +
                  QuestionArticle("New 0", "Fresh 0") + "\r\n\r\n" +
                  QuestionArticle("New 1", "Fresh 1") + "\r\n\r\n");
    EXPECT_EQ(ReadBytes(dir / "articles/1.html"), QuestionArticle("New 1", "Fresh 1") + "\r\n");
}

TEST_F(Form6Test, UnsafeTermIsReportedOnceAndWritesNothingOutsideArticles) {
    serveResults(3);
    search(QStringLiteral("../../outside"));
    press("Command5");
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);
    EXPECT_TRUE(dialogs.lastMessage()->text.contains(QStringLiteral("../../outside")));
    EXPECT_TRUE(std::filesystem::exists(dir / "articles/2.html"));
    EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path() / "outside.html"));
    EXPECT_FALSE(std::filesystem::exists(dir / "outside.html"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "articles"), {}), 3);
}

TEST_F(Form6Test, MissingArticlesFolderIsCreatedBySaveAll) {
    serveResults(1);
    search(QStringLiteral("fresh"));
    std::filesystem::remove_all(dir / "articles");
    std::filesystem::remove_all(dir / "folders");
    press("Command5");
    EXPECT_EQ(ReadBytes(dir / "articles/0.html"),
              QuestionArticle("Subject 0", "Answer 0") + "\r\n");
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Form6Test, BannerOpensTheProductPage) {
    auto* banner = form->findChild<QWidget*>(QStringLiteral("Picture1"));
    ASSERT_NE(banner, nullptr);
    QTest::mouseClick(banner, Qt::LeftButton);
    EXPECT_EQ(shell.opened.size(), 1);
}

TEST_F(Form6Test, LargeResultPageIsScanned) {
    std::vector<FakeResult> results;
    for (int i = 0; i < 200; ++i) {
        results.push_back({server.url("/q/" + std::to_string(i)), "Q" + std::to_string(i)});
    }
    std::string page = test::ResultPage(results, 5'000'000);
    server.serve("/search", page);
    child<QRadioButton>("Option3")->click();
    search(QStringLiteral("big"));
    EXPECT_EQ(list1()->count(), 50);
    EXPECT_EQ(list1()->item(49)->text(), QStringLiteral("Q49"));
}

// Stop during each piece of work, while its page never finishes: the work
// ends within a second, the window answers meanwhile, what was saved stays
// byte for byte, and no partial or temp file remains.
TEST_F(Form6Test, StopEndsTheWorkWithinASecondAndKeepsWhatWasSaved) {
    const auto byButton = [this] { button("cmdStop")->click(); };
    const auto byKey = [this] { QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier); };
    const auto byHiding = [this] { form->hide(); };
    const auto byDestroying = [this] { form.reset(); };
    struct Case {
        const char* command;
        std::string stalled;
        std::function<void()> stop;
        QString progress;
        int listed;  // questions left in the list
        int saved;   // articles saved before the stall
    };
    const Case cases[] = {
        {"Command1", "/search", byButton, QStringLiteral("Searching for questions..."), 0, 0},
        {"Command3", "/q/1", byKey, QStringLiteral("Fetching the question..."), 3, 0},
        {"Command5", "/q/2", byButton, QStringLiteral("Saving question 3 of 3"), 1, 2},
        {"Command5", "/q/1", byHiding, QStringLiteral("Saving question 2 of 3"), 2, 1},
        {"Command5", "/q/0", byDestroying, QStringLiteral("Saving question 1 of 3"), 0, 0},
    };
    WriteBytes(dir / "tempo.htm", "EARLIER QUESTION");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + c.stalled);
        std::filesystem::remove_all(dir / "articles");
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        serveResults(3);
        search(QStringLiteral("stop"));
        const std::string results = ReadBytes(dir / "temp.htm");
        list1()->setCurrentRow(1);
        button("Command4")->click();
        server.stall(c.stalled);
        QSignalSpy next(form.get(), &Form6::showForm1Requested);
        button(c.command)->click();
        ASSERT_TRUE(WaitFor([&] { return server.requests().back().starts_with(c.stalled); }));

        auto* progress = child<QLabel>("lblProgress");
        const auto spoken = [progress] {
            return QAccessible::queryAccessibleInterface(progress)->text(QAccessible::Name);
        };
        EXPECT_TRUE(WaitFor([&] { return spoken() == c.progress; })) << spoken().toStdString();
        bool ticked = false;
        QTimer::singleShot(10, form.get(), [&] { ticked = true; });
        EXPECT_TRUE(WaitFor([&] { return ticked; }, 500)) << "the window answers";
        EXPECT_TRUE(form->busy());
        EXPECT_FALSE(button("Command1")->isEnabled() || button("Command3")->isEnabled());

        QElapsedTimer clock;
        clock.start();
        c.stop();
        EXPECT_TRUE(WaitFor([&] { return !form || !form->busy(); }, 5000));
        EXPECT_LT(clock.elapsed(), 1000);
        QTest::qWait(50);  // nothing more arrives after the stop
        EXPECT_TRUE(dialogs.messages().isEmpty())
            << dialogs.messages().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(next.size(), 0);
        EXPECT_EQ(ReadBytes(dir / "temp.htm"), results);
        EXPECT_EQ(ReadBytes(dir / "tempo.htm"), "EARLIER QUESTION");
        std::string combined;
        for (int i = 0; i < 3; ++i) {
            const auto article =
                QuestionArticle("Subject " + std::to_string(i), "Answer " + std::to_string(i));
            EXPECT_EQ(ReadBytes(dir / "articles" / (std::to_string(i) + ".html")),
                      i < c.saved ? article + "\r\n" : "<missing>");
            combined += i < c.saved ? article + "\r\n\r\n" : "";
        }
        EXPECT_EQ(ReadBytes(dir / "articles/stop.html"), c.saved > 0 ? combined : "<missing>");
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            EXPECT_FALSE(entry.path().filename().native().starts_with('.')) << entry.path();
        }
        if (form) {
            EXPECT_EQ(list1()->count(), c.listed);
            EXPECT_FALSE(button("cmdStop")->isEnabled());
            EXPECT_TRUE(button("Command1")->isEnabled());
        }
    }
}

// The Stack Exchange source, against API replies served from 127.0.0.1.
class Form6StackExchangeTest : public Form6Test {
protected:
    void SetUp() override {
        context.stackExchangeApi = server.url("");
        Form6Test::SetUp();
    }
    void chooseSite(const QString& site) {
        test::ChooseAccessibly(*child<QRadioButton>("Option5"));
        child<QComboBox>("Combo1")->setEditText(site);
    }
};

const test::SeQuestion kLoop{101, "How do I loop over &quot;files&quot;?", "<p>Files.</p>",
                             "<p>Use <code>for</code>.</p>"};
const test::SeQuestion kBreak{102, "Why &lt;br&gt;?", "<p>Q2</p>", "<p>A2</p>"};
const test::SeQuestion kCafe{103, "Caf&#233;", "<p>Q3</p>", "<p>A3</p>"};
const test::SeQuestion kOpen{104, "Still open", "<p>Q4</p>", "", 0};

TEST_F(Form6StackExchangeTest, SourceChoiceIsLabelledAndKeyboardUsable) {
    auto* web = child<QRadioButton>("Option4");
    auto* stackExchange = child<QRadioButton>("Option5");
    auto* site = child<QComboBox>("Combo1");
    EXPECT_TRUE(web->isChecked()) << "the classic web search stays the default";
    EXPECT_FALSE(site->isEnabled());
    EXPECT_EQ(child<QLabel>("Label3")->buddy(), site);
    EXPECT_FALSE(site->accessibleName().isEmpty());
    EXPECT_FALSE(child<QLabel>("Label4")->accessibleName().isEmpty());
    for (const QLineEdit* field : form->findChildren<QLineEdit*>()) {
        EXPECT_FALSE(field->accessibleName().isEmpty())
            << field->parent()->objectName().toStdString();
    }

    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    // An access key clicks its button the way a mouse click is animated: a moment later.
    QTest::keyClick(form.get(), Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(WaitFor([&] { return stackExchange->isChecked(); }));
    EXPECT_TRUE(site->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_I, Qt::AltModifier);
    EXPECT_TRUE(site->hasFocus());
    EXPECT_EQ(site->currentText(), QStringLiteral("stackoverflow"));

    // Tab goes from the search to the source, the site, the depth and the list.
    child<QLineEdit>("Text1")->setFocus();
    for (const char* name : {"Command1", "Option5", "Combo1", "Option1", "List1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(child<QWidget>(name)->hasFocus()) << name;
    }
    QTest::keyClick(form.get(), Qt::Key_W, Qt::AltModifier);
    EXPECT_TRUE(WaitFor([&] { return web->isChecked(); }));
    EXPECT_FALSE(site->isEnabled());
    EXPECT_TRUE(server.requests().empty()) << "choosing a source sends nothing";
}

// Go lists the questions with an accepted answer; Next and Save all work on
// pages built from the API's question and answer, two requests in all.
TEST_F(Form6StackExchangeTest, ListsHandsOverAndSavesArticlesWithTheirAttribution) {
    server.serveGzip("/2.3/search/advanced", test::SeSearchReply({kLoop, kOpen, kBreak, kCafe}));
    server.serveGzip("/2.3/answers/201;202;203", test::SeAnswersReply({kCafe, kLoop, kBreak}));
    chooseSite(QStringLiteral(" superuser "));
    child<QRadioButton>("Option2")->click();
    search(QStringLiteral("bash loop"));
    ASSERT_EQ(server.requests(),
              std::vector<std::string>{
                  "/2.3/search/advanced?order=desc&sort=relevance&q=bash%20loop&accepted=True"
                  "&answers=1&pagesize=10&site=superuser&filter=withbody"});
    ASSERT_EQ(list1()->count(), 3);
    EXPECT_EQ(list1()->item(0)->text(), QStringLiteral("How do I loop over \"files\"?"));
    EXPECT_EQ(list1()->item(1)->text(), QStringLiteral("Why <br>?"));
    EXPECT_EQ(list1()->item(2)->text(), QStringLiteral("Caf\u00e9"));
    EXPECT_TRUE(child<QLabel>("Label4")->text().isEmpty()) << "plenty of quota left";

    QSignalSpy next(form.get(), &Form6::showForm1Requested);
    button("Command4")->click();
    press("Command3");
    ASSERT_EQ(next.size(), 1) << dialogs.messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(CutQaArticle(ReadPageFile(dir / "tempo.htm")), test::SeArticle(kLoop));

    form->show();
    press("Command5");
    std::string combined;
    for (const auto& q : {kLoop, kBreak, kCafe}) {
        const int n = q.id - kLoop.id;
        EXPECT_EQ(ReadBytes(dir / "articles" / (std::to_string(n) + ".html")),
                  test::SeArticle(q) + "\r\n");
        combined += test::SeArticle(q) + "\r\n\r\n";
    }
    EXPECT_EQ(ReadBytes(dir / "articles/bash loop.html"), combined);
    EXPECT_EQ(server.requests().size(), 2u) << "one search, one request for every answer";
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(Form6StackExchangeTest, RefusalsBackoffAndLowQuotaReachTheUser) {
    chooseSite(QStringLiteral("nosuchsite"));
    server.serveGzip("/2.3/search/advanced",
                     test::SeError(400, "bad_parameter", "No site found for name `nosuchsite`"),
                     400);
    search(QStringLiteral("t"));
    ASSERT_EQ(dialogs.messages(), QStringList{QStringLiteral(
                                      "The search failed: Stack Exchange refused the request: No "
                                      "site found for name `nosuchsite` (error 400, "
                                      "bad_parameter).")});
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);
    EXPECT_EQ(list1()->count(), 0);
    dialogs.clear();

    // An empty site is asked for like an empty term; Enter in the site field runs Go.
    auto* site = child<QComboBox>("Combo1");
    site->setEditText(QStringLiteral("  "));
    press("Command1");
    EXPECT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("Please enter a Stack Exchange site")});
    EXPECT_TRUE(site->hasFocus());
    site->setEditText(QStringLiteral("askubuntu"));
    server.serveGzip("/2.3/search/advanced", test::SeSearchReply({kBreak}));
    QTest::keyClick(site->lineEdit(), Qt::Key_Return);
    settle();
    EXPECT_EQ(server.requests().size(), 2u) << "Enter runs Go once";
    EXPECT_NE(server.requests().back().find("&site=askubuntu&"), std::string::npos);
    EXPECT_EQ(list1()->count(), 1);
    dialogs.clear();

    // A backoff holds back the next search; the quota left shows when low.
    site->setEditText(QStringLiteral("stackoverflow"));
    server.serveGzip("/2.3/search/advanced", test::SeSearchReply({kLoop}, 7, R"(,"backoff":600)"));
    server.serveGzip("/2.3/answers/201", test::SeError(502, "throttle_violation", "slow down"),
                     502);
    search(QStringLiteral("t"));
    ASSERT_EQ(list1()->count(), 1);
    EXPECT_EQ(child<QLabel>("Label4")->text(),
              QStringLiteral("Stack Exchange: 7 requests left today"));
    button("Command4")->click();
    press("Command3");
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral(
                                      "The question page could not be downloaded: Stack Exchange "
                                      "refused the request: slow down (error 502, "
                                      "throttle_violation).")});
    EXPECT_TRUE(form->isVisible());
    dialogs.clear();

    search(QStringLiteral("t"));
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages().front().startsWith(
        QStringLiteral("The search failed: Stack Exchange asked for a pause; try again in ")));
    EXPECT_EQ(server.requests().size(), 4u) << "no search before the backoff has passed";
    dialogs.clear();

    // Back to the web search: its query, its list.
    test::ChooseAccessibly(*child<QRadioButton>("Option4"));
    serveResults(2);
    search(QStringLiteral("t"));
    EXPECT_EQ(server.requests().back().rfind("/search?q=site%3Aanswers.example+t+", 0), 0u);
    EXPECT_EQ(list1()->count(), 2);
    EXPECT_TRUE(child<QLabel>("Label4")->text().isEmpty());
}

}  // namespace
