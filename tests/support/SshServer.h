#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "TestFiles.h"

namespace quill::test {

struct SshServerOptions {
    // The folder an SFTP session starts in ("." and "~" there; absolute
    // paths still name the whole machine). Must lie below the system temp
    // folder (a TempDir): the account is made its owner.
    std::filesystem::path root;
    // A system account made when missing; its password is set on every start.
    std::string user = "qmtest";
    std::string password = "secret";
    // The ed25519 host key (private key file, its public key beside it with
    // ".pub"); made there when missing, so the same path gives the same key.
    // Empty: a new key for this server only.
    std::filesystem::path hostKey;
    // 0 = a free loopback port; a given port lets a test restart the server
    // on it with another key.
    int port = 0;
};

// A real OpenSSH sshd on 127.0.0.1 serving SFTP only, with a config of its
// own, password login for one account and nothing else. Started in the
// constructor (which waits for its "SSH-2.0" greeting) and stopped, with its
// sessions, by PID in the destructor. Needs root (for sshd and the account):
// check Available() first and skip the test when it says no.
class SshServer {
public:
    explicit SshServer(SshServerOptions options);
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // Whether sshd, ssh-keygen and the account tools are there and this
    // process may use them; why not when it may not.
    static bool Available(std::string* why = nullptr);

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    const SshServerOptions& options() const { return m_options; }
    // As `ssh-keygen -lf` prints it: "SHA256:<base64 without padding>".
    const std::string& hostKeyFingerprint() const { return m_fingerprint; }
    const std::filesystem::path& hostKeyPath() const { return m_hostKey; }
    // The public key line: "ssh-ed25519 AAAA... comment".
    const std::string& hostPublicKey() const { return m_publicKey; }
    // What sshd has logged so far.
    std::string log() const;
    // Gives everything below root to the account again, for files a test
    // wrote there after the start, so a session may replace them.
    void giveRootToUser() const;

private:
    bool start();

    SshServerOptions m_options;
    TempDir m_dir;
    std::filesystem::path m_hostKey;
    std::string m_fingerprint;
    std::string m_publicKey;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace quill::test
