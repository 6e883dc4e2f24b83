#pragma once

#include "CurlExchange.h"
#include "FtpConnection.h"
#include "ServerTrust.h"
#include "common/TextOps.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

class FtpLink;

inline bool HoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// libcurl refuses a path holding a control byte once it is in an address.
inline FtpError ControlCharacterError() {
    return FtpError{CURLE_URL_MALFORMAT,
                    "The name holds a control character, which the network library cannot "
                    "put in an address; rename it on the server first",
                    FtpErrorKind::Failed};
}

inline FtpError LineBreakError(const char* what) {
    return FtpError{CURLE_URL_MALFORMAT, what, FtpErrorKind::Failed};
}

// What differs between FTP (with or without TLS) and SFTP on one link: the
// options, the login, the addresses and the commands that change the server.
class LinkProtocol {
public:
    virtual ~LinkProtocol() = default;

    // This protocol's options on a freshly reset handle; false when the
    // trust checks cannot be put in place, and then nothing may be sent.
    virtual bool applyOptions(CURL* curl) = 0;
    // Logs in the first time; the result is the login folder, or "".
    virtual FtpResult<std::string> logIn() = 0;
    // The finished operation logged in anew.
    virtual bool loggedIn(CURLcode code, long newConnections) const = 0;
    // An address whose request logs in and does nothing more.
    virtual std::string homeUrl() const = 0;
    // The address of an absolute remote path.
    virtual std::string urlFor(std::string_view path) const = 0;
    // The listing command for curl, or null for its own (LIST; SFTP's readdir).
    virtual const char* listCommand(bool withHidden) const = 0;
    // The server's reply is what a failure is best explained by.
    virtual bool hasReplies() const = 0;
    virtual bool canResumeUploads() const = 0;
    // Sets an upload up to go on from offset of a size-byte file; prequote
    // is the caller's to free after the transfer.
    virtual void startUploadAt(CURL* curl, std::int64_t offset, std::int64_t size,
                               curl_seek_callback seek, void* seekData,
                               curl_slist*& prequote) const = 0;
    // The server had opened the upload's target when it failed: touched,
    // curl asked for data; brokeOff, the transfer was cut off.
    virtual bool uploadOpened(bool touched, bool brokeOff) const = 0;
    // The failed upload's name was refused (not the disk, say).
    virtual bool uploadNameRefused(const FtpError& error) const = 0;

    virtual FtpResult<void> keepAlive() = 0;
    virtual FtpResult<void> createDirectory(std::string_view path) = 0;
    virtual FtpResult<void> removeDirectory(std::string_view path) = 0;
    virtual FtpResult<void> deleteFile(std::string_view path) = 0;
    virtual FtpResult<void> renameFile(std::string_view from, std::string_view to) = 0;
    virtual FtpResult<std::string> siteCommand(std::string_view command) = 0;
    virtual FtpResult<std::string> changeMode(std::string_view path, std::string_view mode) = 0;
};

std::unique_ptr<LinkProtocol> MakeLinkProtocol(FtpLink& link);

// One connection to a server as the transfer code uses it: the curl
// exchange, the settings, what the server offered, and the rule for trying
// an operation again on a connection the server had dropped while idle.
class FtpLink : public CurlExchange {
public:
    explicit FtpLink(FtpConnectParams connectParams);

    FtpConnectParams params;
    std::string baseUrl;  // "ftp://host:port/" or "sftp://host:port/"
    ServerTrustCheck trust;
    std::unique_ptr<LinkProtocol> protocol;
    // Why the running transfer was aborted by one of our callbacks.
    bool tooLarge = false;
    // What FEAT offered.
    bool mlsd = false;
    bool restStream = false;
    bool utf8 = false;
    // Logged in once: a new connection after that is a re-established one.
    bool established = false;
    bool optsPending = false;
    // Cleaning up after a stop must still reach the server.
    bool ignoreStop = false;
    // Large uploads cut off keep their temp file, to be resumed.
    bool keepUnfinished = true;
    // Servers such as vsftpd take a data connection only when it resumes
    // the login's TLS session. Over TLS 1.3 this libcurl also keeps the
    // data connections' session tickets, and now and then a data connection
    // offers a used-up one and is refused ("522"); TLS 1.2 resumes the one
    // session every time, so after such a refusal the connection is made
    // again with it.
    bool tls12 = false;
    bool tls12Refused = false;
    bool tlsSwitched = false;  // the attempt running is the first with TLS 1.2
    bool freshNext = false;
    std::vector<std::string> notes;
    // Temporary names of uploads cut off, by target and local file, so the
    // next upload of the same file resumes.
    std::map<std::string, std::string> uploadParts;
    // Partial downloads in each local folder used, read once per folder.
    std::map<std::string, std::set<std::string>> partials;

    bool sftp() const { return params.protocol == FtpProtocol::Sftp; }
    bool stopRequested() const;
    std::set<std::string>& partialsIn(const std::filesystem::path& folder);

    // Runs one operation. When it failed on a reused connection in a way
    // that says the server had dropped it while idle, it runs once more,
    // but only if mayRetry says nothing of it can have reached the server.
    FtpResult<void> perform(const std::function<void()>& setup,
                            const std::function<void()>& beforeAttempt = {},
                            const std::function<bool()>& mayRetry = {});
    FtpError errorFor(CURLcode code) const;
    // A transfer the server ended with an error reply (a full disk, say)
    // did not lose its connection, whatever curl's code says.
    void keepServerFailure(FtpError& error) const;
    // Servers that convert names to another code page stop doing so.
    void sendUtf8On();

private:
    bool applyCommonOptions();
    void noteNewLogin(CURLcode code, long newConnections, bool asked);
};

}  // namespace quill
