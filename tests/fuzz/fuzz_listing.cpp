// A folder listing as an FTP server sends it (MLSD or LIST), cut into pieces
// anywhere, as the network delivers it.
#include "Fuzz.h"

#include "common/TextOps.h"
#include "net/FtpListParser.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    quill::fuzz::Input in(data, size);
    const bool mlsd = (in.byte() & 1) != 0;
    const std::size_t piece = std::max<std::size_t>(1, in.byte());
    quill::FtpListReader reader(mlsd, quill::FtpToday{2026, 12, 8});
    const std::string_view text = in.rest();
    for (std::size_t at = 0; at < text.size(); at += piece) {
        reader.feed(text.substr(at, piece));
    }
    reader.finish();
    for (const auto& entry : reader.entries) {
        Check(!entry.name.empty(), "no entry without a name");
        Check(!quill::HoldsSeparatorOrNul(entry.name) && !quill::HoldsLineBreak(entry.name),
              "no name that could leave its folder or end a command");
        Check(entry.size >= 0, "no negative size");
    }
    Check(reader.entries.size() + reader.skipped.size() <= text.size(),
          "no more entries than bytes");
    return 0;
}
