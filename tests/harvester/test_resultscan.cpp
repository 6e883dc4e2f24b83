#include "harvester/ResultScan.h"

#include "common/PageFile.h"
#include "support/QaPages.h"

#include <gtest/gtest.h>

using namespace quill;
using quill::test::FakeResult;
using quill::test::ResultMarkup;

namespace {

std::vector<FakeResult> Results(int count) {
    std::vector<FakeResult> results;
    for (int i = 0; i < count; ++i) {
        results.push_back({"http://answers.example/question/index?qid=" + std::to_string(i),
                           "Question " + std::to_string(i)});
    }
    return results;
}

// The text the scan sees: the markup after something in front, so the first
// marker is not at the first characters (the scan starts its search at 3).
std::string Text(const std::vector<FakeResult>& results) {
    std::string text = "<body>";
    for (const auto& r : results) {
        text += ResultMarkup(r);
    }
    return text + "\r\n";
}

TEST(QueryAddress, IsBuiltExactlyForEachDepth) {
    EXPECT_EQ(BuildQueryAddress("www.google.com", "answers.yahoo.com", "cat food", 5),
              "http://www.google.com/search?q=site%3Aanswers.yahoo.com cat food -inurl:activity"
              "+%2B%22best+answer%22+&num=5&output=ie&hl=en");
    EXPECT_EQ(BuildQueryAddress("s", "a", "x", kDepths[1].asked),
              "http://s/search?q=site%3Aa x -inurl:activity+%2B%22best+answer%22+&num=10"
              "&output=ie&hl=en");
    EXPECT_EQ(BuildQueryAddress("s", "a", "  ", kDepths[2].asked),
              "http://s/search?q=site%3Aa    -inurl:activity+%2B%22best+answer%22+&num=20"
              "&output=ie&hl=en")
        << "a term of blanks goes in as typed";
    EXPECT_EQ(kDepths[0].limit, 10);
    EXPECT_EQ(kDepths[1].limit, 20);
    EXPECT_EQ(kDepths[2].limit, 50);
}

TEST(ResultScan, CutsTitlesAndAddressesAtTheirOffsets) {
    const auto entries = ScanResultPage(Text(Results(3)), 10);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].title, "Question 0");
    EXPECT_EQ(entries[0].address, "http://answers.example/question/index?qid=0");
    EXPECT_EQ(entries[2].address, "http://answers.example/question/index?qid=2");
}

TEST(ResultScan, RemovesHighlightingButKeepsOtherMarkup) {
    const auto entries = ScanResultPage(
        Text({{"http://a/1", "How do <em>cats</em> <b>purr</b>, <em>cats</em>?"}}), 10);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].title, "How do cats <b>purr</b>, cats?");
}

TEST(ResultScan, AddressIsTakenUnchanged) {
    const auto entries = ScanResultPage(Text({{"http://a/q?qid=1&amp;x=%20y", "T"}}), 10);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].address, "http://a/q?qid=1&amp;x=%20y");
}

TEST(ResultScan, StopsAtTheListLimit) {
    EXPECT_EQ(ScanResultPage(Text(Results(30)), 20).size(), 20u);
    EXPECT_EQ(ScanResultPage(Text(Results(200)), 50).size(), 50u);
    EXPECT_EQ(ScanResultPage(Text(Results(7)), 50).size(), 7u);
}

TEST(ResultScan, EmptyOrMarkerlessTextListsNothing) {
    EXPECT_TRUE(ScanResultPage("", 10).empty());
    EXPECT_TRUE(ScanResultPage("<html><body>no results</body></html>\r\n", 10).empty());
}

TEST(ResultScan, MarkerInTheFirstTwoCharactersIsPassedOver) {
    const std::string text =
        ResultMarkup({"http://a/1", "First"}) + ResultMarkup({"http://a/2", "Second"});
    const auto entries = ScanResultPage(text, 10);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].title, "Second");
}

TEST(ResultScan, TitleRunningIntoMetaEndsTheScan) {
    std::string text = Text(Results(2));
    text += "<h3 class=\"r\"><a href=\"http://a/x\" class=l >broken<meta name=x></a></h3>";
    text += ResultMarkup({"http://a/after", "After"});
    const auto entries = ScanResultPage(text, 10);
    ASSERT_EQ(entries.size(), 2u) << "nothing after the meta title is listed";
}

TEST(ResultScan, TitleStartingWithMetaDoesNotEndTheScan) {
    const auto entries =
        ScanResultPage(Text({{"http://a/1", "<meta>odd"}, {"http://a/2", "Next"}}), 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].title, "<meta>odd");
}

TEST(ResultScan, ResultWithoutTitleEndIsSkippedWithoutSwallowingTheNext) {
    std::string text = "<body>" + ResultMarkup({"http://a/1", "One"});
    text += "<h3 class=\"r\"><a href=\"http://a/2\" class=l >no end here</h3>";
    text += ResultMarkup({"http://a/3", "Three"});
    const auto entries = ScanResultPage(text, 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].title, "One");
    EXPECT_EQ(entries[0].address, "http://a/1");
    EXPECT_EQ(entries[1].title, "Three");
    EXPECT_EQ(entries[1].address, "http://a/3");
}

TEST(ResultScan, ResultWithoutAddressEndInTheMiddleIsSkipped) {
    std::string text = "<body>" + ResultMarkup({"http://a/1", "One"});
    text += "<h3 class=\"r\"><a href=\"http://a/2\">Two</a></h3>";
    text += ResultMarkup({"http://a/3", "Three"});
    const auto entries = ScanResultPage(text, 10);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].title, "Three");
    EXPECT_EQ(entries[1].address, "http://a/3");
}

TEST(ResultScan, ResultWithoutAddressEndIsSkipped) {
    std::string text = "<body>" + ResultMarkup({"http://a/1", "One"});
    text += "<h3 class=\"r\"><a href=\"http://a/2\">Two</a></h3>";
    const auto entries = ScanResultPage(text, 10);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].title, "One");
}

TEST(ResultScan, TruncatedLastResultIsSkipped) {
    std::string text = "<body>" + ResultMarkup({"http://a/1", "One"}) + "<h3 class=\"r\"><a hr";
    const auto entries = ScanResultPage(text, 10);
    ASSERT_EQ(entries.size(), 1u);
}

TEST(ResultScan, ResultsWithinTheSkippedStartAreNotListed) {
    const std::string page = test::ResultPage(Results(5), 0);
    ASSERT_LT(page.size(), static_cast<std::size_t>(kResultPageSkip));
    EXPECT_TRUE(ScanResultPage(PageTextFromBytes(page, kResultPageSkip), 10).empty());
    const std::string padded = test::ResultPage(Results(5));
    EXPECT_EQ(ScanResultPage(PageTextFromBytes(padded, kResultPageSkip), 10).size(), 5u);
}

}  // namespace
