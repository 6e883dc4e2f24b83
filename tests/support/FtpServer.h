#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quill::test {

struct FtpServerOptions {
    std::string user = "user";
    std::string password = "secret";
    // Folder (below the root) the user is in after login; PWD answers it.
    std::string loginDir = "/";
    int idleTimeoutSeconds = 300;
    // Control connections served at once; 0 = the server's default.
    int maxConnections = 0;
    // Raw LIST and MLSD lines added to the root folder's listing.
    std::vector<std::string> extraListLines;
    std::vector<std::string> extraMlsdLines;
    // Leave MLST/MLSD out of the server, so clients use LIST.
    bool noMlst = false;
    // Misbehaviour: wait this long before each listing line; never end a
    // listing; answer PASV and then nothing; carry out this command (e.g.
    // "DELE") and close the connection without a reply.
    double dripSeconds = 0;
    bool endlessListing = false;
    bool stallAfterPasv = false;
    std::string dropAfter;
    // Close the connection once a RETR has sent this many bytes (-1 = never);
    // answer this command (e.g. "STOR") with 550; limit each data connection
    // to this many bytes a second (0 = no limit).
    long long dropAfterBytes = -1;
    std::string refuse;
    long rateBytesPerSecond = 0;
    // Answer an RNTO onto an existing file with 550 and rename nothing;
    // answer STOR, APPE, RNFR and RNTO of a name starting with "." with 553
    // before any data moves.
    bool refuseRenameOntoExisting = false;
    bool refuseHiddenNames = false;
    // Disk full: keep the first this many bytes an upload (STOR, APPE)
    // sends, read and drop the rest, then answer 452; an upload of at most
    // this many bytes succeeds (-1 = never).
    long long diskFullAfterBytes = -1;
    // Close the connection once an upload has received this many bytes,
    // which stay in the file (-1 = never).
    long long dropUploadAfterBytes = -1;
    // Close the control connection right after the 226 of its K-th file
    // transfer (RETR, STOR, APPE) (0 = never).
    int dropControlAfterTransfers = 0;
    // dropAfterBytes, dropUploadAfterBytes and dropControlAfterTransfers
    // act the first time they trigger only, so a retry succeeds.
    bool dropOnce = false;
    // Every command line received is appended here (PASS as "PASS ****").
    std::filesystem::path commandLog;
    // Explicit FTPS with this certificate and key (PEM; the key may be in the
    // certificate file): AUTH TLS and PROT P required, no clear text
    // accepted. Empty = plain FTP.
    std::filesystem::path tlsCertificate;
    std::filesystem::path tlsKey;
};

// A real pyftpdlib FTP (or FTPS) server on 127.0.0.1, serving root, started in the
// constructor (which waits until it listens) and stopped by its PID in the
// destructor.
class FtpServer {
public:
    explicit FtpServer(std::filesystem::path root, FtpServerOptions options = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    const FtpServerOptions& options() const { return m_options; }

private:
    FtpServerOptions m_options;
    pid_t m_pid = -1;
    int m_port = 0;
};

// A TCP listener on 127.0.0.1 that never accepts: the connection completes in
// the kernel and then no FTP greeting ever comes.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 where nothing listens.
int ClosedPort();

}  // namespace quill::test
