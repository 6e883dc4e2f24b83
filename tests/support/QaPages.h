#pragma once

#include <string>
#include <vector>

namespace quill::test {

struct FakeResult {
    std::string address;
    std::string title;  // markup allowed, e.g. "<em>cats</em>"
};

// One result in the search service's plain markup: a level-3 heading with a
// one-letter class holding the link, the address in double quotes.
inline std::string ResultMarkup(const FakeResult& r) {
    return "<h3 class=\"r\"><a href=\"" + r.address + "\" class=l onmousedown=\"return x()\">" +
           r.title + "</a></h3><div class=\"s\">snippet</div>";
}

// A result page whose results sit on one long line after padding of
// padBytes, so they survive the reader's skip of the first 125,666 bytes.
inline std::string ResultPage(const std::vector<FakeResult>& results,
                              std::size_t padBytes = 130'000) {
    std::string page = "<html><head><title>results</title></head><body>";
    while (page.size() < padBytes) {
        page += "<span class=\"pad\">padding</span>";
    }
    for (const auto& r : results) {
        page += ResultMarkup(r);
    }
    page += "</body></html>\n";
    return page;
}

// A question page with the subject, meta and content markers.
inline std::string QuestionPage(const std::string& subject, const std::string& answer,
                                const std::string& secondAnswer = "") {
    std::string page = "<html><head><title>" + subject + "</title></head><body>\n";
    page += "<h1 class=\"subject\">" + subject + "</h1>\n";
    page += "<ul class=\"meta\"><li>asked by someone</li></ul>\n";
    page += "<div class=\"content\">" + answer + "</div>\n";
    page += "<ul class=\"meta\"><li>answered</li></ul>\n";
    if (!secondAnswer.empty()) {
        page += "<div class=\"content\">" + secondAnswer + "</div>\n";
        page += "<ul class=\"meta\"><li>answered later</li></ul>\n";
    }
    page += "</body></html>\n";
    return page;
}

// The article the cut makes of QuestionPage(subject, answer).
inline std::string QuestionArticle(const std::string& subject, const std::string& answer) {
    return "<h1 class=\"subject\">" + subject + "</h1>\r\n\r\n<h1>Answer</h1>\r\n" +
           "<div class=\"content\">" + answer + "</div>\r\n";
}

}  // namespace quill::test
