#include "ftp/FrmConnect.h"

#include "ftp/frmmain.h"
#include "platform/AppContext.h"
#include "platform/QtDialogs.h"
#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/GuiTest.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quill;
using quill::test::FtpServer;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

class FrmConnectTest : public ::testing::Test {
protected:
    void SetUp() override {
        client = std::make_unique<frmmain>(context);
        manager = new FrmConnect(context, client.get());
        // Wired as the client wires the managers it opens.
        QObject::connect(manager, &FrmConnect::connectRequested, client.get(), &frmmain::Connect);
        QObject::connect(client.get(), &frmmain::sessionOpened, manager, &FrmConnect::startTimer1);
        manager->show();
    }
    template <typename T>
    T* child(const char* name) {
        return test::FindNamed<T>(*manager, name);
    }
    QString text(const char* name) { return child<QLineEdit>(name)->text(); }
    void type(const char* name, const QString& value) {
        auto* edit = child<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, value);
    }
    void click(const char* name) {
        auto* button = child<QAbstractButton>(name);
        ASSERT_TRUE(button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
    }
    QTreeWidgetItem* profileNode(const QString& name) {
        auto items =
            child<QTreeWidget>("TView1")->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        return items.isEmpty() ? nullptr : items.front();
    }
    void clickNode(QTreeWidgetItem* node) {
        auto* tree = child<QTreeWidget>("TView1");
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(node).center());
    }
    QStringList profileNames() {
        QStringList names;
        QTreeWidgetItem* root = child<QTreeWidget>("TView1")->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) {
            names << root->child(i)->text(0);
        }
        return names;
    }

    TempDir folder;
    quill::test::FakeDialogs dialogs;
    QtClipboard clipboard;
    quill::test::FakeShell shell;
    AppContext context{folder.path(), dialogs, clipboard, shell};
    std::unique_ptr<frmmain> client;
    FrmConnect* manager = nullptr;
};

TEST_F(FrmConnectTest, StartsWithTheDefaults) {
    EXPECT_EQ(manager->windowTitle(), QStringLiteral("FTP Site Manager"));
    EXPECT_EQ(QString::fromLatin1(FrmConnect::kAnonymousPassword).size(), 16);
    EXPECT_TRUE(QString::fromLatin1(FrmConnect::kAnonymousPassword).contains(u'@'));
    EXPECT_EQ(text("txtSiteName"), QString());
    EXPECT_EQ(text("txtServer"), QString());
    EXPECT_EQ(text("txtUser"), QStringLiteral("annonymous"));
    EXPECT_EQ(text("txtPass"), QString::fromLatin1(FrmConnect::kAnonymousPassword));
    EXPECT_EQ(text("txtPort"), QStringLiteral("21"));
    EXPECT_EQ(child<QLabel>("Label2")->text(), QStringLiteral("FTP://"));
    EXPECT_TRUE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_EQ(child<QCheckBox>("Check1")->text(), QStringLiteral("Annonymous"));
    EXPECT_FALSE(child<QCheckBox>("Check2")->isChecked());
    for (const char* on : {"Option1", "Option3", "Option6"}) {
        EXPECT_TRUE(child<QRadioButton>(on)->isChecked()) << on;
    }
    for (const char* off : {"Option2", "Option4", "Option5", "Option7"}) {
        EXPECT_FALSE(child<QRadioButton>(off)->isChecked()) << off;
    }
    const std::pair<const char*, const char*> buttons[] = {{"Command1", "Save"},
                                                           {"Command2", "New"},
                                                           {"Command3", "Connect"},
                                                           {"Command4", "Cancel"},
                                                           {"Command5", "Delete"}};
    for (const auto& [name, caption] : buttons) {
        EXPECT_EQ(child<QPushButton>(name)->text(), QString::fromLatin1(caption));
    }
    EXPECT_FALSE(child<QPushButton>("Command5")->isEnabled());
    auto* timer = manager->findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_TRUE(timer);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 2000);
    QTreeWidgetItem* root = child<QTreeWidget>("TView1")->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("Profile(s)"));
    EXPECT_EQ(root->childCount(), 0);
}

TEST_F(FrmConnectTest, SaveSelectNewAndToggles) {
    click("Command1");
    EXPECT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("Fill something in the first two text boxes!")});
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);

    dialogs.clear();
    type("txtSiteName", QStringLiteral("my site"));
    type("txtServer", QStringLiteral("ftp.example.test"));
    type("txtUser", QStringLiteral("webmaster"));
    type("txtPass", QStringLiteral("pw"));
    type("txtPort", QStringLiteral("2121"));
    click("Command1");  // "Save password" unchecked: no password stored
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("Profil Saved")});
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Information);
    EXPECT_EQ(ReadBytes(folder / "my site.ftp"),
              "[PROFIL]\r\nsname=my site\r\nadresa=ftp.example.test\r\nID=webmaster\r\npass=\r\n"
              "port=2121\r\n");
    struct stat info {};
    ASSERT_EQ(::stat((folder / "my site.ftp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(profileNames(), QStringList{QStringLiteral("my site.ftp")});

    click("Check2");
    click("Command1");
    EXPECT_EQ(ReadBytes(folder / "my site.ftp"),
              "[PROFIL]\r\nsname=my site\r\nadresa=ftp.example.test\r\nID=webmaster\r\npass=pw\r\n"
              "port=2121\r\n");

    click("Command2");  // New, with "Annonymous" unchecked by the typed user
    EXPECT_EQ(text("txtSiteName"), QString());
    EXPECT_EQ(text("txtServer"), QString());
    EXPECT_EQ(text("txtPort"), QStringLiteral("21"));

    clickNode(profileNode(QStringLiteral("my site.ftp")));
    EXPECT_EQ(text("txtSiteName"), QStringLiteral("my site"));
    EXPECT_EQ(text("txtServer"), QStringLiteral("ftp.example.test"));
    EXPECT_EQ(text("txtUser"), QStringLiteral("webmaster"));
    EXPECT_EQ(text("txtPass"), QStringLiteral("pw"));
    EXPECT_EQ(text("txtPort"), QStringLiteral("2121"));
    EXPECT_FALSE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("Check2")->isChecked());
    EXPECT_TRUE(child<QPushButton>("Command5")->isEnabled());

    click("Check1");  // Anonymous toggle on
    EXPECT_EQ(text("txtUser"), QStringLiteral("annonymous"));
    EXPECT_EQ(text("txtPass"), QString::fromLatin1(FrmConnect::kAnonymousPassword));
    EXPECT_FALSE(child<QPushButton>("Command5")->isEnabled());
    click("Check1");  // and off
    EXPECT_EQ(text("txtUser"), QString());
    EXPECT_EQ(text("txtPass"), QString());

    for (const char* disabler : {"Check2", "Option2", "Option1"}) {
        clickNode(profileNode(QStringLiteral("my site.ftp")));
        ASSERT_TRUE(child<QPushButton>("Command5")->isEnabled());
        click(disabler);
        EXPECT_FALSE(child<QPushButton>("Command5")->isEnabled()) << disabler;
    }
    clickNode(profileNode(QStringLiteral("my site.ftp")));
    clickNode(child<QTreeWidget>("TView1")->topLevelItem(0));  // the root
    EXPECT_FALSE(child<QPushButton>("Command5")->isEnabled());

    click("Option5");
    EXPECT_EQ(text("txtPort"), QStringLiteral("80"));
    EXPECT_EQ(child<QLabel>("Label2")->text(), QStringLiteral("HTTP://"));
    click("Option6");
    EXPECT_EQ(text("txtPort"), QStringLiteral("21"));
    EXPECT_EQ(child<QLabel>("Label2")->text(), QStringLiteral("FTP://"));
}

// A screen reader's toggle action (no click) has the effect of a click.
TEST_F(FrmConnectTest, ChoicesThroughAScreenReaderTakeEffect) {
    WriteBytes(folder / "site.ftp",
               "[PROFIL]\r\nsname=site\r\nadresa=ftp.example.test\r\nID=webmaster\r\n"
               "pass=pw\r\nport=21\r\n");
    manager->RefreshProfileTree();
    clickNode(profileNode(QStringLiteral("site.ftp")));
    ASSERT_FALSE(child<QCheckBox>("Check1")->isChecked());
    test::ChooseAccessibly(*child<QCheckBox>("Check1"));
    EXPECT_EQ(text("txtUser"), QStringLiteral("annonymous"));
    EXPECT_EQ(text("txtPass"), QString::fromLatin1(FrmConnect::kAnonymousPassword));
    EXPECT_FALSE(child<QPushButton>("Command5")->isEnabled());
    test::ChooseAccessibly(*child<QCheckBox>("Check1"));
    EXPECT_EQ(text("txtUser"), QString());
    for (const char* disabler : {"Check2", "Option2", "Option1"}) {
        clickNode(profileNode(QStringLiteral("site.ftp")));
        ASSERT_TRUE(child<QPushButton>("Command5")->isEnabled());
        test::ChooseAccessibly(*child<QAbstractButton>(disabler));
        EXPECT_FALSE(child<QPushButton>("Command5")->isEnabled()) << disabler;
    }
    test::ChooseAccessibly(*child<QRadioButton>("Option5"));
    EXPECT_EQ(text("txtPort"), QStringLiteral("80"));
    test::ChooseAccessibly(*child<QRadioButton>("Option6"));
    EXPECT_EQ(child<QLabel>("Label2")->text(), QStringLiteral("FTP://"));
}

TEST_F(FrmConnectTest, ProfilesWrittenElsewhereAndOddFiles) {
    WriteBytes(folder / "anon.ftp",
               "[PROFIL]\nsname=anon\nadresa=" + std::string(80, 'h') + "\nID=annonymous\n");
    WriteBytes(folder / "Anon2.ftp", "[PROFIL]\r\nID=Annonymous\r\npass=x\r\n");
    WriteBytes(folder / "junk.ftp", std::string("\x7f"
                                                "ELF\x00\x01 not ini",
                                                14));
    WriteBytes(folder / "notes.txt", "");
    manager->RefreshProfileTree();
    EXPECT_EQ(profileNames(), (QStringList{QStringLiteral("Anon2.ftp"), QStringLiteral("anon.ftp"),
                                           QStringLiteral("junk.ftp")}));
    clickNode(profileNode(QStringLiteral("anon.ftp")));
    EXPECT_EQ(text("txtServer"), QString(74, u'h'));
    EXPECT_TRUE(child<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("Check2")->isChecked());
    EXPECT_EQ(text("txtPass"), QString());  // stays as stored
    clickNode(profileNode(QStringLiteral("Anon2.ftp")));
    EXPECT_FALSE(child<QCheckBox>("Check1")->isChecked());  // same letters, other case
    EXPECT_EQ(text("txtUser"), QStringLiteral("Annonymous"));
    clickNode(profileNode(QStringLiteral("junk.ftp")));
    EXPECT_EQ(text("txtServer"), QString());
    EXPECT_EQ(text("txtSiteName"), QString());
}

TEST_F(FrmConnectTest, UnsafeSiteNamesAreRefused) {
    type("txtServer", QStringLiteral("ftp.example.test"));
    for (const QString& name : {QStringLiteral("../outside"), QStringLiteral("a/b"),
                                QStringLiteral(".."), QString(QChar(0)) + QStringLiteral("x")}) {
        dialogs.clear();
        child<QLineEdit>("txtSiteName")->setText(name);
        click("Command1");
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);
        EXPECT_NE(dialogs.messages()[0], QStringLiteral("Profil Saved"));
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path().parent_path() / "outside.ftp"));
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(FrmConnectTest, DeleteAsksFirst) {
    WriteBytes(folder / "a.ftp", "[PROFIL]\r\n");
    WriteBytes(folder / "b.ftp", "[PROFIL]\r\n");
    manager->RefreshProfileTree();
    clickNode(profileNode(QStringLiteral("a.ftp")));
    dialogs.answerYes(false);
    click("Command5");
    EXPECT_EQ(dialogs.shown().back().text,
              QStringLiteral("Are you sure you want to delete this profile: a.ftp?"));
    EXPECT_TRUE(std::filesystem::exists(folder / "a.ftp"));
    dialogs.answerYes(true);
    click("Command5");
    EXPECT_FALSE(std::filesystem::exists(folder / "a.ftp"));
    EXPECT_EQ(profileNames(), QStringList{QStringLiteral("b.ftp")});

    // The Delete key on the tree acts on the selected node.
    auto* tree = child<QTreeWidget>("TView1");
    clickNode(profileNode(QStringLiteral("b.ftp")));
    dialogs.answerYes(true);
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_FALSE(std::filesystem::exists(folder / "b.ftp"));
    EXPECT_TRUE(profileNames().isEmpty());
    // On the root there is no file: nothing is asked.
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(dialogs.unusedAnswers(), 0u);
}

TEST_F(FrmConnectTest, ConnectFromTheManagerAndItsTimer) {
    WriteBytes(folder / "x.txt", "x");
    FtpServer server(folder.path());
    type("txtServer", QStringLiteral("127.0.0.1"));
    type("txtPort", QString::number(server.port()));
    child<QCheckBox>("Check1")->click();
    type("txtUser", QStringLiteral("user"));
    type("txtPass", QStringLiteral("secret"));
    click("Option4");  // active mode
    click("Command3");
    EXPECT_TRUE(manager->Timer1()->isActive());  // started once the session opened
    EXPECT_EQ(text("txtSiteName"), QStringLiteral("Quillmint 2012"));
    auto* list = client->findChild<QTreeWidget*>(QStringLiteral("ListView2"));
    ASSERT_TRUE(WaitFor([&] { return list->topLevelItemCount() == 1 && !client->busy(); }, 4000));
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_TRUE(client->session().connected());
    EXPECT_FALSE(client->findChild<QAction*>(QStringLiteral("zPassive"))->isChecked());
    EXPECT_TRUE(client->findChild<QPlainTextEdit*>(QStringLiteral("txtInfo"))
                    ->toPlainText()
                    .contains(QStringLiteral(" *** QUILLMINT 2012 ***")));
    EXPECT_TRUE(manager->Timer1()->isActive());
    EXPECT_TRUE(WaitFor([&] { return !manager->isVisible(); }, 4000));
    EXPECT_FALSE(manager->Timer1()->isActive());
}

TEST_F(FrmConnectTest, FailedAttemptAlsoClosesTheManager) {
    type("txtServer", QStringLiteral("127.0.0.1"));
    type("txtPort", QString::number(quill::test::ClosedPort()));
    click("Command3");
    EXPECT_TRUE(WaitFor([&] { return !manager->isVisible(); }, 4000));
    EXPECT_TRUE(WaitFor([&] { return !dialogs.messages().isEmpty(); }, 4000));
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("Connection to server failed")});

    // A refused address starts no timer.
    manager->show();
    dialogs.clear();
    type("txtServer", QStringLiteral("abc"));
    click("Command3");
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("Wrong adress!")});
    EXPECT_FALSE(manager->Timer1()->isActive());
}

}  // namespace
