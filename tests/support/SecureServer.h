#pragma once

#include "FtpServer.h"
#include "SshServer.h"
#include "TestFiles.h"
#include "net/FtpConnection.h"

#include <filesystem>
#include <memory>
#include <string>

namespace quill::test {

// An ed25519 host key (base64 of its blob) and the fingerprint ssh-keygen -l
// gives for it; no test server uses it.
inline constexpr const char* kOtherKeyBase64 =
    "AAAAC3NzaC1lZDI1NTE5AAAAICdauvbILik88zEEcAxAxxxXhYpiNoG8pbRR2Sh/mk0H";
inline constexpr const char* kOtherKeyFingerprint =
    "SHA256:bhjfU2i3vKPbBhnhwFN4ELWfWZNt0tLnMB09PqzI1Bc";

std::string DecodeBase64(std::string_view text);

// One FTPS (pyftpdlib with a new test certificate) or SFTP (sshd with a new
// host key) server on loopback, with a trust folder of its own, for tests
// that run the same cases over both.
struct SecureServer {
    // Whether the protocol's server can run here; why not when it cannot.
    static bool Available(FtpProtocol protocol, std::string* why);

    explicit SecureServer(FtpProtocol protocol);

    FtpProtocol protocol;
    TempDir files;  // served; the login folder
    TempDir keys;   // certificate
    TempDir trust;  // the program's trust folder
    std::unique_ptr<FtpServer> ftps;
    std::unique_ptr<SshServer> sftp;
    std::string fingerprint;  // the key the server shows

    std::uint16_t port() const;
    std::string user() const { return ftps ? "user" : "qmtest"; }
    FtpConnectParams params(std::string accepted = {}, std::string password = "secret") const;
    // Remembers another key than the server's for it.
    void rememberOtherKey() const;
    // known_certificates or known_hosts in the trust folder.
    std::filesystem::path trustFile() const;
    // Files a test wrote into files after the start become the session's to
    // change (SFTP writes as its own account).
    void handOver() const;
};

}  // namespace quill::test
