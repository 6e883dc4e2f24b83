#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// The FTP transport: an Internet session and connections to servers over
// libcurl. It knows nothing of windows; failures come back as values.
//
// Remote paths are absolute ("/" first) and passed as bytes; they go on the
// wire percent-escaped per segment so blanks, '%', '#' and non-ASCII bytes
// reach the server unchanged.

struct FtpError {
    int curlCode = 0;
    // curl's description and, when the server answered, its last reply.
    std::string text;
};

template <typename T>
using FtpResult = std::expected<T, FtpError>;

// Calendar fields of a listed time, as the server wrote them (no time zone
// conversion).
struct FtpFileTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// One entry of a folder listing: name (bytes, as the server sent it), folder
// flag, size in bytes and, when the listing line carried one, the time.
struct FtpFindData {
    std::string name;
    bool folder = false;
    std::int64_t size = 0;
    std::optional<FtpFileTime> lastWrite;
};

struct FtpTimeouts {
    // Both bound the wait for the TCP connection, the greeting and the login,
    // so a server that accepts and then stays silent fails within ~15 s.
    long connectSeconds = 15;
    long serverResponseSeconds = 15;
    // A data transfer slower than 1 byte/s for this long is abandoned.
    long lowSpeedSeconds = 20;
    // Servers drop idle sessions after about 60 s; reconnect before that.
    long maxConnectionAgeSeconds = 50;
};

struct FtpConnectParams {
    std::string host;
    std::uint16_t port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    FtpTimeouts timeouts;
};

// Stand-in for the Internet session handle. Opening initialises libcurl.
class FtpInternetSession {
public:
    // nullptr when the network library cannot be initialised.
    static std::unique_ptr<FtpInternetSession> Open(std::string agent);
    const std::string& agent() const { return m_agent; }

private:
    explicit FtpInternetSession(std::string agent) : m_agent(std::move(agent)) {}
    std::string m_agent;
};

// Stand-in for the connection handle: one curl easy handle, so every
// operation reuses the logged-in control connection (libcurl logs in again
// by itself when the server dropped it). Not thread-safe; a file transfer
// will own the connection on a worker thread while it runs.
class FtpConnection {
public:
    // Connects and logs in; the result holds a live, logged-in connection.
    static FtpResult<std::unique_ptr<FtpConnection>> Connect(const FtpInternetSession& session,
                                                             FtpConnectParams params);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // The folder the server put the login in (its answer to PWD), "" when it
    // gave none.
    const std::string& CurrentDirectory() const { return m_loginFolder; }

    // Lists the entries of the folder part of pattern ("/www/*.*") whose
    // names match the mask part, case-insensitively; "*.*" matches every
    // name. An empty or missing folder gives an empty list.
    FtpResult<std::vector<FtpFindData>> FindFiles(std::string_view pattern);

    FtpResult<void> CreateDirectory(std::string_view path);
    FtpResult<void> RemoveDirectory(std::string_view path);
    FtpResult<void> DeleteFile(std::string_view path);
    FtpResult<void> RenameFile(std::string_view from, std::string_view to);

    // The address for an absolute remote path, for the transfer code.
    std::string UrlFor(std::string_view path) const;

private:
    struct Impl;
    explicit FtpConnection(std::unique_ptr<Impl> impl);
    FtpResult<void> quote(const std::vector<std::string>& commands, int lastExpectedClass);

    std::unique_ptr<Impl> m_impl;
    std::string m_loginFolder;
};

// Pure helpers, exposed for tests.

// Windows-style match: '*' any run, '?' one character, ASCII letters
// compared without case; "*" and "*.*" match everything.
bool FtpMaskMatches(std::string_view mask, std::string_view name);

// Parses the time text of a Unix ("Dec 08 01:20", "Jan 02  2020") or DOS
// ("12-08-26  01:28AM") listing line. A Unix time without a year is in the
// year that puts it at most a day after today (todayYear/Month/Day).
std::optional<FtpFileTime> ParseListingTime(std::string_view text, int todayYear, int todayMonth,
                                            int todayDay);

// "/a b/c/" -> "%2Fa%20b/c/": the path part of an address, each segment
// escaped, absolute regardless of the login folder.
std::string EscapeRemotePath(std::string_view absolutePath);

}  // namespace quill
