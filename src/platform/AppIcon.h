#pragma once

#include <QIcon>

namespace quill {

// The program's icon (the same picture as the menu entry's), drawn from its
// SVG at the sizes window managers and task bars ask for. Needs a
// QGuiApplication.
QIcon AppIcon();

}  // namespace quill
