#include "TestCertificate.h"

#include <stdexcept>

#include "ChildProcess.h"

namespace quill::test {

TestCertificate MakeTestCertificate(const std::filesystem::path& folder, const std::string& name) {
    TestCertificate made{folder / (name + ".crt"), folder / (name + ".key"), {}};
    const auto generated =
        RunProgram({"/usr/bin/openssl", "req", "-x509", "-batch", "-noenc", "-newkey", "ec",
                    "-pkeyopt", "ec_paramgen_curve:prime256v1", "-keyout", made.key.string(),
                    "-out", made.certificate.string(), "-days", "365", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    if (generated.exitCode != 0) {
        throw std::runtime_error("openssl cannot make a certificate: " + generated.output);
    }
    // "sha256 Fingerprint=AB:CD:...\n"
    const auto printed = RunProgram({"/usr/bin/openssl", "x509", "-noout", "-fingerprint",
                                     "-sha256", "-in", made.certificate.string()});
    const auto equals = printed.output.find('=');
    if (printed.exitCode != 0 || equals == std::string::npos) {
        throw std::runtime_error("openssl cannot read the certificate: " + printed.output);
    }
    made.fingerprint = printed.output.substr(equals + 1);
    made.fingerprint.erase(made.fingerprint.find_last_not_of("\r\n") + 1);
    return made;
}

}  // namespace quill::test
