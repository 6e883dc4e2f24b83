#pragma once

#include <QStringList>

namespace quill {

// "quillmint publish [--dry-run] [--delete] [--connections N] SITE LOCAL
// REMOTE": publishes a folder to a saved site without any window. arguments
// are those after "publish". Returns the exit status: 0 when everything was
// published, 1 when a file failed, 2 for a usage error (nothing sent).
int RunPublishCommand(const QStringList& arguments);

}  // namespace quill
