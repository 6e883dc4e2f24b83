#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

namespace quill {

// Chromium inside Qt WebEngine refuses to start for root with its sandbox on,
// and the program would exit before its first window. For root (containers,
// CI) the sandbox is turned off for this process, with one line on err saying
// so, unless the environment has turned it off already. Must run before the
// QApplication and the first web view exist. True when it turned it off.
bool DisableWebEngineSandboxForRoot(uid_t effectiveUser = ::geteuid(), std::FILE* err = stderr);

}  // namespace quill
