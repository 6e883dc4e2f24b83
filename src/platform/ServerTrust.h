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

}  // namespace quill
