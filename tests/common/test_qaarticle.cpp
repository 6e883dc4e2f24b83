#include "common/QaArticle.h"

#include <gtest/gtest.h>

using quill::CutQaArticle;

namespace {

const std::string kSubject = "<h1 class=\"subject\">How do cats purr?</h1>\r\n";
const std::string kMeta = "<ul class=\"meta\"><li>asked</li></ul>\r\n";
const std::string kContent = "<div class=\"content\">They use their larynx.</div>\r\n";
const std::string kContent2 = "<div class=\"content\">Second answer.</div>\r\n";

struct Row {
    const char* name;
    std::string page;
    std::string article;
};

class QaArticleOutcome : public ::testing::TestWithParam<Row> {};

TEST_P(QaArticleOutcome, CutsWhatThePageHolds) {
    EXPECT_EQ(CutQaArticle(GetParam().page), GetParam().article);
}

const std::string kHead = "<html><body>\r\n";
const std::string kTail = "</body></html>\r\n";

INSTANTIATE_TEST_SUITE_P(
    Markers, QaArticleOutcome,
    ::testing::Values(
        Row{"AllFour", kHead + kSubject + kMeta + kContent + kMeta + kTail,
            kSubject + "\r\n<h1>Answer</h1>\r\n" + kContent},
        Row{"OnlyTheFirstAnswerIsTaken",
            kHead + kSubject + kMeta + kContent + kMeta + kContent2 + kMeta + kTail,
            kSubject + "\r\n<h1>Answer</h1>\r\n" + kContent},
        Row{"NoSubjectMarker", kHead + kMeta + kContent + kMeta + kTail,
            kHead + kMeta + kContent + kMeta + kTail + "\r\n<h1>Answer</h1>\r\n" + kContent},
        Row{"SubjectAfterTheFirstMeta", kHead + kMeta + kSubject + kContent + kMeta,
            kHead + kMeta + kSubject + kContent + kMeta + "\r\n<h1>Answer</h1>\r\n" + kContent},
        Row{"NoMetaMarker", kHead + kSubject + kContent + kTail,
            kHead + kSubject + kContent + kTail},
        Row{"NoContentAfterMeta", kHead + kContent + kSubject + kMeta + kTail, kSubject},
        Row{"NoMetaAfterContent", kHead + kSubject + kMeta + kContent + kTail, kSubject},
        Row{"EmptyPage", "", ""},
        Row{"MarkersAreCaseSensitive", "<H1 class=\"subject\">x" + kMeta + kContent + kMeta,
            "<H1 class=\"subject\">x" + kMeta + kContent + kMeta + "\r\n<h1>Answer</h1>\r\n" +
                kContent}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
