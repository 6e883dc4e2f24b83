#include "common/BuildInfo.h"
#include "common/ProgramFolder.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

using quill::ChooseProgramFolder;
using quill::test::TempDir;
using quill::test::WriteBytes;

TEST(ProgramFolder, ExecutableFolderUnlessInstalledOrNotWritable) {
    const std::string menuEntry =
        "share/applications/" + std::string(quill::app::kDesktopId) + ".desktop";
    struct Case {
        const char* what;
        std::string executableFolder;  // below a temp folder
        std::string menuEntry;         // written when not empty
        bool exists;
        bool usesDataFolder;
    };
    const Case cases[] = {
        {"a build tree", "build/src", "", true, false},
        {"a bin folder of one's own", "home/bin", "", true, false},
        {"installed under a prefix", "usr/bin", "usr/" + menuEntry, true, true},
        {"a menu entry beside a folder that is no bin", "opt/q/src", "opt/q/" + menuEntry, true,
         false},
        // Not writable for anyone, root included.
        {"a folder that is gone", "gone/bin", "", false, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto exe = dir / c.executableFolder;
        if (c.exists) {
            std::filesystem::create_directories(exe);
        }
        if (!c.menuEntry.empty()) {
            std::filesystem::create_directories((dir / c.menuEntry).parent_path());
            WriteBytes(dir / c.menuEntry, "[Desktop Entry]\n");
        }
        EXPECT_EQ(ChooseProgramFolder(exe, dir / "data"), c.usesDataFolder ? dir / "data" : exe)
            << c.what;
    }
    EXPECT_EQ(ChooseProgramFolder({}, "/data"), "/data") << "no executable folder known";
}

TEST(ProgramFolder, RunningProgramUsesItsOwnWritableFolder) {
    const auto exe = quill::ExecutableFolder();
    EXPECT_TRUE(std::filesystem::exists(exe / "test_programfolder")) << exe;
    EXPECT_EQ(quill::ResolveProgramFolder(), exe);
}
