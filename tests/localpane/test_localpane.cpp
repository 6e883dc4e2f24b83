#include "localpane/LocalPane.h"

#include "common/TextCodec.h"
#include "localpane/LocalFileOps.h"
#include "platform/AppContext.h"
#include "support/FakeDialogs.h"
#include "support/GuiTest.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTreeView>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::WaitFor;
using quill::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

using Shown = quill::test::FakeDialogs::Shown;

class LocalPaneTest : public ::testing::Test {
protected:
    LocalPaneTest() {
        fs::create_directories(program / "Logon");
        fs::create_directories(work);
    }

    std::unique_ptr<LocalPane> open(const fs::path& folder) {
        auto pane = std::make_unique<LocalPane>(context);
        pane->resize(700, 600);
        pane->show();
        pane->setFolder(folder);
        return pane;
    }
    template <typename T>
    T* child(const QObject& parent, const char* name) {
        return test::FindNamed<T>(parent, name);
    }
    QTreeView* list(LocalPane& pane) { return child<QTreeView>(pane, "ListView1"); }
    QListWidget* dir1(LocalPane& pane) { return child<QListWidget>(pane, "Dir1"); }

    static QStringList Column(QTreeView* view, int column) {
        return test::ColumnTexts(*view, column);
    }
    static QStringList Folders(QListWidget* view) {
        QStringList texts;
        for (int i = 0; i < view->count(); ++i) {
            texts << view->item(i)->text();
        }
        return texts;
    }
    static QModelIndex Item(QTreeView* view, const QString& name) {
        return test::RowNamed(*view, name);
    }
    static QString Cell(QTreeView* view, const QString& name, int column) {
        return Item(view, name).siblingAtColumn(column).data().toString();
    }
    static void Select(QTreeView* view, const QStringList& names) {
        test::SelectRows(*view, names);
    }
    void trigger(LocalPane& pane, const char* name) {
        auto* action = pane.clientMenu()->findChild<QAction*>(QString::fromLatin1(name));
        if (action == nullptr) {
            action = pane.findChild<QAction*>(QString::fromLatin1(name));
        }
        ASSERT_NE(action, nullptr) << name;
        ASSERT_TRUE(action->isEnabled()) << name;
        action->trigger();
    }
    void expectOnlyMessage(const char* text) {
        ASSERT_EQ(dialogs.shown().size(), 1u);
        EXPECT_EQ(dialogs.shown()[0].kind, Shown::Kind::Message);
        EXPECT_EQ(dialogs.shown()[0].text, QString::fromUtf8(text));
        EXPECT_EQ(dialogs.shown()[0].icon, MessageIcon::Exclamation);
        EXPECT_TRUE(dialogs.shown()[0].title.isEmpty()) << "the application title";
    }
    // Types text into the in-place editor of the name column and presses Enter.
    void finishEdit(QTreeView* view, const QString& text) {
        QLineEdit* editor = nullptr;
        ASSERT_TRUE(WaitFor([&] {
            editor = view->viewport()->findChild<QLineEdit*>();
            return editor != nullptr && editor->isVisible();
        }));
        // keyClicks takes ASCII only; the editor gets the text, Enter ends the edit.
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
    }

    quill::test::TempDir dir;
    fs::path program = dir / "program";
    fs::path work = dir / "work";
    quill::test::FakeDialogs dialogs;
    quill::test::FakeClipboard clipboard;
    quill::test::FakeShell shell;
    AppContext context{program, dialogs, clipboard, shell};
};

TEST_F(LocalPaneTest, StartsInTheProgramFolderWithItsControls) {
    WriteBytes(program / "site.ftp", "x");
    LocalPane pane(context);
    EXPECT_EQ(pane.LocalPath(), program.string() + "/");
    EXPECT_EQ(Column(list(pane), 0), QStringList{QStringLiteral("site.ftp")});
    EXPECT_EQ(Folders(dir1(pane)), (QStringList{QStringLiteral(".."), QStringLiteral("Logon")}));

    auto* drive1 = child<QComboBox>(pane, "Drive1");
    ASSERT_GT(drive1->count(), 0);
    EXPECT_EQ(drive1->itemData(0).toString(), QStringLiteral("/")) << "the root comes first";
    // Every list has a buddy label with an access key or an accessible name.
    for (QWidget* widget : std::initializer_list<QWidget*>{drive1, dir1(pane), list(pane)}) {
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
        bool hasBuddy = false;
        for (auto* label : pane.findChildren<QLabel*>()) {
            hasBuddy = hasBuddy || (label->buddy() == widget && label->text().contains(u'&'));
        }
        EXPECT_TRUE(hasBuddy) << widget->objectName().toStdString();
    }
}

TEST_F(LocalPaneTest, ListsEveryVisibleFileWithItsTexts) {
    WriteBytes(work / "Photo.JPG", std::string(1536, 'p'));
    WriteBytes(work / "empty.txt", "");
    WriteBytes(work / "page.HTML", std::string(1'234'567, 'h'));
    WriteBytes(work / "sound.wav", "w");
    WriteBytes(work / "with blank.css", "c");
    WriteBytes(work / "-leading", "l");
    WriteBytes(work / "\xC3\xA9t\xC3\xA9.zip", "z");
    WriteBytes(work / "new\nline.txt", "n");
    WriteBytes(work / ".hidden", "h");
    fs::create_directory(work / "sub");
    auto pane = open(work);
    QTreeView* view = list(*pane);

    EXPECT_EQ(view->model()->columnCount(), 4);
    for (const int column : {0, 1, 2}) {
        EXPECT_EQ(view->model()->headerData(column, Qt::Horizontal).toString(),
                  (QStringList{QStringLiteral("Name"), QStringLiteral("Size"),
                               QStringLiteral("Date")}[column]));
    }
    EXPECT_TRUE(view->isColumnHidden(3));
    EXPECT_FALSE(view->isColumnHidden(1));

    EXPECT_EQ(Column(view, 0),
              (QStringList{QStringLiteral("-leading"), QStringLiteral("empty.txt"),
                           Qs("new\nline.txt"), QStringLiteral("page.HTML"),
                           QStringLiteral("Photo.JPG"), QStringLiteral("sound.wav"),
                           QStringLiteral("with blank.css"), Qs("\xC3\xA9t\xC3\xA9.zip")}));
    const QString photo = QStringLiteral("Photo.JPG");
    EXPECT_EQ(Cell(view, photo, 1), QStringLiteral("1.54 Kb"));
    EXPECT_EQ(Cell(view, photo, 3), QStringLiteral("1536"));
    EXPECT_FALSE(Cell(view, photo, 2).isEmpty());
    EXPECT_EQ(
        Item(view, photo).siblingAtColumn(1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
        Qt::AlignRight);
    EXPECT_EQ(Cell(view, QStringLiteral("page.HTML"), 1), QStringLiteral("1 234.57 Kb"));
    EXPECT_EQ(Cell(view, QStringLiteral("empty.txt"), 1), QStringLiteral("0 Kb"));
    EXPECT_EQ(Cell(view, QStringLiteral("empty.txt"), 3), QStringLiteral("0"));

    // One icon per type number: same type, same icon; other type, other icon.
    const auto iconKey = [&](const char* name) {
        return Item(view, QString::fromUtf8(name))
            .data(Qt::DecorationRole)
            .value<QIcon>()
            .cacheKey();
    };
    EXPECT_EQ(iconKey("empty.txt"), iconKey("new\nline.txt"));
    EXPECT_EQ(iconKey("sound.wav"), iconKey("-leading")) << "wav is type 10";
    std::set<qint64> keys;
    for (const char* name : {"Photo.JPG", "page.HTML", "empty.txt", "with blank.css",
                             "\xC3\xA9t\xC3\xA9.zip", "-leading"}) {
        keys.insert(iconKey(name));
    }
    EXPECT_EQ(keys.size(), 6u);

    EXPECT_FALSE(view->selectionModel()->hasSelection());
    EXPECT_FALSE(view->currentIndex().isValid());
    EXPECT_EQ(Folders(dir1(*pane)), (QStringList{QStringLiteral(".."), QStringLiteral("sub")}));
}

TEST_F(LocalPaneTest, LabelAndLocalPathFollowTheFolder) {
    const fs::path deep = work / "a rather long folder name" / "articles";
    fs::create_directories(deep);
    auto pane = open(deep);
    const std::string local = deep.string() + "/";
    EXPECT_EQ(pane->LocalPath(), local);
    auto* label1 = child<QLabel>(*pane, "Label1");
    EXPECT_EQ(label1->text(), QStringLiteral("...") + Qs(local.substr(local.size() - 30)));

    pane->setFolder("/");
    EXPECT_EQ(pane->LocalPath(), "/");
    EXPECT_EQ(label1->text(), QStringLiteral("/"));
    EXPECT_FALSE(Folders(dir1(*pane)).contains(QStringLiteral(".."))) << "the root has no parent";

    // A folder that no longer exists gives its nearest existing parent.
    pane->setFolder(work / "gone" / "deeper");
    EXPECT_EQ(pane->LocalPath(), work.string() + "/");
}

TEST_F(LocalPaneTest, FolderListOpensFoldersByKeyboard) {
    fs::create_directories(work / "sub" / "inner");
    fs::create_directory(work / "other");
    WriteBytes(work / "sub" / "in-sub.txt", "s");
    auto pane = open(work);
    QSignalSpy changed(pane.get(), &LocalPane::localPathChanged);
    QListWidget* folders = dir1(*pane);
    ASSERT_EQ(Folders(folders),
              (QStringList{QStringLiteral(".."), QStringLiteral("other"), QStringLiteral("sub")}));

    folders->setFocus();
    folders->setCurrentRow(2);
    QTest::keyClick(folders, Qt::Key_Return);
    EXPECT_EQ(pane->LocalPath(), (work / "sub").string() + "/");
    EXPECT_EQ(Column(list(*pane), 0), QStringList{QStringLiteral("in-sub.txt")});
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toString(), Qs((work / "sub").string() + "/"));

    folders->setCurrentRow(0);
    QTest::keyClick(folders, Qt::Key_Return);
    EXPECT_EQ(pane->LocalPath(), work.string() + "/");
    ASSERT_NE(folders->currentItem(), nullptr);
    EXPECT_EQ(folders->currentItem()->text(), QStringLiteral("sub")) << "the folder just left";
    EXPECT_EQ(changed.size(), 2);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(LocalPaneTest, UnreadableFolderDoesNotBreakThePane) {
    fs::create_directory(work / "locked");
    WriteBytes(work / "locked" / "secret.txt", "s");
    fs::permissions(work / "locked", fs::perms::none);
    auto pane = open(work);
    QListWidget* folders = dir1(*pane);
    folders->setCurrentRow(1);
    ASSERT_EQ(folders->currentItem()->text(), QStringLiteral("locked"));
    QTest::keyClick(folders, Qt::Key_Return);
    if (::geteuid() != 0) {
        EXPECT_EQ(pane->LocalPath(), work.string() + "/") << "the pane stays where it was";
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_TRUE(dialogs.messages()[0].contains(QStringLiteral("can't be opened")));
        // Asked directly, the pane shows the folder with an empty list.
        pane->setFolder(work / "locked");
        EXPECT_EQ(pane->LocalPath(), (work / "locked").string() + "/");
        EXPECT_EQ(list(*pane)->model()->rowCount(), 0);
        EXPECT_EQ(Folders(folders), QStringList{QStringLiteral("..")});
    } else {
        EXPECT_EQ(pane->LocalPath(), (work / "locked").string() + "/");
    }
}

TEST_F(LocalPaneTest, ChoosingADriveOpensItsRoot) {
    auto pane = open(work);
    auto* drive1 = child<QComboBox>(*pane, "Drive1");
    Q_EMIT drive1->activated(0);
    EXPECT_EQ(pane->LocalPath(), "/");
    EXPECT_EQ(drive1->currentIndex(), 0);
}

TEST_F(LocalPaneTest, HeaderClicksAlternateTheOrderAcrossColumns) {
    WriteBytes(work / "b.txt", std::string(9000, 'b'));   // "9 Kb"
    WriteBytes(work / "A.txt", std::string(10000, 'a'));  // "10 Kb"
    WriteBytes(work / "c.txt", std::string(500, 'c'));    // "0.5 Kb"
    auto pane = open(work);
    QTreeView* view = list(*pane);
    QHeaderView* header = view->header();
    const auto clickHeader = [&](int column) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    const QStringList abc{QStringLiteral("A.txt"), QStringLiteral("b.txt"),
                          QStringLiteral("c.txt")};
    const QStringList cba{QStringLiteral("c.txt"), QStringLiteral("b.txt"),
                          QStringLiteral("A.txt")};
    ASSERT_EQ(Column(view, 0), abc);

    clickHeader(0);
    EXPECT_EQ(pane->sortOrder(), Qt::DescendingOrder) << "the first click flips from ascending";
    EXPECT_EQ(Column(view, 0), cba);
    clickHeader(0);
    EXPECT_EQ(Column(view, 0), abc);
    clickHeader(1);
    EXPECT_EQ(pane->sortKey(), 1);
    EXPECT_EQ(pane->sortOrder(), Qt::DescendingOrder) << "continues the alternation";
    // By size, not by the shown text ("9 Kb" > "10 Kb" as text).
    EXPECT_EQ(Column(view, 1), (QStringList{QStringLiteral("10 Kb"), QStringLiteral("9 Kb"),
                                            QStringLiteral("0.5 Kb")}));
    clickHeader(2);
    EXPECT_EQ(pane->sortOrder(), Qt::AscendingOrder);
    pane->ListView1_ColumnClick(3);
    EXPECT_EQ(pane->sortKey(), 3);
    EXPECT_EQ(Column(view, 3), (QStringList{QStringLiteral("10000"), QStringLiteral("9000"),
                                            QStringLiteral("500")}));

    // The order holds for the next listing.
    WriteBytes(work / "d.txt", std::string(99999, 'd'));
    pane->RefreshLocalList();
    EXPECT_EQ(Column(view, 3), (QStringList{QStringLiteral("99999"), QStringLiteral("10000"),
                                            QStringLiteral("9000"), QStringLiteral("500")}));
}

TEST_F(LocalPaneTest, ClientMenuAndRightClick) {
    auto pane = open(work);
    QMenu* menu = pane->clientMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), QStringLiteral("zLocal"));
    EXPECT_EQ(menu->title(), QStringLiteral("Client"));
    QStringList names;
    QStringList texts;
    for (QAction* action : menu->actions()) {
        names << action->objectName();
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("zLokRef"), QStringLiteral("zSep6"),
                                  QStringLiteral("zLokUp"), QStringLiteral("zLokNF"),
                                  QStringLiteral("zLokDF"), QStringLiteral("zLokDS"),
                                  QStringLiteral("zLokRS")}));
    EXPECT_EQ(texts, (QStringList{QStringLiteral("&Refresh"), QStringLiteral("-"),
                                  QStringLiteral("&Upload"), QStringLiteral("&New Folder"),
                                  QStringLiteral("&Remove Folder"), QStringLiteral("&Delete File"),
                                  QStringLiteral("Rename &File")}));
    EXPECT_TRUE(pane->findChild<QAction*>(QStringLiteral("zLokUp"))->isEnabled());

    QWidget* viewport = list(*pane)->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                            viewport->mapToGlobal(QPoint(20, 20)));
    QCoreApplication::sendEvent(viewport, &event);
    EXPECT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    EXPECT_TRUE(menu->actions().contains(pane->findChild<QAction*>(QStringLiteral("zLokUp"))));
    menu->hide();

    WriteBytes(work / "later.txt", "l");
    trigger(*pane, "zLokRef");
    EXPECT_EQ(Column(list(*pane), 0), QStringList{QStringLiteral("later.txt")});
}

TEST_F(LocalPaneTest, NewFolder) {
    auto pane = open(work);
    dialogs.answerInput(Qs("new \xC3\xA9 folder"));
    trigger(*pane, "zLokNF");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].kind, Shown::Kind::Input);
    EXPECT_EQ(dialogs.shown()[0].text, QStringLiteral("Type a name of the new folder here"));
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("New Folder creation"));
    EXPECT_TRUE(dialogs.shown()[0].defaultText.isEmpty());
    EXPECT_TRUE(fs::is_directory(work / "new \xC3\xA9 folder"));
    EXPECT_TRUE(Folders(dir1(*pane)).contains(Qs("new \xC3\xA9 folder")));

    dialogs.clear();
    dialogs.answerInput(QString());
    dialogs.answerInput(std::nullopt);
    trigger(*pane, "zLokNF");
    trigger(*pane, "zLokNF");
    EXPECT_EQ(dialogs.messages().size(), 0) << "an empty or cancelled name shows nothing";
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 1);

    dialogs.clear();
    dialogs.answerInput(Qs("new \xC3\xA9 folder"));
    trigger(*pane, "zLokNF");
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_EQ(dialogs.lastMessage()->text,
              QStringLiteral("an error apeared while creating new folder\r\nMake sure folder "
                             "doesn't exist!"));
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);

    dialogs.clear();
    dialogs.answerInput(QStringLiteral("../escape"));
    trigger(*pane, "zLokNF");
    EXPECT_EQ(dialogs.lastMessage()->text, Qs(localtext::kBadName));
    EXPECT_FALSE(fs::exists(dir / "escape"));
}

TEST_F(LocalPaneTest, RemoveFolderShowsTheParentAfterwards) {
    fs::create_directories(work / "data" / "old");
    auto pane = open(work / "data" / "old");
    dialogs.answerYes(true);
    QListWidget* folders = dir1(*pane);
    folders->setFocus();
    QTest::keyClick(folders, Qt::Key_Delete);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].kind, Shown::Kind::YesNo);
    EXPECT_EQ(dialogs.shown()[0].text,
              QStringLiteral("Are you sure to remove this folder: \"old\"? Make sure it contains "
                             "no files!\r\nIf you are, don't look for it in recycle!"));
    EXPECT_FALSE(fs::exists(work / "data" / "old"));
    EXPECT_EQ(pane->folderPath(), work / "data");
    EXPECT_EQ(pane->LocalPath(), (work / "data").string() + "/");
    EXPECT_EQ(Folders(folders), QStringList{QStringLiteral("..")});

    // No keeps the folder.
    fs::create_directory(work / "data" / "kept");
    pane->setFolder(work / "data" / "kept");
    dialogs.clear();
    dialogs.answerYes(false);
    trigger(*pane, "zLokDF");
    EXPECT_TRUE(fs::is_directory(work / "data" / "kept"));
    EXPECT_EQ(pane->folderPath(), work / "data" / "kept");
}

TEST_F(LocalPaneTest, RemoveFolderThatHoldsFilesRemovesNothing) {
    fs::create_directories(work / "full");
    WriteBytes(work / "full" / "keep.txt", "keep");
    auto pane = open(work / "full");
    dialogs.answerYes(true);
    trigger(*pane, "zLokDF");
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_EQ(dialogs.lastMessage()->text, Qs(localtext::kFolderNotEmpty));
    EXPECT_EQ(dialogs.lastMessage()->icon, MessageIcon::Exclamation);
    EXPECT_EQ(ReadBytes(work / "full" / "keep.txt"), "keep");
    EXPECT_EQ(pane->folderPath(), work / "full");
}

TEST_F(LocalPaneTest, ProtectedFoldersAreRefusedWithoutAQuestion) {
    auto pane = open(program);
    trigger(*pane, "zLokDF");
    expectOnlyMessage("This is the program folder that can't be removed!");

    dialogs.clear();
    pane->setFolder(program / "Logon");
    trigger(*pane, "zLokDF");
    expectOnlyMessage("This is the program folder that can't be removed!");
    EXPECT_TRUE(fs::is_directory(program / "Logon"));

    dialogs.clear();
    pane->setFolder("/");
    trigger(*pane, "zLokDF");
    expectOnlyMessage("This is the root folder that can't be removed!");
}

TEST_F(LocalPaneTest, DeleteRemovesEverySelectedFileAfterOneQuestion) {
    for (const char* name : {"a.txt", "b c.htm", "-d", "keep.txt", "not utf8 \xFF.txt"}) {
        WriteBytes(work / name, name);
    }
    auto pane = open(work);
    QTreeView* view = list(*pane);

    trigger(*pane, "zLokDS");
    expectOnlyMessage("Nothing to Delete");

    dialogs.clear();
    // A name that is not UTF-8 is shown as Latin-1, as the remote list shows
    // it, and still deleted by its own bytes.
    Select(view, {QStringLiteral("a.txt"), QStringLiteral("-d"),
                  QString::fromLatin1("not utf8 \xFF.txt"), QStringLiteral("b c.htm")});
    dialogs.answerYes(true);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);
    ASSERT_EQ(dialogs.shown().size(), 1u) << "one question for all files";
    EXPECT_EQ(dialogs.shown()[0].kind, Shown::Kind::YesNo);
    EXPECT_EQ(dialogs.shown()[0].text,
              QStringLiteral("Are you sure to delete these files?\r\nif you are, don't look for "
                             "them in recycle!"));
    for (const char* name : {"a.txt", "b c.htm", "-d", "not utf8 \xFF.txt"}) {
        EXPECT_FALSE(fs::exists(work / name)) << name;
    }
    EXPECT_EQ(ReadBytes(work / "keep.txt"), "keep.txt");
    EXPECT_EQ(Column(view, 0), QStringList{QStringLiteral("keep.txt")});
    EXPECT_FALSE(view->currentIndex().isValid());

    dialogs.clear();
    Select(view, {QStringLiteral("keep.txt")});
    dialogs.answerYes(false);
    trigger(*pane, "zLokDS");
    EXPECT_EQ(ReadBytes(work / "keep.txt"), "keep.txt");
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(LocalPaneTest, DeleteOfAFileThatCannotGoIsReported) {
    WriteBytes(work / "a.txt", "a");
    auto pane = open(work);
    QTreeView* view = list(*pane);
    Select(view, {QStringLiteral("a.txt")});
    // Replaced by a folder behind the pane's back: a folder is never deleted here.
    fs::remove(work / "a.txt");
    fs::create_directory(work / "a.txt");
    dialogs.answerYes(true);
    trigger(*pane, "zLokDS");
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.lastMessage()->text.startsWith(QStringLiteral("These files could not")));
    EXPECT_TRUE(fs::is_directory(work / "a.txt"));
}

TEST_F(LocalPaneTest, RenameInPlace) {
    WriteBytes(work / "a.txt", "A");
    WriteBytes(work / "b.txt", "B");
    auto pane = open(work);
    QTreeView* view = list(*pane);

    trigger(*pane, "zLokRS");
    expectOnlyMessage("nothing to rename!");

    dialogs.clear();
    Select(view, {QStringLiteral("a.txt")});
    trigger(*pane, "zLokRS");
    finishEdit(view, Qs("renamed \xC3\xA9.txt"));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(work / "renamed \xC3\xA9.txt"); }));
    EXPECT_EQ(ReadBytes(work / "renamed \xC3\xA9.txt"), "A");
    EXPECT_TRUE(WaitFor([&] {
        return Column(view, 0) ==
               (QStringList{QStringLiteral("b.txt"), Qs("renamed \xC3\xA9.txt")});
    }));
    EXPECT_TRUE(dialogs.shown().empty()) << "same extension, no question";
}

TEST_F(LocalPaneTest, RenameToAnExistingNameKeepsTheOldName) {
    WriteBytes(work / "a.txt", "A");
    WriteBytes(work / "b.txt", "B");
    auto pane = open(work);
    QTreeView* view = list(*pane);
    Select(view, {QStringLiteral("a.txt")});
    trigger(*pane, "zLokRS");
    finishEdit(view, QStringLiteral("b.txt"));
    ASSERT_TRUE(WaitFor([&] { return !dialogs.messages().isEmpty(); }));
    expectOnlyMessage("More than one file with the same name in one folder? no way!");
    EXPECT_EQ(ReadBytes(work / "a.txt"), "A");
    EXPECT_EQ(ReadBytes(work / "b.txt"), "B");
    EXPECT_EQ(Column(view, 0), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
}

TEST_F(LocalPaneTest, RenameAsksBeforeChangingTheExtension) {
    WriteBytes(work / "page.htm", "P");
    auto pane = open(work);
    QTreeView* view = list(*pane);
    const QString question =
        QStringLiteral("Are you sure to exchange the file extension from: \"htm\" to: \"txt\"");

    dialogs.answerYes(false);
    Select(view, {QStringLiteral("page.htm")});
    trigger(*pane, "zLokRS");
    finishEdit(view, QStringLiteral("page.txt"));
    ASSERT_TRUE(WaitFor([&] { return !dialogs.shown().empty(); }));
    EXPECT_EQ(dialogs.shown()[0].text, question);
    QTest::qWait(20);
    EXPECT_EQ(ReadBytes(work / "page.htm"), "P");
    EXPECT_EQ(Column(view, 0), QStringList{QStringLiteral("page.htm")});

    dialogs.clear();
    dialogs.answerYes(true);
    pane->ListView1_AfterLabelEdit("page.htm", QStringLiteral("page.txt"));
    EXPECT_EQ(dialogs.shown()[0].text, question);
    EXPECT_EQ(ReadBytes(work / "page.txt"), "P");
    EXPECT_EQ(Column(view, 0), QStringList{QStringLiteral("page.txt")});
}

TEST_F(LocalPaneTest, RenameToNothingOrABadNameChangesNothing) {
    WriteBytes(work / "a.txt", "A");
    auto pane = open(work);
    QTreeView* view = list(*pane);
    Select(view, {QStringLiteral("a.txt")});
    trigger(*pane, "zLokRS");
    QLineEdit* editor = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (editor = view->viewport()->findChild<QLineEdit*>()); }));
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    QTest::qWait(20);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(ReadBytes(work / "a.txt"), "A");
    EXPECT_EQ(Column(view, 0), QStringList{QStringLiteral("a.txt")});

    pane->ListView1_AfterLabelEdit("a.txt", QStringLiteral("../a.txt"));
    expectOnlyMessage(localtext::kBadName.data());
    EXPECT_EQ(ReadBytes(work / "a.txt"), "A");
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
}

TEST_F(LocalPaneTest, EnterAndDoubleClickOpenTheCurrentFile) {
    WriteBytes(work / "page one.htm", "P");
    auto pane = open(work);
    QTreeView* view = list(*pane);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    expectOnlyMessage("Nothing to open!");
    EXPECT_TRUE(shell.opened.isEmpty());

    Select(view, {QStringLiteral("page one.htm")});
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0], Qs((work / "page one.htm").string()));

    const QRect rect = view->visualRect(Item(view, QStringLiteral("page one.htm")));
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(shell.opened.size(), 2);
    EXPECT_EQ(shell.opened[1], shell.opened[0]);
}

TEST_F(LocalPaneTest, DragCarriesTheFileAddresses) {
    WriteBytes(work / "a b.txt", "a");
    WriteBytes(work / "c.txt", "c");
    WriteBytes(work / "\xE9t\xE9.txt", "latin-1 name");
    auto pane = open(work);
    QTreeView* view = list(*pane);
    EXPECT_EQ(view->dragDropMode(), QAbstractItemView::DragOnly);
    EXPECT_FALSE(view->acceptDrops());
    view->selectAll();
    std::unique_ptr<QMimeData> data(
        view->model()->mimeData(view->selectionModel()->selectedIndexes()));
    QStringList urls;
    for (const QUrl& url : data->urls()) {
        urls << QString::fromLatin1(url.toEncoded());
    }
    // Once each, top to bottom, the bytes of a name that is not UTF-8 kept.
    const QString folder = QString::fromLatin1(QUrl::fromLocalFile(Qs(work.string())).toEncoded());
    EXPECT_EQ(urls,
              (QStringList{folder + QStringLiteral("/a%20b.txt"), folder + QStringLiteral("/c.txt"),
                           folder + QStringLiteral("/%E9t%E9.txt")}));
}

TEST_F(LocalPaneTest, TwentyThousandFilesListCompletely) {
    const fs::path big = work / "big";
    fs::create_directory(big);
    for (int i = 0; i < 20000; ++i) {
        const std::string name = big / ("file " + std::to_string(i) + ".htm");
        const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    auto pane = open(work);
    QElapsedTimer timer;
    timer.start();
    pane->setFolder(big);
    // Measured off the window thread: the list waits empty meanwhile.
    EXPECT_TRUE(pane->measuring());
    QTreeView* view = list(*pane);
    EXPECT_EQ(view->model()->rowCount(), 0);
    ASSERT_TRUE(WaitFor([&] { return !pane->measuring(); }));
    RecordProperty("list_20000_ms_sanitized", static_cast<int>(timer.elapsed()));
    ASSERT_EQ(view->model()->rowCount(), 20000);
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), QStringLiteral("file 0.htm"));
    EXPECT_EQ(view->model()->index(19999, 1).data().toString(), QStringLiteral("0 Kb"));
    EXPECT_FALSE(view->model()->index(19999, 2).data().toString().isEmpty());
}

}  // namespace
