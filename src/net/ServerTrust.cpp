#include "ServerTrust.h"

#include "common/FileWrite.h"
#include "common/TextOps.h"

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quill {
namespace {

std::array<unsigned char, 32> sha256(std::string_view bytes) {
    std::array<unsigned char, 32> digest{};
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::string base64(const unsigned char* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return out;
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool isIpv6(std::string_view host) {
    return host.find(':') != std::string_view::npos;
}

}  // namespace

std::string SshKeyFingerprint(std::string_view keyBlob) {
    const auto digest = sha256(keyBlob);
    std::string text = base64(digest.data(), digest.size());
    while (!text.empty() && text.back() == '=') {
        text.pop_back();
    }
    return "SHA256:" + text;
}

std::string CertificateFingerprint(std::string_view der) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char byte : sha256(der)) {
        if (!text.empty()) {
            text += ':';
        }
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

std::string SshKeyType(std::string_view keyBlob) {
    if (keyBlob.size() < 4) {
        return {};
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(keyBlob[i]); };
    const std::size_t length = (std::size_t{byte(0)} << 24) | (std::size_t{byte(1)} << 16) |
                               (std::size_t{byte(2)} << 8) | byte(3);
    if (length == 0 || length > 64 || length > keyBlob.size() - 4) {
        return {};
    }
    std::string type(keyBlob.substr(4, length));
    for (const char c : type) {
        if (c <= ' ' || c > '~') {
            return {};
        }
    }
    return type;
}

std::string KnownHostsName(std::string_view host, std::uint16_t port) {
    if (port == 22) {
        return std::string(host);
    }
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

std::string ServerName(std::string_view host, std::uint16_t port) {
    const std::string shown = isIpv6(host) ? "[" + std::string(host) + "]" : std::string(host);
    return shown + ":" + std::to_string(port);
}

std::expected<void, std::string> RememberHostKey(const std::filesystem::path& file,
                                                 std::string_view knownHostsName,
                                                 std::string_view keyBlob) {
    const std::string type = SshKeyType(keyBlob);
    if (type.empty() || knownHostsName.find_first_of(" \t\r\n") != std::string_view::npos) {
        return std::unexpected("The host key cannot be remembered: it is not a valid key");
    }
    std::string text = readAll(file);
    if (!text.empty() && text.back() != '\n') {
        text += '\n';
    }
    text += std::string(knownHostsName) + " " + type + " " +
            base64(reinterpret_cast<const unsigned char*>(keyBlob.data()), keyBlob.size()) + "\n";
    return WriteFileReplacing(file, text, 0600);
}

std::optional<std::string> RememberedCertificate(const std::filesystem::path& file,
                                                 std::string_view server) {
    std::istringstream lines(readAll(file));
    std::string name;
    std::string fingerprint;
    std::optional<std::string> found;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        if (fields >> name >> fingerprint && name == server) {
            found = fingerprint;
        }
    }
    return found;
}

std::expected<void, std::string> RememberCertificate(const std::filesystem::path& file,
                                                     std::string_view server,
                                                     std::string_view fingerprint) {
    if (server.empty() || server.find_first_of(" \t\r\n") != std::string_view::npos ||
        fingerprint.find_first_of(" \t\r\n") != std::string_view::npos) {
        return std::unexpected("The certificate cannot be remembered for this server name");
    }
    std::istringstream lines(readAll(file));
    std::string text;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name;
        if (fields >> name && name == server) {
            continue;
        }
        text += line + "\n";
    }
    text += std::string(server) + " " + std::string(fingerprint) + "\n";
    return WriteFileReplacing(file, text, 0600);
}

std::filesystem::path ServerTrustCheck::trustFile(const char* name) const {
    return trustFolder.empty() ? std::filesystem::path{} : trustFolder / name;
}

bool ServerTrustCheck::trustCertificate(const std::string& fingerprint, std::string reason) {
    const std::string server = ServerName(host, port);
    const auto file = trustFile(kKnownCertificatesFile);
    const auto remembered = file.empty() ? std::nullopt : RememberedCertificate(file, server);
    if (remembered && *remembered == fingerprint) {
        return true;
    }
    if (!remembered && fingerprint == acceptedFingerprint) {
        if (!file.empty()) {
            noteIfFailed(RememberCertificate(file, server, fingerprint));
        }
        return true;
    }
    untrusted =
        FtpServerKey{fingerprint, "certificate", server, remembered.has_value(), std::move(reason)};
    return false;
}

void ServerTrustCheck::noteIfFailed(const std::expected<void, std::string>& remembered) {
    if (!remembered) {
        note = "The accepted key could not be remembered (" + remembered.error() +
               "); it will be asked about again next time";
    }
}

// curl's and OpenSSL's callbacks, with the check as their user data.
struct TrustCallbacks {
    static int verifyCertificate(X509_STORE_CTX* store, void* user);
    static CURLcode setUpTls(CURL*, void* context, void* user);
    static int checkHostKey(CURL*, const curl_khkey*, const curl_khkey* found,
                            enum curl_khmatch match, void* user);
};

// Replaces OpenSSL's check of the server's certificate: the system's store
// and the host name first, then what the user trusted.
int TrustCallbacks::verifyCertificate(X509_STORE_CTX* store, void* user) {
    auto* self = static_cast<ServerTrustCheck*>(user);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    unsigned char* der = nullptr;
    const int length = leaf ? i2d_X509(leaf, &der) : 0;
    if (length <= 0) {
        return 0;
    }
    const std::string fingerprint = CertificateFingerprint(
        std::string_view(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)));
    OPENSSL_free(der);
    const bool chainOk = X509_verify_cert(store) == 1;
    const std::string& host = self->host;
    const int ip = X509_check_ip_asc(leaf, host.c_str(), 0);
    const bool nameOk =
        ip == 1 || (ip == -2 && X509_check_host(leaf, host.data(), host.size(), 0, nullptr) == 1);
    if (chainOk && nameOk) {
        return 1;
    }
    std::string reason = chainOk ? "it is not made out to " + host
                                 : X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    if (!self->trustCertificate(fingerprint, std::move(reason))) {
        return 0;
    }
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

CURLcode TrustCallbacks::setUpTls(CURL*, void* context, void* user) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context),
                                     &TrustCallbacks::verifyCertificate, user);
    return CURLE_OK;
}

// libcurl has matched the host key against our known-hosts file.
int TrustCallbacks::checkHostKey(CURL*, const curl_khkey*, const curl_khkey* found,
                                 enum curl_khmatch match, void* user) {
    auto* self = static_cast<ServerTrustCheck*>(user);
    if (found == nullptr || found->len == 0) {
        return CURLKHSTAT_REJECT;
    }
    const std::string_view blob(found->key, found->len);
    if (match == CURLKHMATCH_OK) {
        return CURLKHSTAT_FINE;
    }
    const std::string fingerprint = SshKeyFingerprint(blob);
    if (match == CURLKHMATCH_MISSING && fingerprint == self->acceptedFingerprint) {
        if (const auto file = self->trustFile(kKnownHostsFile); !file.empty()) {
            self->noteIfFailed(RememberHostKey(file, KnownHostsName(self->host, self->port), blob));
        }
        return CURLKHSTAT_FINE;
    }
    self->untrusted =
        FtpServerKey{fingerprint, SshKeyType(blob), ServerName(self->host, self->port),
                     match == CURLKHMATCH_MISMATCH, ""};
    return CURLKHSTAT_REJECT;
}

bool ServerTrustCheck::checkCertificates(void* curl) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    // verifyCertificate checks the name, so a trusted key may carry another one.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this);
    return curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &TrustCallbacks::setUpTls) == CURLE_OK;
}

void ServerTrustCheck::checkHostKeys(void* curl) {
    // libcurl asks about the host key only with a known-hosts file.
    const auto knownHosts = trustFile(kKnownHostsFile);
    curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS,
                     knownHosts.empty() ? "/dev/null" : knownHosts.c_str());
    curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, &TrustCallbacks::checkHostKey);
    curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, this);
}

}  // namespace quill
