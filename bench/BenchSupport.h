// Shared by the benchmarks that run outside programs: starting and waiting
// for children, loopback ports, vsftpd from bench/vsftpd.conf, and figures
// over rounds. QUILLMINT_BENCH_DIR names the bench folder.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Starts args (searched in PATH). With output, stdout goes to that file, and
// stderr too when withErrors is set.
inline pid_t spawn(std::vector<std::string> args, const char* output = nullptr,
                   bool withErrors = false) {
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output,
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (withErrors) {
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        }
    }
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    return pid;
}

// The child's exit status, -1 when a signal ended it.
inline int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline sockaddr_in loopback(const char* address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &result.sin_addr);
    result.sin_port = htons(static_cast<std::uint16_t>(port));
    return result;
}

// A port the system has free on 127.0.0.1 right now.
inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback("127.0.0.1", 0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline bool accepts(const char* address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to = loopback(address, port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    ::close(fd);
    return ok;
}

// vsftpd with the benchmarks' configuration plus extra lines, on address
// and port (a free one when 0), stopped by its PID.
class Vsftpd {
public:
    Vsftpd(const std::filesystem::path& root, const std::filesystem::path& configFolder,
           const std::string& extra = {}, const char* address = "127.0.0.1", int port = 0)
        : m_port(port ? port : freePort()) {
        std::ifstream in(QUILLMINT_BENCH_DIR "/vsftpd.conf");
        std::stringstream text;
        text << in.rdbuf();
        std::string config = text.str();
        for (const auto& [key, value] :
             {std::pair<std::string, std::string>{"@PORT@", std::to_string(m_port)},
              {"@ROOT@", root.native()},
              {"@ADDRESS@", address}}) {
            for (auto at = config.find(key); at != std::string::npos; at = config.find(key)) {
                config.replace(at, key.size(), value);
            }
        }
        const auto file = configFolder / "vsftpd.conf";
        std::ofstream(file) << config << extra;
        m_pid = spawn({"vsftpd", file.native()});
        for (int i = 0; i < 100 && !accepts(address, m_port); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!accepts(address, m_port)) {
            ::kill(m_pid, SIGTERM);
            waitFor(m_pid);
            throw std::runtime_error("vsftpd did not start (is it installed?)");
        }
    }
    ~Vsftpd() {
        ::kill(m_pid, SIGTERM);
        waitFor(m_pid);
    }
    Vsftpd(const Vsftpd&) = delete;
    Vsftpd& operator=(const Vsftpd&) = delete;
    int port() const { return m_port; }

private:
    int m_port;
    pid_t m_pid = -1;
};

// Seconds of the rounds of one case.
struct Times {
    std::vector<double> seconds;

    double best() const { return std::ranges::min(seconds); }
    double worst() const { return std::ranges::max(seconds); }
    double median() const {
        std::vector<double> sorted = seconds;
        std::ranges::sort(sorted);
        const std::size_t half = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
    }
};

}  // namespace bench
