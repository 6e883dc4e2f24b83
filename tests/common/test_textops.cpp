#include "common/TextOps.h"

#include <gtest/gtest.h>

using quill::CompareMode;
using quill::cut;
using quill::find;
using quill::left;
using quill::Replace;

TEST(TextOpsFind, PositionsAreOneBasedAndZeroMeansNotFound) {
    EXPECT_EQ(find("abcabc", "bc", 1), 2);
    EXPECT_EQ(find("abcabc", "bc", 3), 5);
    EXPECT_EQ(find("abcabc", "x", 1), 0);
    EXPECT_EQ(find("abc", "c", 3), 3) << "a marker at the very position from is found there";
    EXPECT_EQ(find("abc", "c", 4), 0) << "from beyond the end finds nothing";
    EXPECT_EQ(find("abc", "bcd", 2), 0) << "a marker running past the end is not found";
    EXPECT_EQ(find("", "a", 1), 0);
}

TEST(TextOpsFind, StartBelowOneIsInvalid) {
    EXPECT_FALSE(find("abc", "a", 0).has_value());
    EXPECT_FALSE(find("abc", "a", -5).has_value());
    EXPECT_EQ(quill::findOr0("abc", "a", 0), 0);
}

TEST(TextOpsFind, ComparisonIsExactUnlessTextModeIsAsked) {
    EXPECT_EQ(find("<H3 class=", "<h3 class=", 1), 0);
    EXPECT_EQ(find("<H3 class=", "<h3 class=", 1, CompareMode::Text), 1);
}

TEST(TextOpsCut, EdgeBehaviour) {
    EXPECT_EQ(cut("abcdef", 2, 3), "bcd");
    EXPECT_EQ(cut("abcdef", 5, 10), "ef") << "fewer characters when the text ends first";
    EXPECT_EQ(cut("abcdef", 7, 1), "") << "start beyond the end gives the empty text";
    EXPECT_EQ(cut("abcdef", 1, 0), "");
    EXPECT_FALSE(cut("abcdef", 0, 1).has_value());
    EXPECT_FALSE(cut("abcdef", 1, -1).has_value());
}

TEST(TextOpsLeft, EdgeBehaviour) {
    EXPECT_EQ(left("abc", 2), "ab");
    EXPECT_EQ(left("abc", 9), "abc");
    EXPECT_EQ(left("abc", 0), "");
    EXPECT_FALSE(left("abc", -1).has_value());
}

TEST(TextOpsReplace, ReturnsInputForEmptyOrIdenticalFind) {
    EXPECT_EQ(Replace("abc", "", "x"), "abc");
    EXPECT_EQ(Replace("abc", "b", "b"), "abc");
}

TEST(TextOpsReplace, InsertedTextIsNeverSearchedAgain) {
    EXPECT_EQ(Replace("aXa", "a", "aa"), "aaXaa");
    EXPECT_EQ(Replace("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(Replace("abab", "ab", "b"), "bb") << "a match formed across the seam is not taken";
}

TEST(TextOpsReplace, StartLeavesTheTextBeforeItUnchanged) {
    EXPECT_EQ(Replace("abab", "a", "", 3), "abb");
    EXPECT_EQ(Replace("abab", "a", "", 99), "abab");
    EXPECT_EQ(Replace("abab", "a", "", 0), "abab") << "an invalid start replaces nothing";
}

TEST(TextOpsReplace, CountLimitsTheReplacements) {
    EXPECT_EQ(Replace("a-a-a", "a", "b", 1, 1), "b-a-a");
    EXPECT_EQ(Replace("a-a-a", "a", "b", 3, 1), "a-b-a") << "first occurrence at or after start";
    EXPECT_EQ(Replace("a-a-a", "a", "b", 1, 2), "b-b-a");
    EXPECT_EQ(Replace("a-a-a", "a", "b", 1, -1), "b-b-b");
    EXPECT_EQ(Replace("a-a-a", "a", "b", 1, 0), "b-a-a")
        << "the count is checked after each replacement, so 0 still replaces one";
}

TEST(TextOpsReplace, HarvesterUseRemovesHighlighting) {
    EXPECT_EQ(Replace(Replace("How do <em>cats</em> <b>purr</b>? <em>Cats</em>", "<em>", ""),
                      "</em>", ""),
              "How do cats <b>purr</b>? Cats");
}

TEST(TextOpsReplace, TextModeIgnoresAsciiCase) {
    EXPECT_EQ(Replace("A-a", "a", "b", 1, -1, CompareMode::Text), "b-b");
    EXPECT_EQ(Replace("A-a", "a", "b", 1, -1, CompareMode::Binary), "A-b");
}

TEST(TextOpsReplace, BytesAbove0x7FAndNulArePlainCharacters) {
    const std::string in("\xE9t\xE9\0x", 5);
    EXPECT_EQ(Replace(in, std::string("\0", 1), "0"), std::string("\xE9t\xE9"
                                                                  "0x"));
    EXPECT_EQ(Replace(in, "\xE9", "e"), std::string("et"
                                                    "e\0x",
                                                    5));
}
