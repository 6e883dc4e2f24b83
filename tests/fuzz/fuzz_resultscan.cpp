// The result-page scan, and the query address built around a typed term.
#include "Fuzz.h"

#include "harvester/ResultScan.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    quill::fuzz::Input in(data, size);
    const int limit = in.byte() % 61;
    const std::string_view text = in.rest();

    const auto entries = quill::ScanResultPage(text, limit);
    Check(std::ssize(entries) <= std::max(limit, 1), "the scan stops at the list limit");
    for (const auto& entry : entries) {
        Check(text.find(entry.address) != std::string_view::npos,
              "an address is taken from the page unchanged");
    }

    const auto address = quill::BuildQueryAddress("search.example", "answers.example", text, 5);
    Check(address.find(text) != std::string::npos, "the term goes into the address as typed");
    return 0;
}
