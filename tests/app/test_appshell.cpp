#include "app/AppShell.h"

#include "common/ProgramFolder.h"
#include "extractor/Form1.h"
#include "extractor/Form7.h"
#include "extractor/Formins.h"
#include "ftp/frmmain.h"
#include "harvester/Form6.h"
#include "platform/AppContext.h"
#include "support/FakeDialogs.h"
#include "support/GuiTest.h"
#include "support/HttpServer.h"
#include "support/QaPages.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quill;
using quill::test::QuestionArticle;
using quill::test::QuestionPage;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

class AppShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureProgramSubfolders(dir.path()));
        WriteBytes(dir / "tempo.htm", QuestionPage("First", "First answer"));
        context.searchHost = server.host();
        context.now = [] { return QDateTime(QDate(2026, 12, 8), QTime(10, 30)); };
        shell.start();
    }

    template <typename T>
    static T* child(QWidget* window, const char* name) {
        return test::FindNamed<T>(*window, name);
    }
    // Lets deleteLater run so unloaded windows are really gone.
    static void settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(20);
    }

    // Go and Next run on the harvester's worker: waits for their results.
    static void press(Form6* harvester, const char* name) {
        child<QPushButton>(harvester, name)->click();
        EXPECT_TRUE(WaitFor([harvester] { return !harvester->busy(); }));
    }

    test::HttpServer server;
    test::TempDir dir;
    test::FakeDialogs dialogs;
    test::FakeClipboard clipboard;
    test::FakeShell desktop;
    AppContext context{dir.path(), dialogs, clipboard, desktop};
    AppShell shell{context};
};

TEST_F(AppShellTest, StartShowsTheExtractorWithTheHandedOverArticle) {
    ASSERT_NE(shell.form1(), nullptr);
    EXPECT_TRUE(shell.form1()->isVisible());
    EXPECT_EQ(shell.form1()->articleHtml(), QuestionArticle("First", "First answer"));
}

TEST_F(AppShellTest, FinishUnloadsTheExtractorAndShowsTheHarvester) {
    QPointer<Form1> old = shell.form1();
    child<QPushButton>(old, "Command11")->click();
    settle();
    EXPECT_TRUE(old.isNull()) << "the extractor is unloaded, not hidden";
    ASSERT_NE(shell.form6(), nullptr);
    EXPECT_TRUE(shell.form6()->isVisible());
}

TEST_F(AppShellTest, NextLoadsTheExtractorAfreshWithTheNewPage) {
    child<QPushButton>(shell.form1(), "Command11")->click();
    settle();
    server.serve("/q/0", QuestionPage("Second", "Second answer"));
    server.serve("/search", test::ResultPage({{server.url("/q/0"), "Second"}}));
    Form6* harvester = shell.form6();
    child<QLineEdit>(harvester, "Text1")->setText(QStringLiteral("x"));
    press(harvester, "Command1");
    child<QPushButton>(harvester, "Command4")->click();
    press(harvester, "Command3");
    EXPECT_FALSE(harvester->isVisible());
    ASSERT_NE(shell.form1(), nullptr);
    EXPECT_TRUE(shell.form1()->isVisible());
    EXPECT_EQ(shell.form1()->articleHtml(), QuestionArticle("Second", "Second answer"));

    // Back to the harvester: the same window with its list.
    child<QPushButton>(shell.form1(), "Command11")->click();
    settle();
    EXPECT_EQ(shell.form6(), harvester);
    EXPECT_EQ(child<QListWidget>(harvester, "List1")->count(), 1);
}

TEST_F(AppShellTest, AboutShowsDateAndListThenHomeLeadsToTheHarvester) {
    QPointer<Form1> old = shell.form1();
    child<QPushButton>(old, "Command10")->click();
    settle();
    EXPECT_TRUE(old.isNull());
    Form7* about = shell.form7();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(),
              QStringLiteral("About : Tarnwick Article extractor for content"));
    EXPECT_EQ(child<QLabel>(about, "Label2")->text(), QStringLiteral("Date :"));
    EXPECT_EQ(child<QLabel>(about, "Label1")->text(),
              QLocale::system().toString(QDate(2026, 12, 8), QLocale::ShortFormat));
    auto* list = child<QListWidget>(about, "List1");
    ASSERT_EQ(list->count(), 8);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("Company : Brindlecast"));
    EXPECT_EQ(list->item(3)->text(), QStringLiteral("Software : Tarnwick's Quillmint 2012"));
    EXPECT_EQ(list->item(4)->text(), QStringLiteral("System : Version 3.0 designed for Windows"));
    EXPECT_TRUE(list->item(5)->text().startsWith(QStringLiteral("Website : http")));
    EXPECT_TRUE(list->item(6)->text().startsWith(QStringLiteral("Email : ")));
    EXPECT_TRUE(list->item(7)->text().startsWith(QStringLiteral("Created by : ")));

    child<QPushButton>(about, "Command1")->click();
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_TRUE(list->item(5)->text().endsWith(desktop.opened.front()));
    EXPECT_TRUE(about->isVisible()) << "Visit Website keeps the About window open";

    QPointer<Form7> aboutPtr = about;
    child<QPushButton>(about, "Command3")->click();
    settle();
    EXPECT_TRUE(aboutPtr.isNull());
    ASSERT_NE(shell.form6(), nullptr);
    EXPECT_TRUE(shell.form6()->isVisible());
    EXPECT_EQ(shell.form1(), nullptr) << "Home does not lead back to the extractor";
}

TEST_F(AppShellTest, ClosingAboutBehavesLikeHome) {
    child<QPushButton>(shell.form1(), "Command10")->click();
    settle();
    QPointer<Form7> about = shell.form7();
    ASSERT_FALSE(about.isNull());
    about->close();
    settle();
    EXPECT_TRUE(about.isNull());
    ASSERT_NE(shell.form6(), nullptr);
    EXPECT_TRUE(shell.form6()->isVisible());
}

TEST_F(AppShellTest, InsertionIsPutInFrontOfTheArticle) {
    Q_EMIT child<QLabel>(shell.form1(), "Label2")->linkActivated(QStringLiteral("#"));
    Formins* ins = shell.formins();
    ASSERT_NE(ins, nullptr);
    EXPECT_TRUE(ins->isVisible());
    EXPECT_EQ(ins->windowTitle(), QStringLiteral("Insertion to Tarnwick's Quillmint"));
    child<QLineEdit>(ins, "Text2")->setText(QStringLiteral("Sky"));
    child<QCheckBox>(ins, "Check1")->setChecked(true);
    QPointer<Formins> insPtr = ins;
    child<QPushButton>(ins, "Command1")->click();
    settle();
    EXPECT_TRUE(insPtr.isNull()) << "Ok unloads the insertion window";
    EXPECT_EQ(shell.form1()->articleHtml(),
              "Subject : Sky<BR><BR>Keywords : -<Br><BR>Date : "
              "<script>document.write(Date());</script><BR><BR>" +
                  QuestionArticle("First", "First answer"));
    EXPECT_TRUE(child<QPlainTextEdit>(shell.form1(), "Text1")
                    ->toPlainText()
                    .startsWith(QStringLiteral("Subject : Sky")));
}

TEST_F(AppShellTest, ClosingTheInsertionWindowChangesNothing) {
    Q_EMIT child<QLabel>(shell.form1(), "Label2")->linkActivated(QStringLiteral("#"));
    child<QLineEdit>(shell.formins(), "Text2")->setText(QStringLiteral("Sky"));
    shell.formins()->close();
    settle();
    EXPECT_EQ(shell.formins(), nullptr);
    EXPECT_EQ(shell.form1()->articleHtml(), QuestionArticle("First", "First answer"));
}

TEST_F(AppShellTest, OkAfterFinishLoadsTheExtractorHiddenWithTheFreshArticle) {
    Q_EMIT child<QLabel>(shell.form1(), "Label2")->linkActivated(QStringLiteral("#"));
    Formins* ins = shell.formins();
    child<QPushButton>(shell.form1(), "Command11")->click();
    settle();
    ASSERT_EQ(shell.form1(), nullptr);
    WriteBytes(dir / "tempo.htm", QuestionPage("Fresh", "Fresh answer"));
    child<QPushButton>(ins, "Command1")->click();
    settle();
    ASSERT_NE(shell.form1(), nullptr);
    EXPECT_FALSE(shell.form1()->isVisible());
    EXPECT_EQ(shell.form1()->articleHtml(),
              "Subject : -<BR><BR>Keywords : -<Br><BR>" + QuestionArticle("Fresh", "Fresh answer"));
}

TEST_F(AppShellTest, FtpUploadOpensTheClientAndClosingItBringsTheExtractorBack) {
    QPointer<Form1> extractor = shell.form1();
    child<QPushButton>(extractor, "Command9")->click();
    QPointer<frmmain> client = shell.ftpClient();
    ASSERT_FALSE(client.isNull());
    EXPECT_TRUE(client->isVisible());
    EXPECT_EQ(client->windowTitle(), QStringLiteral("Tarnwick Ftp Client 1.0"));
    EXPECT_EQ(shell.form1(), extractor.data()) << "the extractor stays loaded";

    child<QPushButton>(extractor, "Command9")->click();
    EXPECT_EQ(shell.ftpClient(), client.data()) << "one client window at a time";

    extractor->hide();
    client->close();
    settle();
    EXPECT_TRUE(client.isNull());
    ASSERT_FALSE(extractor.isNull());
    EXPECT_TRUE(extractor->isVisible());
}

TEST_F(AppShellTest, ClientAboutShowsTheExtractorLoadingItWhenNeeded) {
    child<QPushButton>(shell.form1(), "Command9")->click();
    frmmain* client = shell.ftpClient();
    ASSERT_NE(client, nullptr);
    shell.unloadForm1();
    settle();
    ASSERT_EQ(shell.form1(), nullptr);
    QAction* about = client->findChild<QAction*>(QStringLiteral("zAbout"));
    ASSERT_NE(about, nullptr);
    about->trigger();
    ASSERT_NE(shell.form1(), nullptr);
    EXPECT_TRUE(shell.form1()->isVisible());
    EXPECT_TRUE(client->isVisible());
}

TEST_F(AppShellTest, ClosingTheLastVisibleWindowEndsTheProgramEvenWithTheHarvesterHidden) {
    child<QPushButton>(shell.form1(), "Command11")->click();
    settle();
    server.serve("/search", test::ResultPage({}));
    child<QLineEdit>(shell.form6(), "Text1")->setText(QStringLiteral("x"));
    press(shell.form6(), "Command1");
    child<QPushButton>(shell.form6(), "Command3")->setEnabled(true);
    child<QPushButton>(shell.form6(), "Command3")->click();
    ASSERT_FALSE(shell.form6()->isVisible());
    ASSERT_TRUE(shell.form1()->isVisible());

    // Run the real event loop: it must end by itself once the extractor is
    // closed, not by the safety timer.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    bool safetyFired = false;
    QTimer::singleShot(0, shell.form1(), [this] { shell.form1()->close(); });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, qApp, [&safetyFired] {
        safetyFired = true;
        QCoreApplication::quit();
    });
    safety.start(10000);
    QCoreApplication::exec();
    EXPECT_FALSE(safetyFired) << "the hidden harvester kept the program running";
    settle();
    EXPECT_EQ(shell.form1(), nullptr) << "closing the extractor unloads it";
}

}  // namespace
