#include "VsftpdServer.h"

#include "ChildProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace quill::test {
namespace {

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot bind a loopback socket");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

VsftpdServer::VsftpdServer(const std::string& extraConfig)
    : m_root(m_dir / "root"), m_port(freePort()) {
    std::filesystem::create_directories(m_root / "up");
    // vsftpd refuses a writable anonymous root; only "up" is.
    std::filesystem::permissions(m_root, std::filesystem::perms(0755));
    std::filesystem::permissions(m_root / "up", std::filesystem::perms(0777));
    const auto config = m_dir / "vsftpd.conf";
    std::ofstream(config) << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                          << "listen_port=" << m_port << "\nbackground=NO\n"
                          << "run_as_launching_user=YES\nseccomp_sandbox=NO\n"
                          << "anonymous_enable=YES\nno_anon_password=YES\n"
                          << "anon_root=" << m_root.native() << "\nwrite_enable=YES\n"
                          << "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                          << "anon_other_write_enable=YES\nanon_umask=022\n"
                          << "local_enable=NO\nxferlog_enable=NO\nmax_per_ip=0\n"
                          << "max_clients=0\n"
                          << extraConfig;
    m_pid = StartProcess({"/usr/sbin/vsftpd", config.native()});
    for (int i = 0; i < 200 && !accepts(m_port); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!accepts(m_port)) {
        StopProcessTree(m_pid, std::chrono::milliseconds(500));
        throw std::runtime_error("vsftpd did not start");
    }
}

VsftpdServer::~VsftpdServer() {
    StopProcessTree(m_pid, std::chrono::milliseconds(2000));
}

}  // namespace quill::test
