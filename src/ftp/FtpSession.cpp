#include "FtpSession.h"

#include "SiteProfiles.h"

#include "common/TextOps.h"
#include "platform/ServerTrust.h"

#include <utility>

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

int HexValue(char c) {
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

// An address carries "@" or ":" in a user name or password as %40, %3A.
std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
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

std::string SearchPatternForLoginFolder(std::string_view loginFolder) {
    std::string pattern(loginFolder);
    pattern += (!pattern.empty() && pattern.back() == '/') ? "*.*" : "/*.*";
    return pattern;
}

std::string RemotePathForLoginFolder(std::string_view loginFolder) {
    std::string path(loginFolder);
    if (path.empty() || path.front() != '/' || HoldsLineBreak(path) ||
        path.find('\0') != std::string::npos) {
        return "/";
    }
    if (path.back() != '/') {
        path += '/';
    }
    return path;
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

TrustPrompt TrustPromptFor(const FtpServerKey& key, FtpProtocol protocol,
                           const std::filesystem::path& trustFolder) {
    const bool hostKey = protocol == FtpProtocol::Sftp;
    TrustPrompt prompt;
    if (key.changed) {
        const auto file = trustFolder / (hostKey ? kKnownHostsFile : kKnownCertificatesFile);
        prompt.text = std::string("WARNING: the ") + (hostKey ? "host key" : "certificate") +
                      " of " + key.server +
                      " has changed!\r\nSomeone may be listening in, or the server got a new "
                      "key.\r\nNew SHA-256 fingerprint: " +
                      key.fingerprint +
                      "\r\nThe connection was refused. If you expected the change, remove the "
                      "server's line from " +
                      file.string() + ".";
        return prompt;
    }
    prompt.question = true;
    prompt.text = "The server " + key.server + " showed a " +
                  (hostKey ? "host key (" + key.type + ")" : std::string("certificate")) +
                  " you have not trusted before" +
                  (key.reason.empty() ? std::string() : " (" + key.reason + ")") +
                  ".\r\nSHA-256 fingerprint: " + key.fingerprint +
                  "\r\n\r\nDo you trust it and want to connect?";
    return prompt;
}

TrustAnswer AnswerTrust(const FtpServerKey& key, bool accepted) {
    if (key.changed) {
        return {false,
                {" > Connection to server failed.",
                 " > The server's key has changed; connection refused."}};
    }
    if (accepted) {
        return {true, {" > Key accepted by the user."}};
    }
    return {false, {" > Connection to server failed.", " > Key not trusted by the user."}};
}

void FtpSession::CloseHandles() {
    engine.closeConnection();
    SessionHandle.reset();
}

bool FtpSession::OpenSession(const ConnectRequest& request) {
    CloseHandles();
    ServerAddress = request.server;
    LoginName = request.user;
    LoginPassword = request.password;
    ServerPort = request.port;
    Protocol = request.protocol;
    AcceptedFingerprint.clear();
    Passive = request.passive;
    RemotePath.clear();
    m_agent = request.siteName;
    SessionHandle = sessionOpener(request.siteName);
    return SessionHandle != nullptr;
}

std::expected<ConnectRequest, std::string> ConnectRequestFor(const SiteProfile& profile) {
    const ServerField field = ParseServerField(Trimmed(profile.adresa));
    if (field.host.empty()) {
        return std::unexpected("Wrong adress!");
    }
    const std::optional<std::uint16_t> port =
        field.valid ? (field.port ? field.port : ParsePort(profile.port)) : std::nullopt;
    if (!port) {
        return std::unexpected("The port must be a whole number from 1 to 65535.");
    }
    ConnectRequest request;
    request.protocol = field.protocol.value_or(profile.protocol);
    request.server = field.host;
    request.user = field.user.value_or(profile.ID);
    request.password = field.password.value_or(profile.pass);
    request.port = *port;
    request.siteName = profile.sname;
    return request;
}

FtpConnectParams ConnectParamsFor(const ConnectRequest& request,
                                  const std::filesystem::path& trustFolder) {
    FtpConnectParams params;
    params.protocol = request.protocol;
    params.host = request.server;
    params.port = request.port;
    params.user = request.user;
    params.password = request.password;
    params.passive = request.passive;
    params.trustFolder = trustFolder;
    return params;
}

void FtpSession::ConnectServer(std::function<void(FtpResult<std::string>)> done) {
    if (!SessionHandle) {
        done(std::unexpected(FtpError{0, "No Internet session", FtpErrorKind::Failed}));
        return;
    }
    FtpConnectParams params = ConnectParams();
    params.acceptedFingerprint = std::exchange(AcceptedFingerprint, {});
    engine.connectServer(m_agent, std::move(params),
                         [this, done = std::move(done)](FtpResult<std::string> loginFolder) {
                             if (loginFolder) {
                                 SearchPattern = SearchPatternForLoginFolder(*loginFolder);
                                 RemotePath = RemotePathForLoginFolder(*loginFolder);
                             }
                             done(std::move(loginFolder));
                         });
}

FtpConnectParams FtpSession::ConnectParams() const {
    FtpConnectParams params;
    params.protocol = Protocol;
    params.host = ServerAddress;
    params.port = ServerPort;
    params.user = LoginName;
    params.password = LoginPassword;
    params.passive = Passive;
    params.trustFolder = TrustFolder;
    params.timeouts = timeouts;
    return params;
}

std::string FtpSession::PublishSite(const std::filesystem::path& profileFolder) const {
    const SiteProfiles profiles(profileFolder);
    if (const auto file = profiles.PathFor(m_agent)) {
        std::error_code error;
        if (std::filesystem::is_regular_file(*file, error)) {
            const auto request = ConnectRequestFor(profiles.Read(file->filename().native()));
            if (request && request->server == ServerAddress && request->port == ServerPort &&
                request->user == LoginName) {
                return m_agent;
            }
        }
    }
    return LoginName + '@' + ServerAddress + ':' + std::to_string(ServerPort);
}

}  // namespace quill
