#include "FtpSession.h"

#include "common/TextOps.h"

namespace quill {

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
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
    Passive = request.passive;
    RemotePath.clear();
    m_agent = request.siteName;
    SessionHandle = sessionOpener(request.siteName);
    return SessionHandle != nullptr;
}

void FtpSession::ConnectServer(std::function<void(FtpResult<std::string>)> done) {
    if (!SessionHandle) {
        done(std::unexpected(FtpError{0, "No Internet session", FtpErrorKind::Failed}));
        return;
    }
    FtpConnectParams params;
    params.host = ServerAddress;
    params.port = ServerPort;
    params.user = LoginName;
    params.password = LoginPassword;
    params.passive = Passive;
    params.timeouts = timeouts;
    engine.connectServer(m_agent, std::move(params),
                         [this, done = std::move(done)](FtpResult<std::string> loginFolder) {
                             if (loginFolder) {
                                 SearchPattern = SearchPatternForLoginFolder(*loginFolder);
                                 RemotePath = RemotePathForLoginFolder(*loginFolder);
                             }
                             done(std::move(loginFolder));
                         });
}

}  // namespace quill
