// The Stack Exchange API reply reader, the page built from its items and the
// entity decoding of titles for the list.
#include "Fuzz.h"

#include "common/PageFile.h"
#include "common/QaArticle.h"
#include "harvester/StackExchangeSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    const std::string decoded = quill::DecodeHtmlEntities(body);
    Check(decoded.size() <= body.size(), "decoding never lengthens a text");
    if (body.find('&') == std::string_view::npos) {
        Check(decoded == body, "text without '&' stays as it is");
    }

    const quill::ApiReply reply = quill::ReadApiReply(body);
    Check(reply.error.empty() || reply.items.empty(), "a failed reply lists nothing");
    Check(reply.backoffSeconds >= 0 && reply.backoffSeconds <= 24 * 60 * 60,
          "a backoff is at most a day");
    if (reply.items.empty()) {
        return 0;
    }
    const std::string page = quill::StackExchangePage(reply.items.front(), reply.items.back());
    const std::string article = quill::CutQaArticle(quill::PageTextFromBytes(page));
    Check(article.starts_with(quill::kSubjectMarker), "the article starts with the title");
    Check(article.find(quill::kAnswerHeading) != std::string::npos, "the answer is found");
    Check(article.find("<p class=\"attribution\">From Stack Exchange: ") != std::string::npos,
          "the attribution is never cut off");
    return 0;
}
