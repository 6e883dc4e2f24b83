#include "common/FileWrite.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

// Pieces land in order; a writer not committed leaves the target as it was
// and no temporary file, unless it was kept; a kept file is resumed when it
// is short enough.
TEST(ReplacingFile, StreamsAndLeavesNothingBehindUnlessKept) {
    enum End { Commit, Abandon, Keep };
    struct Case {
        const char* what;
        const char* kept;  // what a temporary file of the resumed name holds
        std::int64_t keepUpTo;
        std::int64_t rewindTo;  // -1: no rewind
        End end;
        const char* target;
        bool tempLeft;
    };
    const Case cases[] = {
        {"committed", nullptr, 0, -1, Commit, "onetwo", false},
        {"abandoned", nullptr, 0, -1, Abandon, "old", false},
        {"kept", nullptr, 0, -1, Keep, "old", true},
        {"rewound and written again", nullptr, 0, 3, Commit, "one2", false},
        {"resumed", "kept-", 5, -1, Commit, "kept-onetwo", false},
        {"too long to resume", "kept-", 4, -1, Commit, "onetwo", false},
        {"resumed, then abandoned", "kept-", 5, -1, Abandon, "old", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / "file.html", "old");
        quill::ReplacingFileOptions options;
        if (c.kept) {
            options.resumeName = ".quillmint-resume.part";
            options.keepUpTo = c.keepUpTo;
            WriteBytes(dir / options.resumeName, c.kept);
        }
        {
            auto file = quill::ReplacingFile::Open(dir / "file.html", options);
            ASSERT_TRUE(file) << c.what;
            ASSERT_TRUE(file->Append("one") && file->Append("two")) << c.what;
            if (c.rewindTo >= 0) {
                ASSERT_TRUE(file->Truncate(c.rewindTo) && file->Append("2")) << c.what;
            }
            if (c.end == Commit) {
                ASSERT_TRUE(file->Commit()) << c.what;
            } else if (c.end == Keep) {
                file->Keep();
            }
        }
        EXPECT_EQ(ReadBytes(dir / "file.html"), c.target) << c.what;
        EXPECT_EQ(HasTempFiles(dir.path()), c.tempLeft) << c.what;
    }
}

// The temporary file is never more readable than the result, from the start.
TEST(ReplacingFile, TemporaryFileHasTheFinalModeFromTheStart) {
    constexpr uid_t kOther = 65534;
    struct Case {
        const char* what;
        std::optional<mode_t> before;  // nullopt: no file yet
        bool othersFile;               // owned by kOther (needs root)
        mode_t umask;
        std::optional<mode_t> requested;
        mode_t temp;
        mode_t result;
    };
    const Case cases[] = {
        {"new file", std::nullopt, false, 022, std::nullopt, 0644, 0644},
        {"new private file", std::nullopt, false, 022, 0600, 0600, 0600},
        {"private file", 0600, false, 022, std::nullopt, 0600, 0600},
        {"special bits dropped", 06755, false, 022, std::nullopt, 0755, 0755},
        {"narrower umask", 0640, false, 077, std::nullopt, 0600, 0640},
        {"another owner's file", 0644, true, 022, std::nullopt, 0600, 0644},
    };
    for (const Case& c : cases) {
        if (c.othersFile && ::geteuid() != 0) {
            continue;  // only root can give a file away
        }
        TempDir dir;
        const auto file = dir / "file.html";
        if (c.before) {
            WriteBytes(file, "old");
            ASSERT_EQ(::chown(file.c_str(), c.othersFile ? kOther : ::getuid(),
                              c.othersFile ? kOther : ::getgid()),
                      0);
            ASSERT_EQ(::chmod(file.c_str(), *c.before), 0);
        }
        const Umask mask(c.umask);
        quill::ReplacingFileOptions options;
        options.mode = c.requested;
        auto writer = quill::ReplacingFile::Open(file, options);
        ASSERT_TRUE(writer && writer->Append("new")) << c.what;
        EXPECT_EQ(ModeOf(writer->TempPath()), c.temp) << c.what;
        ASSERT_TRUE(writer->Commit()) << c.what;
        EXPECT_EQ(ModeOf(file), c.result) << c.what;
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.othersFile ? kOther : ::getuid()) << c.what;
    }
}
