#include "ServerField.h"

#include "common/TextOps.h"

#include <algorithm>

namespace quill {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trimmed(std::string_view text, std::string_view blanks = kBlanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    text = Trimmed(text, " \t");
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

namespace {

// Where the user information of an address ends: the last '@', since a
// password may hold any character ('@', '#', '/' and '?' included), unless
// the user name before it holds a '/', '?' or '#': then that '@' is part of
// a path, and the last '@' before the path counts. npos when there is none.
std::size_t userInfoEnd(std::string_view text) {
    const auto at = text.rfind('@');
    if (at == std::string_view::npos) {
        return at;
    }
    const std::string_view user = text.substr(0, std::min(at, text.find(':')));
    if (user.find_first_of("/?#") == std::string_view::npos) {
        return at;
    }
    return text.substr(0, text.find_first_of("/?#")).rfind('@');
}

// The part of the field after "scheme://", or the whole field without a
// scheme this program knows; start is where that part begins.
struct AddressParts {
    std::optional<FtpProtocol> protocol;
    std::size_t start = 0;
    std::size_t at = std::string_view::npos;  // the user information's end
};

AddressParts addressParts(std::string_view text) {
    AddressParts parts;
    const auto scheme = text.find("://");
    if (scheme != std::string_view::npos) {
        parts.protocol = ProtocolFromName(text.substr(0, scheme));
        if (!parts.protocol) {
            return parts;  // another scheme: the text as typed
        }
        parts.start = scheme + 3;
    }
    if (const auto at = userInfoEnd(text.substr(parts.start)); at != std::string_view::npos) {
        parts.at = parts.start + at;
    }
    return parts;
}

}  // namespace

ServerField ParseServerField(std::string_view text) {
    text = Trimmed(text);
    ServerField field;
    const AddressParts parts = addressParts(text);
    field.protocol = parts.protocol;
    std::string_view rest = text.substr(parts.start);
    if (parts.at != std::string_view::npos) {
        const std::string_view userInfo = text.substr(parts.start, parts.at - parts.start);
        rest = text.substr(parts.at + 1);
        const auto colon = userInfo.find(':');
        // Typed without a scheme, the values are taken as they are.
        const auto value = [&](std::string_view raw) {
            return field.protocol ? PercentDecoded(raw) : std::string(raw);
        };
        if (colon != 0 && !userInfo.empty()) {
            field.user = value(userInfo.substr(0, colon));
        }
        if (colon != std::string_view::npos) {
            field.password = value(userInfo.substr(colon + 1));
        }
    }
    if (!field.protocol) {
        field.host = Trimmed(rest);
        return field;
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    std::optional<std::string_view> portText;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        const std::string_view after =
            close == std::string_view::npos ? std::string_view() : rest.substr(close + 1);
        if (close == std::string_view::npos || (!after.empty() && after.front() != ':')) {
            field.valid = false;
            return field;
        }
        field.host = rest.substr(1, close - 1);
        if (!after.empty()) {
            portText = after.substr(1);
        }
    } else if (const auto colon = rest.find(':');
               colon != std::string_view::npos &&
               rest.find(':', colon + 1) == std::string_view::npos) {
        field.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
    } else {
        // A name, or an IPv6 literal typed without brackets.
        field.host = rest;
    }
    // A bracket left over is no address at all.
    if (field.host.find_first_of("[]") != std::string::npos) {
        field.host.clear();
        field.valid = false;
        return field;
    }
    // "host:" names no port, as in any address.
    if (portText && !portText->empty()) {
        field.port = ParsePort(*portText);
        field.valid = field.port.has_value();
    }
    field.valid = field.valid && !field.host.empty();
    return field;
}

std::string AddressWithoutPassword(std::string_view text) {
    const AddressParts parts = addressParts(text);
    if (parts.at == std::string_view::npos) {
        return std::string(text);
    }
    const auto colon = text.find(':', parts.start);
    if (colon >= parts.at) {
        return std::string(text);  // a user name only
    }
    std::string out(text);
    out.erase(colon, parts.at - colon);
    return out;
}

std::optional<std::string> PortAfterProtocolChange(FtpProtocol from, FtpProtocol to,
                                                   std::string_view portText) {
    if (!Trimmed(portText).empty() && ParsePort(portText) != DefaultPort(from)) {
        return std::nullopt;
    }
    return std::to_string(DefaultPort(to));
}

}  // namespace quill
