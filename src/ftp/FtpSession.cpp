#include "FtpSession.h"

#include "SiteProfiles.h"

#include "common/AppInfo.h"
#include "common/TextOps.h"
#include "net/ServerTrust.h"

#include <utility>

namespace quill {

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
    const ServerField field = ParseServerField(profile.adresa);
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

std::expected<ConnectRequest, RefusedFields> ConnectRequestFor(const ConnectFields& fields) {
    const RefusedFields wrongAddress{QStringLiteral("Wrong adress!"), MessageIcon::None};
    if (fields.server.length() <= 6) {
        return std::unexpected(wrongAddress);
    }
    const ServerField field = ParseServerField(fields.server.trimmed().toStdString());
    // Only a bad port leaves a host beside it.
    if (!field.valid && field.host.empty()) {
        return std::unexpected(wrongAddress);
    }
    const FtpProtocol protocol = field.protocol.value_or(fields.protocol);
    std::string portText = fields.port.toStdString();
    if (protocol != fields.protocol) {
        portText = PortAfterProtocolChange(fields.protocol, protocol, portText).value_or(portText);
    }
    std::optional<std::uint16_t> port;
    if (field.valid) {
        port = field.port ? field.port : ParsePort(portText);
    }
    if (!port) {
        return std::unexpected(
            RefusedFields{QStringLiteral("The port must be a whole number from 1 to 65535."),
                          MessageIcon::Exclamation, true});
    }
    ConnectRequest request;
    request.protocol = protocol;
    request.server = field.host;
    request.user = field.user.value_or(fields.user.toStdString());
    request.password = field.password.value_or(fields.password.toStdString());
    request.port = *port;
    request.siteName =
        fields.siteName.isEmpty() ? std::string(app::kTitle) : fields.siteName.toStdString();
    request.passive = fields.passive;
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
