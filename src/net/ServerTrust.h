#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quill {

// What the program remembers of the servers the user has trusted: SSH host
// keys in an OpenSSH known-hosts file (which libcurl reads), and accepted
// TLS certificates, one "host:port fingerprint" line each. Both files are
// the user's own (0600) and are replaced whole, never left half written.

// The certificate (FTPS) or host key (SFTP) a server showed that is not
// trusted yet, or no longer.
struct FtpServerKey {
    // "SHA256:<base64>" for a host key, as ssh-keygen prints it;
    // "AB:CD:..." (SHA-256 of the certificate) for a certificate.
    std::string fingerprint;
    // "ssh-ed25519", "ssh-rsa", ... or "certificate".
    std::string type;
    // "host:port" as remembered.
    std::string server;
    // Another key is remembered for this server: the key changed.
    bool changed = false;
    // Why a certificate did not verify ("self-signed certificate"); "" for
    // host keys.
    std::string reason;
};

inline constexpr const char* kKnownHostsFile = "known_hosts";
inline constexpr const char* kKnownCertificatesFile = "known_certificates";

// "SHA256:" and the unpadded base64 of the key blob's SHA-256, as
// ssh-keygen -l prints it.
std::string SshKeyFingerprint(std::string_view keyBlob);

// The SHA-256 of a certificate's DER bytes as upper-case hex pairs with
// colons, as openssl x509 -fingerprint prints it.
std::string CertificateFingerprint(std::string_view der);

// The key type an SSH key blob names first ("ssh-ed25519"), "" when the blob
// is too short to hold one.
std::string SshKeyType(std::string_view keyBlob);

// How known-hosts files name a server: the host alone on port 22,
// "[host]:port" otherwise.
std::string KnownHostsName(std::string_view host, std::uint16_t port);

// "host:port" (an IPv6 address in brackets), how messages and the
// certificate file name a server.
std::string ServerName(std::string_view host, std::uint16_t port);

// Adds "name type base64" for the key to the known-hosts file.
std::expected<void, std::string> RememberHostKey(const std::filesystem::path& file,
                                                 std::string_view knownHostsName,
                                                 std::string_view keyBlob);

// The fingerprint remembered for server in the certificate file, if any.
std::optional<std::string> RememberedCertificate(const std::filesystem::path& file,
                                                 std::string_view server);

// Remembers fingerprint for server, replacing an earlier line for it.
std::expected<void, std::string> RememberCertificate(const std::filesystem::path& file,
                                                     std::string_view server,
                                                     std::string_view fingerprint);

// Decides, while a connection is made, whether the server is trusted: a
// certificate that the system's store and the host name vouch for, or a key
// in the known-hosts file, or one the user accepted (remembered then). A key
// that differs from the one remembered is never trusted here.
class ServerTrustCheck {
public:
    std::string host;
    std::uint16_t port = 0;
    // Holds kKnownHostsFile and kKnownCertificatesFile; empty remembers nothing.
    std::filesystem::path trustFolder;
    // The fingerprint the user accepted for this server after being asked.
    std::string acceptedFingerprint;

    // What the last check refused, for the error; reset before each attempt.
    std::optional<FtpServerKey> untrusted;
    // Why an accepted key could not be remembered, for the log.
    std::string note;

    // Puts the certificate check on a handle (after each curl_easy_reset);
    // false when this libcurl cannot take it, and then nothing may be sent.
    bool checkCertificates(void* curl);
    // Puts the host-key check on a handle.
    void checkHostKeys(void* curl);

private:
    std::filesystem::path trustFile(const char* name) const;
    bool trustCertificate(const std::string& fingerprint, std::string reason);
    void noteIfFailed(const std::expected<void, std::string>& remembered);
    friend struct TrustCallbacks;
};

}  // namespace quill
