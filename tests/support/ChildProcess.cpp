#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quill::test {
namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err) {
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[] = {in, out, err};
    for (int target = 0; target < 3; ++target) {
        if (fds[target] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, fds[target], target);
        }
    }
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + args.at(0) + ": " + std::strerror(rc));
    }
    return pid;
}

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = '?';
    unsigned long long startTime = 0;  // tells a process from a later one with its PID
};

std::optional<ProcessEntry> ReadEntry(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) {
        return std::nullopt;
    }
    // The command name in parentheses may hold blanks and parentheses itself.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    ProcessEntry entry{pid};
    fields >> entry.state >> entry.parent;
    std::string skipped;
    for (int i = 0; i < 17; ++i) {
        fields >> skipped;
    }
    fields >> entry.startTime;
    if (!fields) {
        return std::nullopt;
    }
    return entry;
}

std::vector<ProcessEntry> Descendants(pid_t root) {
    std::vector<ProcessEntry> all;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator("/proc", ec)) {
        const auto name = item.path().filename().native();
        if (name.find_first_not_of("0123456789") == std::string::npos) {
            if (auto entry = ReadEntry(std::stoi(name))) {
                all.push_back(*entry);
            }
        }
    }
    std::vector<ProcessEntry> found;
    std::vector<pid_t> parents{root};
    while (!parents.empty()) {
        const pid_t parent = parents.back();
        parents.pop_back();
        for (const auto& entry : all) {
            if (entry.parent == parent) {
                found.push_back(entry);
                parents.push_back(entry.pid);
            }
        }
    }
    return found;
}

bool StillRunning(const ProcessEntry& entry) {
    const auto now = ReadEntry(entry.pid);
    return now && now->startTime == entry.startTime && now->state != 'Z';
}

}  // namespace

pid_t StartProcess(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
    return Spawn(args, -1, stdoutFd, stderrFd);
}

void StopProcess(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    const auto deadline = Clock::now() + grace;
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void StopProcessTree(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) {
        return;
    }
    const auto descendants = Descendants(pid);
    StopProcess(pid, grace);
    for (const auto& entry : descendants) {
        if (StillRunning(entry)) {
            ::kill(entry.pid, SIGTERM);
        }
    }
    const auto deadline = Clock::now() + grace;
    for (const auto& entry : descendants) {
        while (StillRunning(entry) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (StillRunning(entry)) {
            ::kill(entry.pid, SIGKILL);
        }
    }
}

ProgramResult RunProgram(const std::vector<std::string>& args, std::string_view input,
                         std::chrono::seconds timeout) {
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // A socket for the input: MSG_NOSIGNAL keeps a program that ends without
    // reading it from killing this one with SIGPIPE.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("socketpair failed");
    }
    pid_t pid = -1;
    try {
        pid = Spawn(args, in[1], out[1], out[1]);
    } catch (...) {
        for (int fd : {out[0], out[1], in[0], in[1]}) {
            ::close(fd);
        }
        throw;
    }
    ::close(out[1]);
    ::close(in[1]);
    while (!input.empty()) {
        const ssize_t n = ::send(in[0], input.data(), input.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        input.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(in[0]);

    ProgramResult result;
    const auto deadline = Clock::now() + timeout;
    bool ended = false;
    while (!ended && Clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            ended = n <= 0;
            if (n > 0) {
                result.output.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(out[0]);
    if (!ended) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (ended && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

std::string ReadLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = Clock::now() + timeout;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            line.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return line;
}

}  // namespace quill::test
