#include "harvester/StackExchangeSource.h"

#include "common/PageFile.h"
#include "common/QaArticle.h"
#include "net/WebDownload.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/StackExchangeReplies.h"
#include "support/TestFiles.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace quill;
using quill::test::ReadBytes;
using quill::test::SeAnswersReply;
using quill::test::SeArticle;
using quill::test::SeQuestion;
using quill::test::SeSearchReply;
using quill::test::WriteBytes;
using namespace std::chrono_literals;

namespace {

const std::string kSearch = "/2.3/search/advanced";
const SeQuestion kQ1{101, "How do I loop over &quot;files&quot; in bash?",
                     "<p>Files &amp; dirs.</p>", "<p>Use <code>for f in *</code>.</p>"};
const SeQuestion kQ2{102, "Why &lt;br&gt; tags?", "<p>Q2</p>", "<p>A2</p>"};
const SeQuestion kQ3{103, "Caf&#233; &#x2014; r&eacute;sum&eacute;", "<p>Q3</p>", "<p>A3</p>"};
const SeQuestion kUnanswered{104, "No accepted answer", "<p>Q4</p>", "", 0};

class StackExchangeTest : public ::testing::Test {
protected:
    std::string target(const std::string& path) const { return server.url(path); }
    std::string article() const { return CutQaArticle(ReadPageFile(page)); }
    std::string questionAddress(int id, const std::string& site = "stackoverflow") const {
        return server.url("/2.3/questions/" + std::to_string(id) + "?site=" + site +
                          "&filter=withbody");
    }

    test::HttpServer server;
    test::TempDir dir;
    std::filesystem::path page = dir / "tempo.htm";
    std::chrono::steady_clock::time_point now{};
    StackExchangeSource source{server.url(""), [this] { return now; }};
};

TEST_F(StackExchangeTest, DecodesHtmlEntitiesForTheList) {
    const std::pair<std::string, std::string> cases[] = {
        {"a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&#39;", "a & b <c> \"d\" 'e'"},
        {"Caf&#233; &#x2014; &#X41;", "Caf\xC3\xA9 \xE2\x80\x94 A"},
        {"&eacute; &unknown; & ;&; &#; &#x; &#12a;", "&eacute; &unknown; & ;&; &#; &#x; &#12a;"},
        {"&#0; &#xD800; &#1114112; &#99999999999999;",
         "\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD"},
        {"&amp;amp; &#x1F600;&nbsp;", "&amp; \xF0\x9F\x98\x80\xC2\xA0"},
        {"no references at all", "no references at all"},
    };
    for (const auto& [html, text] : cases) {
        EXPECT_EQ(DecodeHtmlEntities(html), text) << html;
    }
}

TEST_F(StackExchangeTest, SearchAsksForAcceptedAnswersAndListsDecodedTitles) {
    server.serveGzip(kSearch, SeSearchReply({kQ1, kUnanswered, kQ2, kQ3}));
    source.setSite("super user");
    const auto found = source.search("c# \"for\" loop", kDepths[1]);
    ASSERT_TRUE(found) << found.error;
    ASSERT_EQ(server.requests(),
              std::vector<std::string>{
                  "/2.3/search/advanced?order=desc&sort=relevance&q=c%23%20%22for%22%20loop"
                  "&accepted=True&answers=1&pagesize=10&site=super%20user&filter=withbody"});
    ASSERT_EQ(found.entries.size(), 3u) << "the question without an accepted answer is left out";
    EXPECT_EQ(found.entries[0].title, "How do I loop over \"files\" in bash?");
    EXPECT_EQ(found.entries[1].title, "Why <br> tags?");
    EXPECT_EQ(found.entries[2].title, "Caf\xC3\xA9 \xE2\x80\x94 r&eacute;sum&eacute;");
    EXPECT_EQ(found.entries[1].address, questionAddress(102, "super%20user"));
    EXPECT_EQ(source.status(), "") << "287 requests left is plenty";

    // Never more than the depth asks for, whatever the reply holds.
    server.serveGzip(kSearch, SeSearchReply({kQ1, kQ2, kQ3}));
    EXPECT_EQ(source.search("x", {2, 2}).entries.size(), 2u);
}

// The first fetch asks for the accepted answers of every listed question at
// once; the page it writes cuts into the article with its attribution.
TEST_F(StackExchangeTest, FetchWritesThePageAndOneRequestServesEveryListedAnswer) {
    server.serveGzip(kSearch, SeSearchReply({kQ1, kQ2, kQ3}));
    server.serveGzip("/2.3/answers/202;201;203", SeAnswersReply({kQ1, kQ2, kQ3}));
    ASSERT_TRUE(source.search("loop", kDepths[0]));
    const auto fetched = source.fetch(questionAddress(102), page);
    ASSERT_TRUE(fetched) << fetched.error;
    EXPECT_EQ(server.requests().back(),
              "/2.3/answers/202;201;203?pagesize=100&site=stackoverflow&filter=withbody");
    EXPECT_EQ(article(), SeArticle(kQ2));

    ASSERT_TRUE(source.fetch(questionAddress(101), page));
    server.serveGzip(kSearch, SeSearchReply({kQ1}));
    ASSERT_TRUE(source.search("loop", kDepths[0]));
    ASSERT_TRUE(source.fetch(questionAddress(101), page));
    EXPECT_EQ(server.requests().size(), 3u) << "answers already fetched are not asked again";
    EXPECT_EQ(
        article(),
        "<h1 class=\"subject\">How do I loop over &quot;files&quot; in bash?</h1>\r\n"
        "<div class=\"content\"><p>Files &amp; dirs.</p></div>\r\n"
        "\r\n<h1>Answer</h1>\r\n"
        "<div class=\"content\"><p>Use <code>for f in *</code>.</p></div>\r\n"
        "<p class=\"attribution\">From Stack Exchange: "
        "<a href=\"https://stackoverflow.com/questions/101/q\">How do I loop over "
        "&quot;files&quot; in bash?</a>, asked by "
        "<a href=\"https://stackoverflow.com/users/101/u\">Asker 101</a>, accepted answer by "
        "<a href=\"https://stackoverflow.com/users/201/u\">Answerer 201</a>; licensed under "
        "<a href=\"https://creativecommons.org/licenses/by-sa/4.0/\">CC BY-SA 4.0</a>.</p>\r\n");
}

TEST_F(StackExchangeTest, AnAddressFromElsewhereAsksForItsQuestionFirst) {
    server.serveGzip("/2.3/questions/103", SeSearchReply({kQ3}));
    server.serveGzip("/2.3/answers/203", SeAnswersReply({kQ3}));
    ASSERT_TRUE(source.fetch(questionAddress(103, "askubuntu"), page));
    EXPECT_EQ(
        server.requests(),
        (std::vector<std::string>{"/2.3/questions/103?site=askubuntu&filter=withbody",
                                  "/2.3/answers/203?pagesize=100&site=askubuntu&filter=withbody"}));
    EXPECT_EQ(article(), SeArticle(kQ3));
}

// Every failure is a short reason for the message box; a failed fetch leaves
// the page file as it was.
TEST_F(StackExchangeTest, ErrorObjectsAndBrokenRepliesGiveClearReasons) {
    const std::string throttled =
        "too many requests from this IP, more requests available in 82677 seconds";
    struct Case {
        int status;
        std::string body;
        std::string reason;
    } cases[] = {
        {400, test::SeError(400, "bad_parameter", "No site found for name `nosuchsite`"),
         "Stack Exchange refused the request: No site found for name `nosuchsite` (error 400, "
         "bad_parameter)"},
        {502, test::SeError(502, "throttle_violation", throttled),
         "Stack Exchange refused the request: " + throttled + " (error 502, throttle_violation)"},
        {200, R"({"error_id":403})",
         "Stack Exchange refused the request: no reason given (error 403)"},
        {404, "<html>not here</html>", "the server answered with HTTP status 404"},
        {200, "<html>a captive portal</html>",
         "Stack Exchange sent an answer that could not be read"},
        {200, R"({"items":5})", "Stack Exchange sent an answer that could not be read"},
        {200, "", "Stack Exchange sent an answer that could not be read"},
    };
    server.serveGzip(kSearch, SeSearchReply({kQ1}));
    ASSERT_TRUE(source.search("t", kDepths[0]));
    WriteBytes(page, "EARLIER QUESTION");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        server.serveGzip(kSearch, c.body, c.status);
        const auto found = source.search("t", kDepths[0]);
        EXPECT_EQ(found.error, c.reason);
        EXPECT_TRUE(found.entries.empty());
        server.serveGzip("/2.3/questions/101", c.body, c.status);
        EXPECT_EQ(source.fetch(questionAddress(101), page).error, c.reason);
    }
    server.serveGzip(kSearch, std::string(kMaxPageBytes + 1, ' '));
    EXPECT_EQ(source.search("t", kDepths[0]).error, "page too large (over 32 MiB)");
    StackExchangeSource closed("http://127.0.0.1:" + std::to_string(test::ClosedPort()));
    EXPECT_EQ(closed.search("t", kDepths[0]).error, "could not connect to the server");

    // The question is listed but its accepted answer has gone since.
    server.serveGzip(kSearch, SeSearchReply({kQ1}));
    server.serveGzip("/2.3/answers/201", SeAnswersReply({}));
    ASSERT_TRUE(source.search("t", kDepths[0]));
    EXPECT_EQ(source.fetch(questionAddress(101), page).error,
              "its accepted answer is no longer on the site");
    server.serveGzip("/2.3/questions/104", SeSearchReply({kUnanswered}));
    EXPECT_EQ(source.fetch(questionAddress(104), page).error,
              "the question has no accepted answer");
    server.serveGzip("/2.3/questions/105", SeSearchReply({}));
    EXPECT_EQ(source.fetch(questionAddress(105), page).error,
              "the question is no longer on the site");
    EXPECT_EQ(ReadBytes(page), "EARLIER QUESTION");
}

TEST_F(StackExchangeTest, BackoffHoldsBackThatMethodUntilItHasPassed) {
    server.serveGzip(kSearch, SeSearchReply({kQ1}, 287, R"(,"backoff":10)"));
    server.serveGzip("/2.3/answers/201", SeAnswersReply({kQ1}));
    ASSERT_TRUE(source.search("t", kDepths[0]));
    EXPECT_TRUE(source.fetch(questionAddress(101), page)) << "other methods are not held back";
    now += 9500ms;
    EXPECT_EQ(source.search("t", kDepths[0]).error,
              "Stack Exchange asked for a pause; try again in 1 second");
    EXPECT_EQ(server.requests().size(), 2u) << "no request before the backoff has passed";
    now += 500ms;
    server.serveGzip(kSearch, SeSearchReply({kQ2}));
    const auto found = source.search("t", kDepths[0]);
    ASSERT_EQ(found.entries.size(), 1u) << found.error;
    EXPECT_EQ(server.requests().size(), 3u);

    // A backoff that comes with an error object holds back as well.
    server.serveGzip(kSearch, R"({"error_id":502,"error_name":"throttle_violation","backoff":120})",
                     502);
    EXPECT_FALSE(source.search("t", kDepths[0]));
    EXPECT_EQ(source.search("t", kDepths[0]).error,
              "Stack Exchange asked for a pause; try again in 120 seconds");
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(StackExchangeTest, LowQuotaIsShownAsStatus) {
    const std::pair<int, std::string> cases[] = {
        {50, ""},
        {49, "Stack Exchange: 49 requests left today"},
        {1, "Stack Exchange: 1 request left today"},
        {0, "Stack Exchange: no requests left today"},
    };
    for (const auto& [quota, status] : cases) {
        server.serveGzip(kSearch, SeSearchReply({kQ1}, quota));
        ASSERT_TRUE(source.search("t", kDepths[0]));
        EXPECT_EQ(source.status(), status) << quota;
    }
}

// Whatever the bodies and fields hold, the cut finds the answer and keeps
// the attribution; links that are not http(s) are not made links.
TEST_F(StackExchangeTest, PageKeepsTheAttributionWhateverTheFieldsHold) {
    const auto object = [](const std::string& json) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    };
    struct Case {
        std::string question;
        std::string answer;
        std::string attribution;
    } cases[] = {
        {R"j({"title":"T","link":"javascript:alert(1)","body":"<ul class=\"meta\"><li>x</li></ul>",
            "owner":{"display_name":"<b>Al</b>","link":"https://e.example/u?id=1&tab=a"},
            "content_license":"CC BY-SA 3.0"})j",
         R"j({"body":"<div class=\"content\">A</div><ul class=\"meta\">",
            "owner":{"user_type":"does_not_exist","display_name":"user9"},
            "content_license":"CC BY-SA 4.0"})j",
         "<p class=\"attribution\">From Stack Exchange: T, asked by <a "
         "href=\"https://e.example/u?id=1&amp;tab=a\">&lt;b&gt;Al&lt;/b&gt;</a>, accepted answer "
         "by user9; question licensed under <a "
         "href=\"https://creativecommons.org/licenses/by-sa/3.0/\">CC BY-SA 3.0</a>, answer "
         "under <a href=\"https://creativecommons.org/licenses/by-sa/4.0/\">CC BY-SA "
         "4.0</a>.</p>"},
        {R"j({"title":"T","link":"http://e.example/q/1","content_license":"Public <domain>"})j",
         R"j({"owner":{"display_name":"Bo","link":"https://e.example/u/\"onclick=\"x"}})j",
         "<p class=\"attribution\">From Stack Exchange: <a href=\"http://e.example/q/1\">T</a>, "
         "asked by an unknown user, accepted answer by Bo; question licensed under "
         "<a href=\"https://stackoverflow.com/help/licensing\">Public &lt;domain&gt;</a>, answer "
         "under <a href=\"https://stackoverflow.com/help/licensing\">CC BY-SA</a>.</p>"},
    };
    for (const auto& c : cases) {
        const std::string text = CutQaArticle(
            PageTextFromBytes(StackExchangePage(object(c.question), object(c.answer))));
        SCOPED_TRACE(text);
        EXPECT_TRUE(text.starts_with(std::string(kSubjectMarker) + "T</h1>"));
        EXPECT_NE(text.find("\r\n<h1>Answer</h1>\r\n"), std::string::npos);
        EXPECT_TRUE(text.ends_with(c.attribution + "\r\n"));
    }
}

}  // namespace
