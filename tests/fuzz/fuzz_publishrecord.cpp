// The publish record reader: whatever it reads compacts and reads back the same.
#include "Fuzz.h"

#include "publish/PublishRecord.h"

#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    static const quill::fuzz::ScratchFolder folder;
    const auto file = folder.path() / "input.record";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto record = quill::PublishRecord::Load(file, "site", "/www");
    if (!record) {
        return 0;
    }
    const auto files = record->files();
    for (const auto& [path, entry] : files) {
        Check(!path.empty() && entry.size >= 0 && entry.hash.size() == 64, "entries are whole");
    }
    Check(record->Put({"new/a b.html", std::string(64, 'a'), 1, "/l\tx"}).has_value(),
          "a record read can be written to");
    Check(record->Compact().has_value(), "a record read can be compacted");
    auto again = quill::PublishRecord::Load(file, "site", "/www");
    Check(again &&
              again->files().size() == files.size() + (files.contains("new/a b.html") ? 0 : 1) &&
              again->find("new/a b.html")->localFolder == "/l\tx",
          "a compacted record reads back the same");
    return 0;
}
