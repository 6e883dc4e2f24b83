#pragma once

// Shared by the fuzz targets: reading an input and checking what a parser
// promises. A broken promise aborts, which the driver and libFuzzer report
// like a sanitizer finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

namespace quill::fuzz {

inline void Check(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", promise);
        std::abort();
    }
}

// Takes parameter bytes from the front of an input; the rest is the text.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : m_rest(reinterpret_cast<const char*>(data), size) {}
    std::uint8_t byte() {
        if (m_rest.empty()) {
            return 0;
        }
        const auto b = static_cast<std::uint8_t>(m_rest.front());
        m_rest.remove_prefix(1);
        return b;
    }
    // The text up to the next separator (or the end), which is consumed.
    std::string_view until(char separator) {
        const auto at = m_rest.find(separator);
        const auto piece = m_rest.substr(0, at);
        m_rest.remove_prefix(at == std::string_view::npos ? m_rest.size() : at + 1);
        return piece;
    }
    std::string_view rest() const { return m_rest; }

private:
    std::string_view m_rest;
};

// A private folder for the files a target reads, removed with its contents.
// In memory (/dev/shm) where there is one: a disk makes every input wait
// for the file system.
class ScratchFolder {
public:
    ScratchFolder() {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string name = std::string(base) + "/quillmint-fuzz-XXXXXX";
            if (::mkdtemp(name.data()) != nullptr) {
                m_path = name;
                break;
            }
        }
        Check(!m_path.empty(), "a scratch folder can be made");
    }
    ~ScratchFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace quill::fuzz
