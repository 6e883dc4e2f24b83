#pragma once

#include <optional>

namespace quill {

// Answers --help, --version, --program-folder and bad arguments on the
// terminal, before any application object exists, so no display is needed.
// Returns the exit status when the program stops there, nothing when it is
// to start its windows. Qt's own options (-platform, -style, ...) are left
// for QApplication; whatever follows --webEngineArgs is the web engine's.
// Needs the application name and version set.
std::optional<int> AnswerCommandLine(int argc, char** argv);

}  // namespace quill
