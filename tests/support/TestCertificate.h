#pragma once

#include <filesystem>
#include <string>

namespace quill::test {

struct TestCertificate {
    std::filesystem::path certificate;  // PEM
    std::filesystem::path key;          // PEM, not encrypted
    // SHA-256 of the certificate as openssl prints it: "AB:CD:...".
    std::string fingerprint;
};

// A new self-signed certificate for localhost and 127.0.0.1 (EC P-256, one
// year) written as <name>.crt and <name>.key in folder, made by the openssl
// tool. Every call makes a new key, so two calls give two certificates.
TestCertificate MakeTestCertificate(const std::filesystem::path& folder, const std::string& name);

}  // namespace quill::test
