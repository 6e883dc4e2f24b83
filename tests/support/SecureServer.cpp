#include "SecureServer.h"

#include "TestCertificate.h"
#include "net/ServerTrust.h"

#include <stdexcept>

namespace quill::test {

std::string DecodeBase64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        const auto value = kAlphabet.find(c);
        if (value == std::string_view::npos) {
            break;
        }
        bits = (bits << 6) | static_cast<unsigned>(value);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

bool SecureServer::Available(FtpProtocol protocol, std::string* why) {
    return protocol != FtpProtocol::Sftp || SshServer::Available(why);
}

SecureServer::SecureServer(FtpProtocol p) : protocol(p) {
    if (protocol == FtpProtocol::Ftps) {
        const auto certificate = MakeTestCertificate(keys.path(), "server");
        fingerprint = certificate.fingerprint;
        FtpServerOptions options;
        options.tlsCertificate = certificate.certificate;
        options.tlsKey = certificate.key;
        ftps = std::make_unique<FtpServer>(files.path(), options);
    } else if (protocol == FtpProtocol::Sftp) {
        SshServerOptions options;
        options.root = files.path();
        sftp = std::make_unique<SshServer>(options);
        fingerprint = sftp->hostKeyFingerprint();
    } else {
        throw std::invalid_argument("SecureServer serves FTPS or SFTP");
    }
}

std::uint16_t SecureServer::port() const {
    return static_cast<std::uint16_t>(ftps ? ftps->port() : sftp->port());
}

FtpConnectParams SecureServer::params(std::string accepted, std::string password) const {
    FtpConnectParams p;
    p.protocol = protocol;
    p.host = "127.0.0.1";
    p.port = port();
    p.user = user();
    p.password = std::move(password);
    p.trustFolder = trust.path();
    p.acceptedFingerprint = std::move(accepted);
    p.timeouts.connectSeconds = 5;
    p.timeouts.serverResponseSeconds = 5;
    return p;
}

void SecureServer::rememberOtherKey() const {
    const auto done =
        ftps ? RememberCertificate(trustFile(), ServerName("127.0.0.1", port()), "00:11:22")
             : RememberHostKey(trustFile(), KnownHostsName("127.0.0.1", port()),
                               DecodeBase64(kOtherKeyBase64));
    if (!done) {
        throw std::runtime_error(done.error());
    }
}

std::filesystem::path SecureServer::trustFile() const {
    return trust.path() / (ftps ? kKnownCertificatesFile : kKnownHostsFile);
}

void SecureServer::handOver() const {
    if (sftp) {
        sftp->giveRootToUser();
    }
}

}  // namespace quill::test
