#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quill {

// The three depth choices: results asked from the search service, and the
// largest number of entries the scan lists.
struct Depth {
    int asked;
    int limit;
};
inline constexpr Depth kDepths[3] = {{5, 10}, {10, 20}, {20, 50}};

// "http://" + search host + "/search?q=site%3A" + Q&A host + " " + the term as
// typed + the fixed tail with "&num=" + asked. Nothing in the term is escaped.
std::string BuildQueryAddress(std::string_view searchHost, std::string_view answersHost,
                              std::string_view term, int asked);

struct ResultEntry {
    std::string title;
    std::string address;
};

// Cuts question titles and addresses out of a result-page text. A result
// whose title end or address end is missing is skipped as a whole, so titles
// and addresses always stay in step. Stops at limit entries, at the end of
// the results, or at a title that runs into a "<meta" tag.
std::vector<ResultEntry> ScanResultPage(std::string_view text, int limit);

}  // namespace quill
