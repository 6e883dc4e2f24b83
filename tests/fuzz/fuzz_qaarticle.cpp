// The question-and-answer cut shared by the bulk save and the extractor.
#include "Fuzz.h"

#include "common/QaArticle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const std::string article = quill::CutQaArticle(page);
    const std::size_t added = 2 + quill::kAnswerHeading.size() + 2;
    Check(article.size() <= 2 * page.size() + added,
          "the cut gives the page or a piece of it, and at most one answer");
    if (page.find(quill::kMetaMarker) == std::string_view::npos) {
        Check(article == page, "a page without a meta list stays whole");
    }
    if (article.find(quill::kAnswerHeading) == std::string::npos) {
        Check(page.find(article) != std::string_view::npos,
              "without an answer the article is a piece of the page");
    }
    return 0;
}
