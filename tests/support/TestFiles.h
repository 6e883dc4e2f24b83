#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// A small folder of its own file system (tmpfs), so a test can fill it or
// make it read-only even when it runs as root. mounted() is false where the
// test may not mount (not root); a read-only folder then falls back to
// permissions, which hold for other users.
class SmallFolder {
public:
    explicit SmallFolder(std::size_t bytes = 256 * 1024);
    ~SmallFolder();
    SmallFolder(const SmallFolder&) = delete;
    SmallFolder& operator=(const SmallFolder&) = delete;
    bool mounted() const { return m_mounted; }
    const std::filesystem::path& path() const { return m_dir.path(); }
    std::filesystem::path operator/(std::string_view name) const { return m_dir / name; }
    // Nothing can be created, written or removed in it any more.
    void makeReadOnly();

private:
    TempDir m_dir;
    bool m_mounted = false;
};

// Names in folder, sorted.
std::vector<std::string> FolderNames(const std::filesystem::path& folder);

void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
// The whole file; "<missing>" when it cannot be opened.
std::string ReadBytes(const std::filesystem::path& path);

}  // namespace quill::test
