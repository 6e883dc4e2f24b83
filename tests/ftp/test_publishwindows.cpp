#include "ftp/PublishPreview.h"
#include "ftp/SiteProfiles.h"
#include "ftp/frmmain.h"
#include "harvester/Form6.h"
#include "localpane/LocalPane.h"

#include "platform/AppContext.h"
#include "platform/QtDialogs.h"
#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/GuiTest.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace quill;
using quill::test::FindNamed;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

QString labelText(const QWidget& window, const char* name) {
    auto* label = FindNamed<QLabel>(window, name);
    return label ? label->text() : QString();
}

TEST(PublishPreview, CountsFollowTheDeleteChoice) {
    PublishPlan plan;
    plan.steps = {{PublishAction::Upload, "a.html", 100},
                  {PublishAction::Upload, "sub/b.html", 50},
                  {PublishAction::Replace, "c.html", 30},
                  {PublishAction::Delete, "old.html", 70}};
    plan.newFolders = {"/www/sub"};
    plan.unchanged = 5;
    PublishPreview preview(plan, QStringLiteral("/here"), QStringLiteral("/www"));
    preview.show();
    auto* remove = FindNamed<QCheckBox>(preview, "chkDelete");
    auto* publish = FindNamed<QPushButton>(preview, "cmdPublish");
    auto* rows = FindNamed<QTreeWidget>(preview, "lstSteps");
    ASSERT_TRUE(remove && publish && rows);
    EXPECT_FALSE(remove->isChecked());
    EXPECT_TRUE(publish->isDefault());
    ASSERT_EQ(rows->topLevelItemCount(), 5);  // the folder and four files
    QTreeWidgetItem* deletion = rows->findItems(QStringLiteral("old.html"), Qt::MatchExactly, 1)[0];

    EXPECT_EQ(labelText(preview, "lblNew"), QStringLiteral("2 files, 150 bytes"));
    EXPECT_EQ(labelText(preview, "lblChanged"), QStringLiteral("1 file, 30 bytes"));
    EXPECT_EQ(labelText(preview, "lblUnchanged"), QStringLiteral("5 files"));
    EXPECT_EQ(labelText(preview, "lblFolders"), QStringLiteral("1"));
    EXPECT_EQ(labelText(preview, "lblProblems"), QStringLiteral("0 files"));
    EXPECT_EQ(labelText(preview, "lblDelete"),
              QStringLiteral("none (1 file removed here stay on the server)"));
    EXPECT_EQ(labelText(preview, "lblTotal"), QStringLiteral("3 files, 180 bytes"));
    EXPECT_EQ(deletion->text(0), QStringLiteral("keep"));
    EXPECT_TRUE(deletion->font(1).strikeOut());
    EXPECT_FALSE(preview.options().deleteRemoved);

    test::ChooseAccessibly(*remove);
    EXPECT_EQ(labelText(preview, "lblDelete"), QStringLiteral("1 file, 70 bytes"));
    EXPECT_EQ(labelText(preview, "lblTotal"),
              QStringLiteral("3 files, 180 bytes; 1 file to delete"));
    EXPECT_EQ(deletion->text(0), QStringLiteral("delete"));
    EXPECT_FALSE(deletion->font(1).strikeOut());
    EXPECT_TRUE(preview.options().deleteRemoved);

    // A run deletes nothing while a file cannot be published: not offered.
    plan.problems = {{"bad.html", "cannot read it"}};
    PublishPreview blocked(plan, QStringLiteral("/here"), QStringLiteral("/www"));
    EXPECT_EQ(labelText(blocked, "lblProblems"), QStringLiteral("1 file"));
    EXPECT_FALSE(FindNamed<QCheckBox>(blocked, "chkDelete")->isEnabled());
    EXPECT_FALSE(blocked.options().deleteRemoved);

    // Deletions alone are something to do only when chosen.
    PublishPlan onlyRemoved;
    onlyRemoved.steps = {{PublishAction::Delete, "old.html", 70}};
    PublishPreview second(onlyRemoved, QStringLiteral("/here"), QStringLiteral("/www"));
    auto* secondPublish = FindNamed<QPushButton>(second, "cmdPublish");
    EXPECT_FALSE(secondPublish->isEnabled());
    EXPECT_FALSE(FindNamed<QLabel>(second, "lblNothing")->isHidden());
    FindNamed<QCheckBox>(second, "chkDelete")->setChecked(true);
    EXPECT_TRUE(secondPublish->isEnabled());
}

TEST(QtDialogs, PublishTargetOffersEachSitesRememberedFolder) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_TRUE(box);
        auto* site = FindNamed<QComboBox>(*box, "cboSite");
        auto* folder = FindNamed<QLineEdit>(*box, "txtFolder");
        QPushButton* ok = box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        EXPECT_EQ(folder->text(), QStringLiteral("/www"));
        site->setCurrentIndex(1);
        EXPECT_TRUE(folder->text().isEmpty());
        EXPECT_FALSE(ok->isEnabled());
        folder->setText(QStringLiteral(" /blog "));
        seen = true;
        ok->click();
    });
    QtDialogs dialogs;
    const auto target =
        dialogs.askPublishTarget({QStringLiteral("Blog"), QStringLiteral("Shop")},
                                 {{QStringLiteral("Blog"), QStringLiteral("/www")}});
    EXPECT_TRUE(seen);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->site, QStringLiteral("Shop"));
    EXPECT_EQ(target->folder, QStringLiteral("/blog"));
}

class PublishWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(serverRoot / "www"); }
    // Presses Publish in the preview the flow opens, then waits until it is over.
    void publishThroughPreview(QWidget& window, bool deleteRemoved,
                               const std::function<bool()>& over) {
        PublishPreview* preview = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (preview = window.findChild<PublishPreview*>()); }));
        FindNamed<QCheckBox>(*preview, "chkDelete")->setChecked(deleteRemoved);
        FindNamed<QPushButton>(*preview, "cmdPublish")->click();
        ASSERT_TRUE(WaitFor(over, 30000));
    }

    TempDir programFolder;
    TempDir serverRoot;
    TempDir local;
    test::FtpServer server{serverRoot.path()};
    test::FakeDialogs dialogs;
    test::FakeClipboard clipboard;
    test::FakeShell shell;
    AppContext context{programFolder.path(), dialogs, clipboard, shell};
};

TEST_F(PublishWindowsTest, FtpClientPublishesTheLocalFolderAndLogsEveryFile) {
    WriteBytes(local / "a.html", "<p>one</p>");
    std::filesystem::create_directories(local / "sub");
    WriteBytes(local / "sub" / "b.html", std::string(3000, 'b'));
    frmmain form(context);
    form.show();
    form.localPane()->setFolder(local.path());
    FindNamed<QLineEdit>(form, "txtserver")->setText(QStringLiteral("127.0.0.1"));
    FindNamed<QLineEdit>(form, "txtport")->setText(QString::number(server.port()));
    FindNamed<QLineEdit>(form, "txtuser")->setText(QStringLiteral("user"));
    FindNamed<QLineEdit>(form, "txtpass")->setText(QStringLiteral("secret"));
    FindNamed<QPushButton>(form, "Command4")->click();
    ASSERT_TRUE(WaitFor([&] { return form.session().connected() && !form.busy(); }));
    auto* log = FindNamed<QPlainTextEdit>(form, "txtInfo");
    const auto publish = [&](bool deleteRemoved) {
        log->clear();
        FindNamed<QAction>(form, "zPublish")->trigger();
        EXPECT_TRUE(form.busy());  // planning: the other FTP commands wait
        publishThroughPreview(form, deleteRemoved, [&] { return !form.busy(); });
        return log->toPlainText();
    };

    QString entries = publish(false);
    EXPECT_EQ(ReadBytes(serverRoot / "a.html"), "<p>one</p>");
    EXPECT_EQ(ReadBytes(serverRoot / "sub" / "b.html"), std::string(3000, 'b'));
    EXPECT_TRUE(entries.contains(QStringLiteral(" > upload a.html (10 bytes)")))
        << entries.toStdString();
    EXPECT_TRUE(entries.contains(QStringLiteral(" > upload sub/b.html (3000 bytes)")));
    EXPECT_EQ(entries.count(QStringLiteral(" > upload ")), 2);
    EXPECT_TRUE(entries.contains(QStringLiteral(" > Published: 2 new, 0 replaced, 0 deleted")));
    EXPECT_TRUE(
        test::RowNamed(*FindNamed<QAbstractItemView>(form, "ListView2"), QStringLiteral("a.html"))
            .isValid())
        << "the server's list is refreshed";

    // The record of this quick connect tells what changed since.
    WriteBytes(local / "a.html", "<p>two</p>");
    std::filesystem::remove(local / "sub" / "b.html");
    entries = publish(true);
    EXPECT_EQ(ReadBytes(serverRoot / "a.html"), "<p>two</p>");
    EXPECT_FALSE(std::filesystem::exists(serverRoot / "sub" / "b.html"));
    EXPECT_TRUE(entries.contains(QStringLiteral(" > replace a.html (10 bytes)")));
    EXPECT_TRUE(entries.contains(QStringLiteral(" > delete sub/b.html (3000 bytes)")));
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(u'|').toStdString();

    FindNamed<QAction>(form, "zPublish")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !form.busy(); }));
    EXPECT_EQ(form.findChild<PublishPreview*>(), nullptr);
    EXPECT_TRUE(dialogs.messages().value(0).startsWith(QStringLiteral("Nothing to publish")));
}

TEST_F(PublishWindowsTest, HarvesterPublishesTheArticlesToARememberedFolder) {
    Form6 form(context);
    form.show();
    EXPECT_FALSE(FindNamed<QPushButton>(form, "cmdPublish")->isEnabled());
    form.cmdPublish_Click();
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages()[0].contains(QStringLiteral("no saved site")));

    WriteBytes(programFolder / "Blog.ftp", "[PROFIL]\r\nadresa=127.0.0.1\r\npassstore=keyring\r\n");
    dialogs.answerPublishTarget(PublishTarget{QStringLiteral("Blog"), QStringLiteral("/www")});
    form.cmdPublish_Click();  // no keyring answers in tests: no password, no publish
    EXPECT_TRUE(dialogs.messages().value(1).contains(QStringLiteral("could not be read")));
    SiteProfile profile{"Blog", "127.0.0.1", "user", "secret", std::to_string(server.port())};
    ASSERT_TRUE(SiteProfiles(programFolder.path()).Save(profile));
    std::filesystem::create_directories(programFolder / "articles");
    WriteBytes(programFolder / "articles" / "q1.htm", "<h1>Q1</h1>");
    const auto publish = [&](const char* folder) {
        dialogs.answerPublishTarget(
            PublishTarget{QStringLiteral("Blog"), QString::fromLatin1(folder)});
        dialogs.clear();
        form.cmdPublish_Click();
        publishThroughPreview(form, false, [&] { return !dialogs.messages().isEmpty(); });
    };
    publish("/www/articles");
    EXPECT_EQ(ReadBytes(serverRoot / "www" / "articles" / "q1.htm"), "<h1>Q1</h1>");
    EXPECT_TRUE(dialogs.messages().value(0).startsWith(QStringLiteral("Published: 1 new")))
        << dialogs.messages().join(u'|').toStdString();

    WriteBytes(programFolder / "articles" / "q2.htm", "<h1>Q2</h1>");
    publish("/www/articles");
    EXPECT_EQ(dialogs.shown()[0].defaultText, QStringLiteral("/www/articles"))
        << "the folder is offered again";
    EXPECT_TRUE(dialogs.messages().value(0).startsWith(QStringLiteral("Published: 1 new")));
    EXPECT_EQ(ReadBytes(serverRoot / "www" / "articles" / "q2.htm"), "<h1>Q2</h1>");
}

}  // namespace
