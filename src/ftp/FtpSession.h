#pragma once

#include "FtpEngine.h"
#include "ServerField.h"
#include "net/FtpConnection.h"
#include "platform/Dialogs.h"

#include <QString>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// The pattern the first listing after connect enumerates: the login folder
// followed by "*.*", with a "/" between when the folder does not end in one.
std::string SearchPatternForLoginFolder(std::string_view loginFolder);

// The remote folder after login: the login folder ending in "/", or "/" when
// the server named none (or one that is not an absolute path).
std::string RemotePathForLoginFolder(std::string_view loginFolder);

// The certificate or host key question after a connect failed with
// FtpErrorKind::Untrusted.
struct TrustPrompt {
    // A Yes/No question; otherwise the key changed and a critical warning
    // says so: a changed key can not be accepted from the window.
    bool question = false;
    std::string text;
};
TrustPrompt TrustPromptFor(const FtpServerKey& key, FtpProtocol protocol,
                           const std::filesystem::path& trustFolder);

// What follows the answer: the log entries and whether to connect again with
// the key's fingerprint accepted.
struct TrustAnswer {
    bool retry = false;
    std::vector<std::string> log;
};
TrustAnswer AnswerTrust(const FtpServerKey& key, bool accepted);

struct ConnectRequest {
    FtpProtocol protocol = FtpProtocol::Ftp;
    std::string server;
    std::string user;
    std::string password;
    std::uint16_t port = 21;
    std::string siteName;
    bool passive = true;
};

struct SiteProfile;

// What the site manager's Connect makes of a saved profile: a scheme or port
// in the address goes before the profile's protocol and port. An error text
// when the address or the port is unusable.
std::expected<ConnectRequest, std::string> ConnectRequestFor(const SiteProfile& profile);

// The fields of the site manager's Connect as typed. The quick-connect bar
// fills the server, user, password, port and protocol; the rest keep the
// site manager's defaults.
struct ConnectFields {
    QString server;
    QString user;
    QString password;
    QString port;
    QString siteName;
    FtpProtocol protocol = FtpProtocol::Ftp;
    bool passive = true;
};

// Fields that make no connection: the message to show and its icon.
struct RefusedFields {
    QString message;
    MessageIcon icon = MessageIcon::None;
    bool port = false;  // only the port is wrong
};

// What the site manager's Connect makes of its fields: a server field of
// more than 6 characters with a host, where a scheme, port, user or password
// go before the other fields (a port field holding the default port follows
// the scheme, as it follows the protocol choice); an empty site name becomes
// the application title.
std::expected<ConnectRequest, RefusedFields> ConnectRequestFor(const ConnectFields& fields);

// The connection values of a request; trustFolder holds remembered keys.
FtpConnectParams ConnectParamsFor(const ConnectRequest& request,
                                  const std::filesystem::path& trustFolder);

// The one FTP session of the program: the Internet session, the connection
// (owned by the engine's worker), the values of the current connection and
// the remote position. Connected means both are held.
class FtpSession {
public:
    using SessionOpener = std::function<std::unique_ptr<NetworkLibrary>(std::string agent)>;

    bool connected() const { return SessionHandle && engine.hasConnection(); }

    // Closes the connection, then the session; safe when neither is open.
    void CloseHandles();

    // Stores the request's values, empties RemotePath and opens the Internet
    // session with the site name as agent. False when it cannot be opened.
    // An earlier connection is closed first.
    bool OpenSession(const ConnectRequest& request);

    // Connects and logs in with the stored values on the engine; an
    // AcceptedFingerprint goes with this attempt only. On success
    // SearchPattern is the login folder's pattern, RemotePath the login
    // folder, and done gets the login folder.
    void ConnectServer(std::function<void(FtpResult<std::string>)> done);

    // The stored values as connection values, without an accepted
    // fingerprint: what ConnectServer uses, and what another connection to
    // the same server needs.
    FtpConnectParams ConnectParams() const;
    // The site name the session was opened with.
    const std::string& SiteName() const { return m_agent; }
    // The name a publish record of this server goes under: the site name
    // when a saved profile of that name leads to this server and login,
    // otherwise "user@host:port" (a quick connect).
    std::string PublishSite(const std::filesystem::path& profileFolder) const;

    std::unique_ptr<NetworkLibrary> SessionHandle;
    FtpEngine engine;  // holds the connection handle on its worker
    std::string ServerAddress;
    std::string LoginName;
    std::string LoginPassword;
    std::uint16_t ServerPort = 0;
    FtpProtocol Protocol = FtpProtocol::Ftp;
    bool Passive = true;
    // Where the remembered host keys and certificates live.
    std::filesystem::path TrustFolder;
    // The fingerprint the user accepted for the next attempt; emptied by it.
    std::string AcceptedFingerprint;
    std::string RemotePath;
    std::string SearchPattern;

    FtpTimeouts timeouts;
    // Replaceable so tests can make the session fail to open.
    SessionOpener sessionOpener = &NetworkLibrary::Open;

private:
    std::string m_agent;
};

}  // namespace quill
