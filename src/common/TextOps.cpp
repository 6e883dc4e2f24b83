#include "TextOps.h"

#include <algorithm>

namespace quill {
namespace {

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// 0-based index of marker in text at or after start, or npos.
std::size_t rawFind(std::string_view text, std::string_view marker, std::size_t start,
                    CompareMode mode) {
    if (mode == CompareMode::Binary) {
        return text.find(marker, start);
    }
    if (start > text.size()) {
        return std::string_view::npos;
    }
    const auto it =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), marker.begin(),
                    marker.end(), [](char a, char b) { return foldAscii(a) == foldAscii(b); });
    return it == text.end() && !marker.empty() ? std::string_view::npos
                                               : static_cast<std::size_t>(it - text.begin());
}

}  // namespace

std::optional<std::int64_t> find(std::string_view text, std::string_view marker, std::int64_t from,
                                 CompareMode mode) {
    if (from < 1) {
        return std::nullopt;
    }
    const auto size = static_cast<std::int64_t>(text.size());
    if (from > size) {
        return 0;
    }
    const auto idx = rawFind(text, marker, static_cast<std::size_t>(from - 1), mode);
    return idx == std::string_view::npos ? 0 : static_cast<std::int64_t>(idx) + 1;
}

std::int64_t findOr0(std::string_view text, std::string_view marker, std::int64_t from) {
    return find(text, marker, from).value_or(0);
}

std::optional<std::string> cut(std::string_view text, std::int64_t start, std::int64_t length) {
    if (start < 1 || length < 0) {
        return std::nullopt;
    }
    const auto size = static_cast<std::int64_t>(text.size());
    if (start > size) {
        return std::string{};
    }
    const auto count = std::min(length, size - start + 1);
    return std::string(
        text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

std::optional<std::string> left(std::string_view text, std::int64_t count) {
    if (count < 0) {
        return std::nullopt;
    }
    return std::string(
        text.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(count, std::ssize(text)))));
}

std::string Replace(std::string_view sIn, std::string_view sFind, std::string_view sReplace,
                    std::int32_t nStart, std::int32_t nCount, CompareMode bCompare) {
    if (sFind.empty() || sFind == sReplace) {
        return std::string(sIn);
    }
    auto first = find(sIn, sFind, nStart, bCompare);
    if (!first || *first == 0) {
        return std::string(sIn);
    }
    // Searching the rebuilt text just after the inserted piece is the same as
    // searching the input just after the replaced occurrence, so one pass over
    // the input suffices.
    std::string out;
    out.reserve(sIn.size());
    std::size_t copied = 0;
    std::size_t idx = static_cast<std::size_t>(*first - 1);
    std::int64_t count = 0;
    while (idx != std::string_view::npos) {
        out.append(sIn.substr(copied, idx - copied));
        out.append(sReplace);
        copied = idx + sFind.size();
        ++count;
        if (nCount != -1 && count >= nCount) {
            break;
        }
        idx = rawFind(sIn, sFind, copied, bCompare);
    }
    out.append(sIn.substr(copied));
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = AsciiLower(c);
    }
    return lower;
}

bool HoldsSeparatorOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos;
}

bool HoldsLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool HoldsControlByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return IsControlByte(static_cast<unsigned char>(c)); });
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && !HoldsSeparatorOrNul(name);
}

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool escapeAt(std::string_view text, std::size_t i) {
    return text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
           hexValue(text[i + 2]) >= 0;
}

}  // namespace

std::string PercentEscaped(std::string_view text,
                           const std::function<bool(unsigned char)>& escape) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (escape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (escapeAt(text, i)) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool HoldsBrokenEscape(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (!escapeAt(text, i)) {
                return true;
            }
            i += 2;
        }
    }
    return false;
}

}  // namespace quill
