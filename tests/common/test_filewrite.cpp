#include "common/FileWrite.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

namespace {

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::size_t EntriesIn(const std::filesystem::path& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

bool HasTempFiles(const std::filesystem::path& dir) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.path().filename().native().starts_with(".quillmint-")) {
            return true;
        }
    }
    return false;
}

// Sets the umask for one test and restores it afterwards.
class Umask {
public:
    explicit Umask(mode_t mask) : m_old(::umask(mask)) {}
    ~Umask() { ::umask(m_old); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

private:
    mode_t m_old;
};

}  // namespace

TEST(FileWrite, ReplacesTheFileWithExactlyTheBytesGiven) {
    TempDir dir;
    WriteBytes(dir / "a.html", "old content that is longer");
    ASSERT_TRUE(quill::WriteFileReplacing(dir / "a.html", std::string("new\r\n\0", 6)));
    EXPECT_EQ(ReadBytes(dir / "a.html"), std::string("new\r\n\0", 6));
    EXPECT_EQ(EntriesIn(dir.path()), 1u) << "no temp file is left behind";
}

TEST(FileWrite, FailureLeavesTheOldFileAndSaysWhy) {
    TempDir dir;
    const auto result = quill::WriteFileReplacing(dir / "no-such-folder" / "a.html", "x");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().find("no-such-folder"), std::string::npos);

    // A folder in the way makes the final rename fail, for root too.
    std::filesystem::create_directories(dir / "taken.html" / "inside");
    WriteBytes(dir / "taken.html" / "inside" / "keep", "good");
    EXPECT_FALSE(quill::WriteFileReplacing(dir / "taken.html", "broken"));
    EXPECT_EQ(ReadBytes(dir / "taken.html" / "inside" / "keep"), "good");
    EXPECT_EQ(EntriesIn(dir.path()), 1u) << "the temp file is removed after a failure";
}

TEST(FileWrite, NameAtTheLengthLimitCanBeWritten) {
    TempDir dir;
    const std::string name(255, 'n');
    ASSERT_TRUE(quill::WriteFileReplacing(dir / name, "x"));
    EXPECT_EQ(ReadBytes(dir / name), "x");
}

// What mode a file ends up with: a replaced file keeps its own, a new one
// follows the umask, an explicit mode wins over both.
TEST(FileWrite, ModeOfTheWrittenFile) {
    struct Case {
        const char* what;
        std::optional<mode_t> before;  // nullopt: no file yet
        mode_t umask;
        std::optional<mode_t> requested;
        mode_t expected;
    };
    const Case cases[] = {
        {"new file, umask 022", std::nullopt, 022, std::nullopt, 0644},
        {"new file, umask 077", std::nullopt, 077, std::nullopt, 0600},
        {"private file stays private", 0600, 022, std::nullopt, 0600},
        {"group-readable file stays so", 0640, 077, std::nullopt, 0640},
        {"executable stays executable", 0755, 022, std::nullopt, 0755},
        {"read-only file is replaced and stays read-only", 0444, 022, std::nullopt, 0444},
        {"explicit mode on a new file", std::nullopt, 022, 0600, 0600},
        {"explicit mode over a readable file", 0644, 022, 0600, 0600},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto file = dir / "file.html";
        if (c.before) {
            WriteBytes(file, "old");
            ASSERT_EQ(::chmod(file.c_str(), *c.before), 0);
        }
        const Umask mask(c.umask);
        ASSERT_TRUE(quill::WriteFileReplacing(file, "new", c.requested)) << c.what;
        EXPECT_EQ(ReadBytes(file), "new") << c.what;
        EXPECT_EQ(ModeOf(file), c.expected) << c.what;
        EXPECT_EQ(EntriesIn(dir.path()), 1u) << c.what;
    }
}

// Writing to a symbolic link replaces what the link points at and keeps the
// link, whether the target is beside it, elsewhere, behind another link or
// not there yet.
TEST(FileWrite, LinksAreWrittenThrough) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> links;  // link, points at
        const char* target;                                      // where the bytes must land
        bool targetExists;
    };
    const Case cases[] = {
        {"link beside its target", {{"link.html", "real.html"}}, "real.html", true},
        {"link to another folder", {{"link.html", "other/real.html"}}, "other/real.html", true},
        {"chain of links",
         {{"link.html", "mid.html"}, {"mid.html", "other/real.html"}},
         "other/real.html",
         true},
        {"dangling link", {{"link.html", "other/new.html"}}, "other/new.html", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::filesystem::create_directories(dir / "other");
        if (c.targetExists) {
            WriteBytes(dir / c.target, "old");
            ASSERT_EQ(::chmod((dir / c.target).c_str(), 0600), 0);
        }
        for (const auto& [link, pointsAt] : c.links) {
            std::filesystem::create_symlink(pointsAt, dir / link);
        }
        ASSERT_TRUE(quill::WriteFileReplacing(dir / "link.html", "new")) << c.what;
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.html")) << c.what;
        EXPECT_EQ(ReadBytes(dir / c.target), "new") << c.what;
        if (c.targetExists) {
            EXPECT_EQ(ModeOf(dir / c.target), 0600u) << c.what;
        }
        EXPECT_FALSE(HasTempFiles(dir.path())) << c.what;
    }
}

TEST(FileWrite, LinkLoopIsRefusedAndWritesNothing) {
    TempDir dir;
    std::filesystem::create_symlink("b.html", dir / "a.html");
    std::filesystem::create_symlink("a.html", dir / "b.html");
    const auto result = quill::WriteFileReplacing(dir / "a.html", "new");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().find("a.html"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "a.html"));
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

TEST(FileWrite, AppendCreatesThenAppends) {
    TempDir dir;
    const Umask mask(022);
    ASSERT_TRUE(quill::AppendToFile(dir / "all.html", "one\r\n\r\n"));
    ASSERT_TRUE(quill::AppendToFile(dir / "all.html", "two\r\n\r\n"));
    EXPECT_EQ(ReadBytes(dir / "all.html"), "one\r\n\r\ntwo\r\n\r\n");
    EXPECT_EQ(ModeOf(dir / "all.html"), 0644u);
    EXPECT_FALSE(quill::AppendToFile(dir / "missing" / "all.html", "x"));
}
