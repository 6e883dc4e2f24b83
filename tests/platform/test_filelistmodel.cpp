#include "platform/FileDrops.h"
#include "platform/FileListModel.h"

#include "support/GuiTest.h"

#include <QMimeData>

#include <gtest/gtest.h>

#include <algorithm>

using namespace quill;

namespace {

constexpr std::int64_t kUnknown = FileListRow::kUnknown;

// Sizes as "<n> B" and times as "t<n>", so the texts never decide the order.
std::unique_ptr<FileListModel> Model(std::vector<FileListRow> rows) {
    auto model = std::make_unique<FileListModel>(
        FileListModel::Texts{[](std::int64_t n) { return QStringLiteral("%1 B").arg(n); },
                             [](std::int64_t t) { return QStringLiteral("t%1").arg(t); }},
        std::array<QIcon, 11>{});
    model->setRows(std::move(rows));
    return model;
}

using Names = std::vector<std::string>;

Names NamesOf(const FileListModel& model) {
    Names names;
    std::ranges::transform(model.rows(), std::back_inserter(names), &FileListRow::name);
    return names;
}

TEST(FileListModel, SortsByStoredValuesUnknownFirstTiesByName) {
    const std::vector<FileListRow> rows = {{"b.txt", 9000, 300, 3},
                                           {"A.txt", 10000, 100, 3},
                                           {"c.txt", kUnknown, kUnknown, 3},
                                           {"a.txt", 9000, 200, 3}};
    struct Case {
        int column;
        Qt::SortOrder order;
        Names names;
    };
    const Case cases[] = {
        {kNameColumn, Qt::AscendingOrder, {"A.txt", "a.txt", "b.txt", "c.txt"}},
        {kNameColumn, Qt::DescendingOrder, {"c.txt", "b.txt", "a.txt", "A.txt"}},
        // 9000 before 10000, though "9000 B" > "10000 B" as text.
        {kSizeColumn, Qt::AscendingOrder, {"c.txt", "a.txt", "b.txt", "A.txt"}},
        {kSizeColumn, Qt::DescendingOrder, {"A.txt", "b.txt", "a.txt", "c.txt"}},
        {kDateColumn, Qt::AscendingOrder, {"c.txt", "A.txt", "a.txt", "b.txt"}},
        {kBytesColumn, Qt::DescendingOrder, {"A.txt", "b.txt", "a.txt", "c.txt"}},
    };
    for (const Case& c : cases) {
        auto model = Model(rows);
        model->sort(c.column, c.order);
        EXPECT_EQ(NamesOf(*model), c.names) << c.column << " " << c.order;
    }
    // Names alike in their first 16 bytes are told apart by the rest.
    auto alike = Model({{"Same sixteen byte 2", 1, 1, 10}, {"same sixteen byte 10", 1, 1, 10}});
    alike->sort(kSizeColumn, Qt::AscendingOrder);
    EXPECT_EQ(NamesOf(*alike), (Names{"same sixteen byte 10", "Same sixteen byte 2"}));
}

// The selection and the current row follow their files through a sort.
TEST(FileListModel, SelectionFollowsTheRowsThroughASort) {
    auto model = Model({{"one", 1, 1, 10}, {"two", 2, 2, 10}, {"three", 3, 3, 10}});
    FileListView view;
    SetUpFileListView(&view, model.get());
    test::SelectRows(view, {QStringLiteral("one"), QStringLiteral("two")});
    model->sort(kSizeColumn, Qt::DescendingOrder);
    EXPECT_EQ(NamesOf(*model), (Names{"three", "two", "one"}));
    EXPECT_EQ(SelectedFileRows(view), (std::vector<int>{1, 2}));
    EXPECT_EQ(view.currentIndex().row(), 1) << "\"two\" stays current";
}

}  // namespace

// Only this machine's absolute file addresses come out of a uri-list, as
// the bytes they name; the server's rows only come back whole.
TEST(FileDrops, UriListsAndRemoteRowsDecodeOnlyWhenSound) {
    QMimeData uris;
    uris.setData(QStringLiteral("text/uri-list"),
                 "# comment\r\nfile:///a/b%20c.htm\r\nFILE://localhost/d/%FF%41/\r\nfile:/e\r\n"
                 "file://elsewhere/f\r\nfile:///a/../g\r\nfile:///h%00i\r\nfile:x\r\n"
                 "http://127.0.0.1/j\r\nfile:///k?q#l");
    EXPECT_EQ(LocalFilesOf(uris), (Names{"/a/b c.htm",
                                         "/d/\xff"
                                         "A",
                                         "/e", "/k"}));

    auto model = Model({{"a b", 7, kUnknown, 0}, {"c", kUnknown, kUnknown, 0}});
    model->setDragFolder("/x/", FileListModel::DragAs::RemoteFiles);
    std::unique_ptr<QMimeData> rows(model->mimeData({model->index(1, 0), model->index(0, 1)}));
    const auto decoded = RemoteFilesOf(*rows);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->folder, "/x/");
    EXPECT_EQ(decoded->files,
              (std::vector<std::pair<std::string, std::int64_t>>{{"a b", 7}, {"c", kUnknown}}));
    const QString type = QString::fromLatin1(kRemoteFilesMimeType);
    const QByteArray whole = rows->data(type);
    for (const RemoteFiles& bad : {RemoteFiles{"x/", {}}, RemoteFiles{"/x/", {{"../y", 1}}},
                                   RemoteFiles{"/x/", {{"", 1}}}}) {
        SetRemoteFiles(*rows, bad);
        EXPECT_FALSE(RemoteFilesOf(*rows)) << bad.folder;
    }
    rows->setData(type, whole.left(whole.size() - 1));
    EXPECT_FALSE(RemoteFilesOf(*rows));
}
