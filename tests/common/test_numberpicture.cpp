#include "common/NumberPicture.h"

#include <gtest/gtest.h>

using quill::FormatNumberPicture;

TEST(NumberPicture, SizePicture) {
    const char* kSize = "### ### ###.##";
    EXPECT_EQ(FormatNumberPicture(1.5, kSize), "1.5") << "1536 bytes / 1024";
    EXPECT_EQ(FormatNumberPicture(0, kSize), "0") << "a zero-byte file never shows a bare point";
    EXPECT_EQ(FormatNumberPicture(0.004, kSize), "0");
    EXPECT_EQ(FormatNumberPicture(0.005, kSize), "0.01");
    EXPECT_EQ(FormatNumberPicture(0.5, kSize), "0.5");
    EXPECT_EQ(FormatNumberPicture(12.0, kSize), "12");
    EXPECT_EQ(FormatNumberPicture(1234.567, kSize), "1 234.57");
    EXPECT_EQ(FormatNumberPicture(123456789.125, kSize), "123 456 789.13");
    EXPECT_EQ(FormatNumberPicture(9999.999, kSize), "10 000");
    EXPECT_EQ(FormatNumberPicture(4294967.296, kSize), "4 294 967.3");
    EXPECT_EQ(FormatNumberPicture(12345678901.0, kSize), "12345 678 901")
        << "digits beyond the picture go in front, as the platform writes them";
}

TEST(NumberPicture, OtherPictures) {
    EXPECT_EQ(FormatNumberPicture(123456, "### ###"), "123 456");
    EXPECT_EQ(FormatNumberPicture(1234567, "### ###"), "1234 567");
    EXPECT_EQ(FormatNumberPicture(999.4, "### ###"), "999");
    EXPECT_EQ(FormatNumberPicture(0, "### ###"), "0");
    EXPECT_EQ(FormatNumberPicture(3.14159, "#.##"), "3.14");
    EXPECT_EQ(FormatNumberPicture(42.1, "#.##"), "42.1");
    EXPECT_EQ(FormatNumberPicture(-2.5, "#.##"), "-2.5");
    EXPECT_EQ(FormatNumberPicture(-0.001, "#.##"), "0") << "no negative zero";
}
