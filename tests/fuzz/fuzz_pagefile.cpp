// The page reader with its skip: from memory and from a file alike.
#include "Fuzz.h"

#include "common/PageFile.h"

#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    quill::fuzz::Input in(data, size);
    const std::uint8_t choice = in.byte();
    // No skip, a small one that lands anywhere, or the result page's own.
    const std::int64_t skip = choice < 96 ? 0 : choice < 224 ? choice % 17 : quill::kResultPageSkip;
    const std::string_view bytes = in.rest();

    const std::string text = quill::PageTextFromBytes(bytes, skip);
    Check(text.empty() || text.ends_with("\r\n"), "a page text ends with CR LF");
    Check(text.size() <= 2 * bytes.size() + 2, "a page text is at most twice its file");
    if (skip == 0) {
        Check(text.size() >= bytes.size(), "without a skip no byte is dropped");
    }

    static const quill::fuzz::ScratchFolder folder;
    const auto file = folder.path() / "page";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Check(quill::ReadPageFile(file, skip) == text, "the file reads as the bytes do");
    return 0;
}
