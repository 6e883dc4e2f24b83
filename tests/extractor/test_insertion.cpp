#include "extractor/Insertion.h"

#include <gtest/gtest.h>

using namespace quill;

namespace {

InsertionFields Empty() {
    return {{}, {}, {}, false, InitialScriptOpening(), InitialScriptClosing()};
}

TEST(Insertion, AllFieldsEmptyAddsOnlyTheHeader) {
    EXPECT_EQ(BuildInsertion(Empty(), QStringLiteral("ARTICLE")),
              QStringLiteral("Subject : -<BR><BR>Keywords : -<Br><BR>ARTICLE"));
}

TEST(Insertion, AllFieldsFilledInTheirOrder) {
    InsertionFields f = Empty();
    f.adsenseId = QStringLiteral("pub-123");
    f.subject = QStringLiteral("Sky");
    f.keywords = QStringLiteral("blue, light");
    f.dynamicDate = true;
    const QString expected = QStringLiteral(
        "<CenteR><script type=\"text/javascript\"><!--\r\n"
        "google_ad_client = \"pub-123\";\r\n"
        "google_ad_width = 728;\r\n"
        "google_ad_height = 90;\r\n"
        "google_ad_format = \"728x90_as\";\r\n"
        "google_ad_channel =\"\";\r\n"
        "google_ad_type = \"text_image\";\r\n"
        "//--></script></center>\r\n"
        "<script type=\"text/javascript\"\r\n"
        "  src=\"http://pagead2.googlesyndication.com/pagead/show_ads.js\">\r\n"
        "</script>\r\n"
        "Subject : Sky<BR><BR>Keywords : blue, light<Br><BR>"
        "Date : <script>document.write(Date());</script><BR><BR>"
        "ARTICLE");
    EXPECT_EQ(BuildInsertion(f, QStringLiteral("ARTICLE")), expected);
}

TEST(Insertion, FieldsAreInsertedExactlyAsTyped) {
    InsertionFields f = Empty();
    f.adsenseId = QStringLiteral("a\"b");
    f.subject = QStringLiteral("  <b>x</b>  ");
    const QString out = BuildInsertion(f, {});
    EXPECT_TRUE(out.contains(QStringLiteral("google_ad_client = \"a\"b\";")));
    EXPECT_TRUE(out.contains(QStringLiteral("Subject :   <b>x</b>  <BR><BR>")));
}

TEST(Insertion, EditedScriptPartsReplaceTheInitialOnes) {
    InsertionFields f = Empty();
    f.adsenseId = QStringLiteral("id");
    f.scriptOpening = QStringLiteral("[open]");
    f.scriptClosing = QStringLiteral("[close]");
    EXPECT_EQ(BuildInsertion(f, QStringLiteral("A")),
              QStringLiteral("[open]google_ad_client = \"id\";[close]"
                             "Subject : -<BR><BR>Keywords : -<Br><BR>A"));
}

TEST(Insertion, TwoInsertionsStack) {
    const QString once = BuildInsertion(Empty(), QStringLiteral("A"));
    EXPECT_EQ(BuildInsertion(Empty(), once),
              QStringLiteral("Subject : -<BR><BR>Keywords : -<Br><BR>") + once);
}

}  // namespace
