#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quill::test {

// Starts args[0] (an absolute path; no shell) with args. Its standard output
// goes to stdoutFd and its standard error to stderrFd; -1 keeps this
// process's own. Throws when it cannot start.
pid_t StartProcess(const std::vector<std::string>& args, int stdoutFd = -1, int stderrFd = -1);

// Ends a child of this process: SIGTERM, SIGKILL when it is still there after
// grace; reaps it.
void StopProcess(pid_t pid, std::chrono::milliseconds grace);

// The same for a child and every process it started (a server's sessions),
// so no session outlives its server.
void StopProcessTree(pid_t pid, std::chrono::milliseconds grace);

struct ProgramResult {
    int exitCode = -1;   // -1: killed by a signal or the time-out
    std::string output;  // standard output and error together
};

// Runs a program to its end with input on its standard input; killed when it
// takes longer than timeout.
ProgramResult RunProgram(const std::vector<std::string>& args, std::string_view input = {},
                         std::chrono::seconds timeout = std::chrono::seconds(60));

// Reads fd until a newline arrives, the writer closes it or timeout passes.
std::string ReadLine(int fd, std::chrono::milliseconds timeout);

}  // namespace quill::test
