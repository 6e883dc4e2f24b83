#include "localpane/FileTypes.h"

#include <gtest/gtest.h>

using quill::ExtensionOf;
using quill::FileTypeIndex;
using quill::FormatFileTime;

TEST(FileTypes, TableByExtensionCaseInsensitive) {
    EXPECT_EQ(FileTypeIndex("Photo.JPG"), 1);
    EXPECT_EQ(FileTypeIndex("x.jpe"), 1);
    EXPECT_EQ(FileTypeIndex("page.HTML"), 2);
    EXPECT_EQ(FileTypeIndex("notes.TXT"), 3);
    EXPECT_EQ(FileTypeIndex("site.ftp"), 3);
    EXPECT_EQ(FileTypeIndex("anim.gif"), 4);
    EXPECT_EQ(FileTypeIndex("style.css"), 5);
    EXPECT_EQ(FileTypeIndex("song.vaw"), 6);
    EXPECT_EQ(FileTypeIndex("sound.wav"), 10) << "only the listed spelling counts";
    EXPECT_EQ(FileTypeIndex("a.ZIP"), 7);
    EXPECT_EQ(FileTypeIndex("clip.mpeg"), 8);
    EXPECT_EQ(FileTypeIndex("setup.exe"), 9);
    EXPECT_EQ(FileTypeIndex("README"), 10);
    EXPECT_EQ(FileTypeIndex("archive.tar.gz"), 10);
    EXPECT_EQ(FileTypeIndex(""), 10);
}

TEST(FileTypes, ExtensionIsTakenFromTheLastComponent) {
    EXPECT_EQ(ExtensionOf("a.b/c"), "");
    EXPECT_EQ(ExtensionOf("/x/y.tar.gz"), "gz");
    EXPECT_EQ(ExtensionOf(".profile"), "");
    EXPECT_EQ(ExtensionOf("name."), "");
    EXPECT_EQ(FileTypeIndex("dir.html/readme"), 10);
    EXPECT_EQ(FileTypeIndex("/srv/www/index.htm"), 2);
}

TEST(FileTypes, FormatFileTime) {
    EXPECT_EQ(FormatFileTime({2009, 3, 0, 1, 14, 7, 0}), "1.3.2009 14:07");
    EXPECT_EQ(FormatFileTime({2008, 12, 0, 7, 9, 5, 0}), "7.12.2008 9:05");
    EXPECT_EQ(FormatFileTime({2026, 1, 0, 31, 0, 0, 0}), "31.1.2026 0:00");
}
