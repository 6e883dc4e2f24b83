#include "QaArticle.h"

#include "TextOps.h"

namespace quill {

std::string CutQaArticle(std::string_view page) {
    // A search from position 0 is invalid and leaves its result at 0.
    const auto p1 = findOr0(page, kSubjectMarker, 1);
    const auto p2 = findOr0(page, kMetaMarker, 1);
    const auto p3 = findOr0(page, kContentMarker, p2);
    const auto p4 = findOr0(page, kMetaMarker, p3);

    std::string article(page);
    if (auto question = cut(page, p1, p2 - p1)) {
        article = std::move(*question);
    }
    if (auto answer = cut(page, p3, p4 - p3)) {
        article.append(kCrLf);
        article.append(kAnswerHeading);
        article.append(kCrLf);
        article.append(*answer);
    }
    return article;
}

}  // namespace quill
