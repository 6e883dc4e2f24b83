#include "harvester/BulkSave.h"

#include "common/ProgramFolder.h"
#include "net/WebDownload.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/QaPages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace quill;
using quill::test::QuestionArticle;
using quill::test::QuestionPage;
using quill::test::ReadBytes;
using quill::test::WriteBytes;

namespace {

class BulkSaveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(EnsureProgramSubfolders(dir.path())); }
    test::HttpServer server;
    test::TempDir dir;
};

TEST_F(BulkSaveTest, WritesNumberedAndCombinedFilesByteForByte) {
    server.serve("/q/0", QuestionPage("Q zero", "A zero"));
    server.serve("/q/1", QuestionPage("Q one", "A one", "A one later"));
    auto first = SaveQuestion(dir.path(), 0, server.url("/q/0"), "cats");
    auto second = SaveQuestion(dir.path(), 1, server.url("/q/1"), "cats");
    EXPECT_TRUE(first.downloaded && first.numberedWritten && first.combinedWritten) << first.error;
    EXPECT_TRUE(second.numberedWritten && second.combinedWritten) << second.error;

    const auto a0 = QuestionArticle("Q zero", "A zero");
    const auto a1 = QuestionArticle("Q one", "A one");
    EXPECT_EQ(ReadBytes(dir / "articles/0.html"), a0 + "\r\n");
    EXPECT_EQ(ReadBytes(dir / "articles/1.html"), a1 + "\r\n");
    EXPECT_EQ(ReadBytes(dir / "articles/cats.html"), a0 + "\r\n\r\n" + a1 + "\r\n\r\n");
    EXPECT_EQ(ReadBytes(dir / "folders/0"), QuestionPage("Q zero", "A zero"))
        << "the raw page is kept without extension";
}

// A question whose page cannot be fetched is skipped: no article is made
// from the page an earlier run left under its number.
TEST_F(BulkSaveTest, FailedDownloadWritesNothing) {
    server.serveGzip("/bomb", std::string(kMaxPageBytes + 1, 'x'));
    server.serveEndless("/endless");
    const std::pair<std::string, std::string> cases[] = {
        {server.url("/missing"), "the server answered with HTTP status 404"},
        {"http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/q",
         "could not connect to the server"},
        {server.url("/bomb"), "page too large (over 32 MiB)"},
        {server.url("/endless"), "page too large (over 32 MiB)"},
    };
    WriteBytes(dir / "folders/0", QuestionPage("Old", "Old answer"));
    for (const auto& [address, reason] : cases) {
        const auto saved = SaveQuestion(dir.path(), 0, address, "t");
        EXPECT_FALSE(saved.downloaded) << address;
        EXPECT_EQ(saved.downloadError, reason) << address;
        EXPECT_FALSE(saved.numberedWritten || saved.combinedWritten) << address;
        EXPECT_EQ(saved.article, "") << address;
    }
    EXPECT_EQ(ReadBytes(dir / "folders/0"), QuestionPage("Old", "Old answer"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "articles"), {}), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "folders"), {}), 1);
}

TEST_F(BulkSaveTest, UnsafeTermWritesOnlyTheNumberedFile) {
    server.serve("/q", QuestionPage("S", "A"));
    using namespace std::string_literals;
    for (const std::string& term : {"../escape"s, "a/b"s, "nul\0x"s, "/abs"s}) {
        const auto saved = SaveQuestion(dir.path(), 0, server.url("/q"), term);
        EXPECT_TRUE(saved.numberedWritten);
        EXPECT_FALSE(saved.combinedWritten);
        EXPECT_FALSE(saved.error.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "escape.html"));
    EXPECT_FALSE(std::filesystem::exists(dir / "articles/a"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "articles"), {}), 1)
        << "only 0.html";
}

TEST_F(BulkSaveTest, OddButSafeTermsStayInsideArticles) {
    server.serve("/q", QuestionPage("S", "A"));
    using namespace std::string_literals;
    for (const std::string& term : {".."s, ""s, "caf\xC3\xA9 & \"quotes\" #1"s, "-rf"s}) {
        const auto saved = SaveQuestion(dir.path(), 0, server.url("/q"), term);
        EXPECT_TRUE(saved.combinedWritten) << term << ": " << saved.error;
        EXPECT_TRUE(std::filesystem::exists(dir / "articles" / (term + ".html"))) << term;
    }
}

TEST_F(BulkSaveTest, TooLongTermReportsTheFailedCombinedFile) {
    server.serve("/q", QuestionPage("S", "A"));
    const auto saved = SaveQuestion(dir.path(), 0, server.url("/q"), std::string(300, 'x'));
    EXPECT_TRUE(saved.numberedWritten);
    EXPECT_FALSE(saved.combinedWritten);
    EXPECT_FALSE(saved.error.empty());
}

TEST_F(BulkSaveTest, MissingArticlesFolderIsReported) {
    std::filesystem::remove_all(dir / "articles");
    server.serve("/q", QuestionPage("S", "A"));
    const auto saved = SaveQuestion(dir.path(), 0, server.url("/q"), "t");
    EXPECT_FALSE(saved.numberedWritten);
    EXPECT_FALSE(saved.error.empty());
}

}  // namespace
