#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Text operations on page texts. Positions are 1-based; 0 means "not found".
// An invalid call (a start below 1, a negative length) yields std::nullopt, so
// callers can skip the step and keep the value they held, as the scanners do.
namespace quill {

inline constexpr std::string_view kCrLf = "\r\n";

enum class CompareMode : int { Binary = 0, Text = 1 };

// Position of the first occurrence of marker at or after from; 0 when none or
// when from lies beyond the end. std::nullopt when from < 1.
std::optional<std::int64_t> find(std::string_view text, std::string_view marker, std::int64_t from,
                                 CompareMode mode = CompareMode::Binary);

// find for scanners that treat an invalid search as "found nothing".
std::int64_t findOr0(std::string_view text, std::string_view marker, std::int64_t from);

// The length characters from start (fewer if the text ends first, empty when
// start lies beyond the end). std::nullopt when start < 1 or length < 0.
std::optional<std::string> cut(std::string_view text, std::int64_t start, std::int64_t length);

// The first count characters; std::nullopt when count < 0.
std::optional<std::string> left(std::string_view text, std::int64_t count);

// sIn with occurrences of sFind replaced by sReplace, searching from nStart,
// at most nCount replacements (-1 = all). Inserted text is never searched again.
// Runs in time linear in the size of its input and output.
std::string Replace(std::string_view sIn, std::string_view sFind, std::string_view sReplace,
                    std::int32_t nStart = 1, std::int32_t nCount = -1,
                    CompareMode bCompare = CompareMode::Binary);

// ASCII letters in lower case; every other byte as it is (names are bytes in
// any encoding, so no locale takes part).
constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiLower(std::string_view text);

// '/' or NUL: the text cannot be one part of a path.
bool HoldsSeparatorOrNul(std::string_view text);
// CR or LF: the text cannot be one line of a protocol command or an INI file.
bool HoldsLineBreak(std::string_view text);

// The C0 controls and DEL: bytes that show nothing, or move the cursor.
inline bool IsControlByte(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}
bool HoldsControlByte(std::string_view text);

// The one check for a name that comes from outside (a server, a web page, the
// user) and is to name one file or folder inside a given folder: not empty,
// not "." or "..", no '/' and no NUL. Callers that put the name into a
// one-line format also refuse HoldsLineBreak.
bool IsPlainName(std::string_view name);

// The bytes for which escape is true as %XX (upper-case hex), the others as
// they are.
std::string PercentEscaped(std::string_view text, const std::function<bool(unsigned char)>& escape);
// Every %XX (either case) decoded; a '%' without two hex digits stays.
std::string PercentDecoded(std::string_view text);
// A '%' without two hex digits follows somewhere.
bool HoldsBrokenEscape(std::string_view text);

}  // namespace quill
