#pragma once

#include <QIcon>

#include <array>

namespace quill {

// Images for the file type numbers 1 to 10 (index 0 is unused), shared by the
// local and the remote file lists. Needs a QGuiApplication.
std::array<QIcon, 11> FileTypeIcons();

}  // namespace quill
