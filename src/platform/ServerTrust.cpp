#include "ServerTrust.h"

#include "common/FileWrite.h"
#include "common/TextOps.h"

#include <openssl/evp.h>

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

}  // namespace quill
