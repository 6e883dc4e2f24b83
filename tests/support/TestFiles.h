#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quill::test {

// A fresh folder below the system temp folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
// The whole file; "<missing>" when it cannot be opened.
std::string ReadBytes(const std::filesystem::path& path);

}  // namespace quill::test
