#pragma once

#include "FtpListParser.h"
#include "ServerTrust.h"
#include "common/FileWrite.h"

#include <atomic>
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

class FtpLink;

// The FTP transport: an Internet session and connections to servers over
// libcurl. It knows nothing of windows; failures come back as values.
//
// Remote paths are absolute ("/" first) and passed as bytes; they go on the
// wire percent-escaped per segment so blanks, '%', '#' and non-ASCII bytes
// reach the server unchanged.

// What went wrong, for the window to report without reading curl's codes.
enum class FtpErrorKind {
    Failed,     // any other failure; the text says what
    Refused,    // the server refused: the connection, the login or the command
    NotFound,   // the folder or file is not there
    TimedOut,   // the server stayed silent, or the deadline passed
    Stopped,    // the user stopped it
    TooLarge,   // more data than the limit allows
    Dropped,    // the connection broke; a command may or may not have run
    Local,      // a local file could not be read or written; the text names it
    Untrusted,  // the server's certificate or host key is not trusted: see FtpError::key
};

// How the connection talks to the server: plain FTP, FTP with explicit TLS
// (AUTH TLS, control and data encrypted) or SFTP over SSH.
enum class FtpProtocol { Ftp, Ftps, Sftp };

// "FTP", "FTPS", "SFTP".
std::string_view ProtocolName(FtpProtocol protocol);
// 21 for FTP and FTPS, 22 for SFTP.
std::uint16_t DefaultPort(FtpProtocol protocol);
// The protocol of a name ("ftp", "FTPS", "sftp"; any case), nullopt otherwise.
std::optional<FtpProtocol> ProtocolFromName(std::string_view name);

struct FtpError {
    int curlCode = 0;
    // curl's description and, when the server answered, its last reply.
    std::string text;
    FtpErrorKind kind = FtpErrorKind::Failed;
    // A file transfer failed after the server had opened the remote file
    // (RETR or STOR answered), so the failure is the file's, not the path's.
    bool opened = false;
    // Set with FtpErrorKind::Untrusted.
    std::optional<FtpServerKey> key = std::nullopt;
    // An upload that failed after it began went to a temporary name, so the
    // server's file under the real name is as it was.
    bool targetIntact = false;
};

// What the server tells of one file. exists is false when it has no file of
// that name; size and modified are -1 where it does not say.
struct FtpFileInfo {
    bool exists = false;
    std::int64_t size = -1;
    std::int64_t modified = -1;  // seconds since 1970, UTC
};

// Transfers in both directions write under a temporary name beside the
// target first (kTransferTempPrefix, a random or hashed part,
// kTransferTempSuffix).
// Smaller uploads start over after a break instead of resuming.
inline constexpr std::int64_t kResumableUploadBytes = std::int64_t{1} << 20;

template <typename T>
using FtpResult = std::expected<T, FtpError>;

struct FtpTimeouts {
    // Both bound the wait for the TCP connection, the greeting and the login,
    // so a server that accepts and then stays silent fails within ~15 s.
    long connectSeconds = 15;
    long serverResponseSeconds = 15;
    // A data transfer slower than 1 byte/s for this long is abandoned.
    long lowSpeedSeconds = 20;
    // Servers drop idle sessions after about 60 s; the engine's keep-alive
    // comes every 50 s, and a connection idle for longer is not trusted.
    long maxConnectionAgeSeconds = 55;
    // A listing that has not ended by then (a server dripping it) is dropped.
    long listingSeconds = 300;
    // Room for the most entries a listing keeps (1,000,000 lines of LIST
    // are ~70 MB); an endless listing stops here, or at listingSeconds.
    std::size_t listingMaxBytes = std::size_t{256} << 20;
};

struct FtpConnectParams {
    FtpProtocol protocol = FtpProtocol::Ftp;
    std::string host;
    std::uint16_t port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    // Holds the remembered host keys ("known_hosts") and accepted
    // certificates ("known_certificates"); empty remembers nothing.
    std::filesystem::path trustFolder;
    // The fingerprint the user accepted for this server after being asked:
    // a key showing it is trusted and remembered. Never overrides a key that
    // changed.
    std::string acceptedFingerprint;
    FtpTimeouts timeouts;
    // Set from another thread to stop the running operation; may be null.
    const std::atomic<bool>* stop = nullptr;
};

using FtpEntrySink = std::function<void(std::vector<FtpFindData>&& entries)>;

// A folder listing: the entries that could be read, in the server's order,
// and the lines left out (the first few kept, all counted).
struct FtpListing {
    std::vector<FtpFindData> entries;
    std::vector<SkippedListLine> skipped;
    std::size_t skippedCount = 0;
    // The listing held more than FtpListReader::kMaxEntries entries.
    bool cut = false;
};

// The network library, made ready once for the whole program, and the
// program's name as it introduces itself.
class NetworkLibrary {
public:
    // nullptr when the network library cannot be initialised.
    static std::unique_ptr<NetworkLibrary> Open(std::string agent);
    const std::string& agent() const { return m_agent; }

private:
    explicit NetworkLibrary(std::string agent) : m_agent(std::move(agent)) {}
    std::string m_agent;
};

// One logged-in connection to a server: one curl easy handle, so every
// operation reuses the logged-in control connection (libcurl logs in again
// by itself when the server dropped it). Not thread-safe: one thread (the
// FTP engine's worker) uses it at a time.
class FtpConnection {
public:
    // Connects and logs in; the result holds a live, logged-in connection.
    static FtpResult<std::unique_ptr<FtpConnection>> Connect(const NetworkLibrary& session,
                                                             FtpConnectParams params);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // The folder the server put the login in (its answer to PWD), "" when it
    // gave none.
    const std::string& CurrentDirectory() const { return m_loginFolder; }

    // "" unless a key the user accepted could not be written to the trust
    // folder; then why, for the log.
    const std::string& TrustNote() const;

    // True when the server offers MLSD (its FEAT lists MLST).
    bool UsesMlsd() const;
    // False: a large upload cut off removes its temp file like a small one
    // does, for callers that will not upload it again on this connection.
    void KeepUnfinishedUploads(bool keep);
    // FEAT lists "REST STREAM": uploads can resume.
    bool CanResumeUploads() const;
    // FEAT lists UTF8; "OPTS UTF8 ON" was sent on each login.
    bool UsesUtf8() const;

    // Log lines the operations left since the last call (a connection
    // re-established, a temporary file kept or removed, a resume).
    std::vector<std::string> TakeNotes();

    // Keeps an idle connection open: NOOP over FTP, a cheap request over
    // SFTP. A connection the server had dropped is made again.
    FtpResult<void> KeepAlive();
    // Opens a new connection and logs in again after one was lost.
    FtpResult<void> Reconnect();

    // Size and time of a remote file; exists=false when there is none.
    FtpResult<FtpFileInfo> FileInfo(std::string_view path);

    // Lists the entries of the folder part of pattern ("/www/*.*") whose
    // names match the mask part, case-insensitively; "*.*" matches every
    // name. MLSD where the server offers it, LIST otherwise. An empty folder
    // gives an empty list; a missing one fails with NotFound.
    // With a sink, the entries go to it in batches while the listing arrives
    // (on the calling thread), and the result holds only the lines left out.
    // withHidden asks a LIST for names starting with a dot too ("LIST -a");
    // MLSD and SFTP always give them.
    FtpResult<FtpListing> ListFolder(std::string_view pattern, const FtpEntrySink& sink = {},
                                     bool withHidden = false);

    // A command that changes the server is sent once: when the connection
    // breaks after it went out, the error is Dropped and nothing is retried.
    FtpResult<void> CreateDirectory(std::string_view path);
    FtpResult<void> RemoveDirectory(std::string_view path);
    FtpResult<void> DeleteFile(std::string_view path);
    FtpResult<void> RenameFile(std::string_view from, std::string_view to);
    // "SITE CHMOD 644 /path"; the result is the server's reply. FTP only.
    FtpResult<std::string> SiteCommand(std::string_view command);
    // Sets a remote file's permission bits ("644"); SITE CHMOD over FTP,
    // SFTP's own chmod. The result is the server's reply, or a line saying
    // what was done when the protocol has no replies.
    FtpResult<std::string> ChangeMode(std::string_view path, std::string_view mode);

    FtpProtocol protocol() const;

    // The address for an absolute remote path, for the transfer code.
    std::string UrlFor(std::string_view path) const;

    // File transfers stream between the disk and the connection in curl's
    // own buffer sizes; moved (may be null) holds the bytes of this file
    // in place so far, for another thread to read. The result is the file's
    // size once done. known is what FileInfo said of the remote file just
    // before (it is asked when null).
    //
    // A download goes through a ReplacingFile: a temp file in the folder of
    // the file localFile names (links followed), which replaces it only once
    // the whole file arrived with the size the server gave. localFile is
    // never touched on a failure. A download cut off by a stop or a lost
    // connection keeps its temp file, and the next download of the same
    // remote file (same size and time) resumes it.
    FtpResult<std::int64_t> DownloadFile(std::string_view remotePath,
                                         const std::filesystem::path& localFile,
                                         std::atomic<std::int64_t>* moved = nullptr,
                                         const FtpFileInfo* known = nullptr);
    // An upload over an existing file (or of 1 MiB or more) goes to a temp
    // name in the same folder and is renamed over remotePath at the end, so
    // a failure leaves the server's file as it was. Where the server
    // refuses the temp name the file is written in place; where it refuses
    // to rename onto a file, the target is deleted first. A large upload
    // cut off by a stop or a lost connection keeps its temp file on the
    // server, and the next upload of the same local file resumes it.
    FtpResult<std::int64_t> UploadFile(const std::filesystem::path& localFile,
                                       std::string_view remotePath,
                                       std::atomic<std::int64_t>* moved = nullptr,
                                       const FtpFileInfo* known = nullptr);

private:
    explicit FtpConnection(std::unique_ptr<FtpLink> impl);
    // What the caller knew of a remote file, else what the server says;
    // nullopt when it would not say. Fails only on a stop.
    FtpResult<std::optional<FtpFileInfo>> describe(std::string_view path, const FtpFileInfo* known);
    FtpResult<void> renameOver(std::string_view from, std::string_view to, bool& targetGone);
    FtpResult<std::int64_t> uploadTo(int fd, std::int64_t size, std::int64_t offset,
                                     std::string_view remotePath, std::atomic<std::int64_t>* moved);
    void removeLeftover(const std::string& temp, bool cleanUp);

    std::unique_ptr<FtpLink> m_impl;
    std::string m_loginFolder;
};

// Pure helpers, exposed for tests.

// Windows-style match: '*' any run, '?' one character, ASCII letters
// compared without case; "*" and "*.*" match everything.
bool FtpMaskMatches(std::string_view mask, std::string_view name);

// "/a b/c/" -> "%2Fa%20b/c/": the path part of an address, each segment
// escaped, absolute regardless of the login folder.
std::string EscapeRemotePath(std::string_view absolutePath);

}  // namespace quill
