#pragma once

#include "TestFiles.h"

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace quill::test {

// A real vsftpd on 127.0.0.1 with anonymous login (user "anonymous", any
// password) into a folder of its own, where "up" is writable. Run by this
// user it does not chroot: address files relative to the login folder. Started in
// the constructor (which waits until it listens), stopped with its sessions
// by PID in the destructor. extraConfig lines are appended to its settings.
class VsftpdServer {
public:
    explicit VsftpdServer(const std::string& extraConfig = {});
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    int port() const { return m_port; }
    // The login folder; uploads go below root() / "up".
    const std::filesystem::path& root() const { return m_root; }

private:
    TempDir m_dir;
    std::filesystem::path m_root;
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace quill::test
