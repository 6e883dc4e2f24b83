// The site profile reader; what it reads must save and read back the same.
#include "Fuzz.h"

#include "ftp/SiteProfiles.h"

#include <filesystem>
#include <fstream>

namespace {

bool Same(const quill::SiteProfile& a, const quill::SiteProfile& b) {
    return a.sname == b.sname && a.adresa == b.adresa && a.ID == b.ID && a.pass == b.pass &&
           a.port == b.port && a.protocol == b.protocol;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    static const quill::fuzz::ScratchFolder folder;
    {
        std::ofstream out(folder.path() / "input.ftp", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const quill::SiteProfiles profiles(folder.path());
    quill::SiteProfile read = profiles.Read("input.ftp");
    for (const std::string* value : {&read.sname, &read.adresa, &read.ID, &read.pass, &read.port}) {
        Check(value->size() <= 4 * 255, "a value read is cut to its limit");
        Check(value->find_first_of("\r\n") == std::string::npos, "a value read is one line");
    }

    read.sname = "roundtrip";
    std::filesystem::remove(folder.path() / "roundtrip.ftp");
    const auto saved = profiles.Save(read);
    Check(saved.has_value(), "what was read can be saved");
    Check(Same(profiles.Read("roundtrip.ftp"), read), "a saved profile reads back the same");
    return 0;
}
