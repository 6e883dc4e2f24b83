// Replace, checked against the routine's own definition run step by step.
#include "Fuzz.h"

#include "common/TextOps.h"

#include <string>

namespace {

// The definition: rebuild the text after each hit and search on from just
// after the inserted piece. Quadratic, so only for small inputs.
std::string Reference(std::string s, std::string_view find, std::string_view replacement,
                      std::int32_t start, std::int32_t most, quill::CompareMode mode) {
    if (find.empty() || find == replacement) {
        return s;
    }
    auto pos = quill::find(s, find, start, mode);
    if (!pos) {
        return s;
    }
    std::int64_t count = 0;
    while (*pos != 0) {
        ++count;
        const auto at = static_cast<std::size_t>(*pos - 1);
        s = s.substr(0, at) + std::string(replacement) + s.substr(at + find.size());
        if (most != -1 && count >= most) {
            break;
        }
        pos = quill::find(s, find, *pos + static_cast<std::int64_t>(replacement.size()), mode);
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    quill::fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    const auto start = static_cast<std::int32_t>(static_cast<std::int8_t>(in.byte()));
    const std::int32_t most = (flags & 1) ? -1 : static_cast<std::int8_t>(in.byte());
    const auto mode = (flags & 2) ? quill::CompareMode::Text : quill::CompareMode::Binary;
    const std::uint8_t findAt = in.byte();
    const std::uint8_t findLength = in.byte();
    const std::string_view text = in.until('\x01');
    // Mostly a piece of the text itself, so that it is found, often next to
    // another occurrence; sometimes text of its own.
    const std::string_view find =
        (flags & 4) ? in.until('\x01') : text.substr(findAt % (text.size() + 1), findLength % 7);
    const std::string_view replacement = in.rest();

    const std::string result = quill::Replace(text, find, replacement, start, most, mode);
    if (text.size() <= 4096) {
        Check(result == Reference(std::string(text), find, replacement, start, most, mode),
              "Replace does what its definition says");
    }
    if (find.empty() || find == replacement) {
        Check(result == text, "nothing to replace leaves the text as it was");
    }
    return 0;
}
