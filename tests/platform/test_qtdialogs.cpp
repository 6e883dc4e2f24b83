#include "platform/QtDialogs.h"

#include <gtest/gtest.h>

using quill::QtFileFilter;

TEST(QtFileFilter, EveryFileMeansEveryFileOnThisPlatform) {
    EXPECT_EQ(QtFileFilter(QStringLiteral("All Files (*.*)|*.*|")),
              QStringLiteral("All Files (*)"));
}

TEST(QtFileFilter, SeveralPairsAndPatterns) {
    EXPECT_EQ(QtFileFilter(QStringLiteral("Web pages|*.htm;*.html|Text (*.txt)|*.txt")),
              QStringLiteral("Web pages (*.htm *.html);;Text (*.txt)"));
    EXPECT_EQ(QtFileFilter(QString()), QString());
}
