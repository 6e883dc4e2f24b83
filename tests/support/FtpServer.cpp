#include "FtpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

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
    if (m_options.maxConnections > 0) {
        args.push_back("--max-cons");
        args.push_back(std::to_string(m_options.maxConnections));
    }
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
    if (m_options.dripSeconds > 0) {
        args.push_back("--drip");
        args.push_back(std::to_string(m_options.dripSeconds));
    }
    if (!m_options.dropAfter.empty()) {
        args.push_back("--drop-after");
        args.push_back(m_options.dropAfter);
    }
    if (m_options.dropAfterBytes >= 0) {
        args.push_back("--drop-after-bytes");
        args.push_back(std::to_string(m_options.dropAfterBytes));
    }
    if (!m_options.refuse.empty()) {
        args.push_back("--refuse");
        args.push_back(m_options.refuse);
    }
    if (m_options.rateBytesPerSecond > 0) {
        args.push_back("--rate");
        args.push_back(std::to_string(m_options.rateBytesPerSecond));
    }
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start pyftpdlib");
    }
    // The server prints "PORT n" once it listens.
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (output.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(pipeFds[0]);
    if (output.rfind("PORT ", 0) == 0) {
        m_port = std::stoi(output.substr(5));
    }
    if (m_port == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        throw std::runtime_error("pyftpdlib did not start: " + output);
    }
}

FtpServer::~FtpServer() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
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
