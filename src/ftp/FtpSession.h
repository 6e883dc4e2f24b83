#pragma once

#include "FtpEngine.h"
#include "platform/FtpConnection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quill {

// A port typed by the user: a whole number from 1 to 65535 (blanks around it
// allowed), otherwise nullopt.
std::optional<std::uint16_t> ParsePort(std::string_view text);

// The pattern the first listing after connect enumerates: the login folder
// followed by "*.*", with a "/" between when the folder does not end in one.
std::string SearchPatternForLoginFolder(std::string_view loginFolder);

// The remote folder after login: the login folder ending in "/", or "/" when
// the server named none (or one that is not an absolute path).
std::string RemotePathForLoginFolder(std::string_view loginFolder);

struct ConnectRequest {
    std::string server;
    std::string user;
    std::string password;
    std::uint16_t port = 21;
    std::string siteName;
    bool passive = true;
};

// The one FTP session of the program: the Internet session, the connection
// (owned by the engine's worker), the values of the current connection and
// the remote position. Connected means both are held.
class FtpSession {
public:
    using SessionOpener = std::function<std::unique_ptr<FtpInternetSession>(std::string agent)>;

    bool connected() const { return SessionHandle && engine.hasConnection(); }

    // Closes the connection, then the session; safe when neither is open.
    void CloseHandles();

    // Stores the request's values, empties RemotePath and opens the Internet
    // session with the site name as agent. False when it cannot be opened.
    // An earlier connection is closed first.
    bool OpenSession(const ConnectRequest& request);

    // Connects and logs in with the stored values on the engine. On success
    // SearchPattern is the login folder's pattern, RemotePath the login
    // folder, and done gets the login folder.
    void ConnectServer(std::function<void(FtpResult<std::string>)> done);

    std::unique_ptr<FtpInternetSession> SessionHandle;
    FtpEngine engine;  // holds the connection handle on its worker
    std::string ServerAddress;
    std::string LoginName;
    std::string LoginPassword;
    std::uint16_t ServerPort = 0;
    bool Passive = true;
    std::string RemotePath;
    std::string SearchPattern;

    FtpTimeouts timeouts;
    // Replaceable so tests can make the session fail to open.
    SessionOpener sessionOpener = &FtpInternetSession::Open;

private:
    std::string m_agent;
};

}  // namespace quill
