#include "ResultScan.h"

#include "common/TextOps.h"

namespace quill {

std::string BuildQueryAddress(std::string_view searchHost, std::string_view answersHost,
                              std::string_view term, int asked) {
    std::string address = "http://";
    address.append(searchHost)
        .append("/search?q=site%3A")
        .append(answersHost)
        .append(" ")
        .append(term)
        .append(" -inurl:activity")
        .append("+%2B%22best+answer%22+&num=")
        .append(std::to_string(asked))
        .append("&output=ie&hl=en");
    return address;
}

std::vector<ResultEntry> ScanResultPage(std::string_view text, int limit) {
    constexpr std::string_view kResultMarker = "<h3 class=";
    constexpr std::string_view kTitleEnd = "</a></h3>";
    constexpr std::string_view kAddressEnd = "class=l ";

    std::vector<ResultEntry> entries;
    std::int64_t pos = 1;
    for (;;) {
        pos = findOr0(text, kResultMarker, pos + 2);
        if (pos == 0) {
            break;
        }
        // The search for the link tag's end starts inside the address, past
        // the heading tag's own '>'.
        // A piece found only inside the next result belongs to that one: the
        // broken result is skipped rather than swallowing its neighbour.
        const auto next = findOr0(text, kResultMarker, pos + 1);
        auto ownPiece = [next](std::int64_t at) { return at != 0 && (next == 0 || at < next); };
        const auto gt = findOr0(text, ">", pos + 25);
        const auto e = gt == 0 ? 0 : findOr0(text, kTitleEnd, gt);
        const auto title =
            ownPiece(gt) && ownPiece(e) ? cut(text, gt + 1, e - gt - 1) : std::nullopt;
        if (!title) {
            continue;
        }
        if (findOr0(*title, "<meta", 1) > 1) {
            break;
        }
        const auto c = findOr0(text, kAddressEnd, pos);
        const auto address = ownPiece(c) ? cut(text, pos + 23, c - pos - 25) : std::nullopt;
        if (!address) {
            continue;
        }
        entries.push_back({Replace(Replace(*title, "<em>", ""), "</em>", ""), *address});
        if (std::ssize(entries) >= limit) {
            break;
        }
    }
    return entries;
}

}  // namespace quill
