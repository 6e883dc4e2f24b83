#include "FtpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "ChildProcess.h"

namespace quill::test {
namespace {

int boundSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind a loopback socket");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

FtpServer::FtpServer(std::filesystem::path root, FtpServerOptions options)
    : m_options(std::move(options)) {
    std::vector<std::string> args{"/usr/bin/python3", QUILLMINT_FTPSERVER_SCRIPT,
                                  "--root",           root.string(),
                                  "--user",           m_options.user,
                                  "--password",       m_options.password,
                                  "--login-dir",      m_options.loginDir,
                                  "--idle-timeout",   std::to_string(m_options.idleTimeoutSeconds)};
    for (const auto& line : m_options.extraListLines) {
        args.push_back("--extra-line");
        args.push_back(line);
    }
    for (const auto& line : m_options.extraMlsdLines) {
        args.push_back("--extra-mlsd-line");
        args.push_back(line);
    }
    auto flag = [&args](bool on, const char* name) {
        if (on) {
            args.push_back(name);
        }
    };
    flag(m_options.noMlst, "--no-mlst");
    flag(m_options.endlessListing, "--endless-listing");
    flag(m_options.stallAfterPasv, "--stall-after-pasv");
    flag(m_options.refuseRenameOntoExisting, "--refuse-rename-onto-existing");
    flag(m_options.refuseHiddenNames, "--refuse-hidden-names");
    flag(m_options.dropOnce, "--drop-once");
    auto value = [&args](bool on, const char* name, std::string text) {
        if (on) {
            args.push_back(name);
            args.push_back(std::move(text));
        }
    };
    const FtpServerOptions& o = m_options;
    value(o.maxConnections > 0, "--max-cons", std::to_string(o.maxConnections));
    value(o.dripSeconds > 0, "--drip", std::to_string(o.dripSeconds));
    value(!o.dropAfter.empty(), "--drop-after", o.dropAfter);
    value(o.dropAfterBytes >= 0, "--drop-after-bytes", std::to_string(o.dropAfterBytes));
    value(o.diskFullAfterBytes >= 0, "--disk-full-after-bytes",
          std::to_string(o.diskFullAfterBytes));
    value(o.dropUploadAfterBytes >= 0, "--drop-upload-after-bytes",
          std::to_string(o.dropUploadAfterBytes));
    value(o.dropControlAfterTransfers > 0, "--drop-control-after-transfers",
          std::to_string(o.dropControlAfterTransfers));
    value(!o.commandLog.empty(), "--command-log", o.commandLog.string());
    value(!o.refuse.empty(), "--refuse", o.refuse);
    value(o.rateBytesPerSecond > 0, "--rate", std::to_string(o.rateBytesPerSecond));
    if (!m_options.tlsCertificate.empty()) {
        args.push_back("--tls-cert");
        args.push_back(m_options.tlsCertificate.string());
        if (!m_options.tlsKey.empty()) {
            args.push_back("--tls-key");
            args.push_back(m_options.tlsKey.string());
        }
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    try {
        m_pid = StartProcess(args, pipeFds[1]);
    } catch (...) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw;
    }
    ::close(pipeFds[1]);
    // The server prints "PORT n" once it listens.
    const std::string output = ReadLine(pipeFds[0], std::chrono::seconds(20));
    ::close(pipeFds[0]);
    if (output.rfind("PORT ", 0) == 0) {
        m_port = std::stoi(output.substr(5));
    }
    if (m_port == 0) {
        StopProcess(m_pid, std::chrono::milliseconds(0));
        m_pid = -1;
        throw std::runtime_error("pyftpdlib did not start: " + output);
    }
}

FtpServer::~FtpServer() {
    StopProcess(m_pid, std::chrono::seconds(1));
}

SilentServer::SilentServer() {
    m_fd = boundSocket(m_port);
    ::listen(m_fd, 16);
}

SilentServer::~SilentServer() {
    ::close(m_fd);
}

int ClosedPort() {
    int port = 0;
    const int fd = boundSocket(port);
    ::close(fd);
    return port;
}

}  // namespace quill::test
