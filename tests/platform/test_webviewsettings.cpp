#include "platform/WebViewSettings.h"

#include "common/ProgramFolder.h"
#include "extractor/Form1.h"
#include "harvester/Form6.h"
#include "platform/AppContext.h"
#include "support/FakeDialogs.h"
#include "support/GuiTest.h"
#include "support/HttpServer.h"
#include "support/QaPages.h"
#include "support/TestFiles.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <gtest/gtest.h>

using namespace quill;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

constexpr const char* kSecret = "pass=TOPSECRET";

// Markup a hostile page could carry: a script that tries to read a profile
// beside the program's files, by a relative and an absolute address, and a
// frame that tries to show it.
std::string Probe(const std::filesystem::path& profile) {
    const std::string absolute = "file://" + profile.native();
    return "<p id=\"out\">script did not run</p>"
           "<iframe id=\"frame\" src=\"" +
           absolute +
           "\"></iframe>"
           "<script>"
           "var out = document.getElementById('out'); out.textContent = 'script ran';"
           "function read(address) {"
           "  try { var r = new XMLHttpRequest(); r.open('GET', address, false); r.send();"
           "        return r.responseText; } catch (e) { return ''; } }"
           "var got = read('../x.ftp') + read('" +
           absolute +
           "');"
           "out.textContent += got.indexOf('TOPSECRET') >= 0 ? ': read the profile' : ': got "
           "nothing';"
           "</script>";
}

// Evaluated in the application's own script world, which works whether or
// not the page may run scripts.
QString Evaluate(QWebEngineView& view, const QString& script) {
    QString result;
    bool done = false;
    view.page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                               [&](const QVariant& value) {
                                   result = value.toString();
                                   done = true;
                               });
    EXPECT_TRUE(WaitFor([&] { return done; }));
    return result;
}

struct Seen {
    std::string out;    // what the page's own script wrote
    std::string frame;  // what the frame shows to the page
};

Seen WhatThePageSaw(QWebEngineView& view) {
    const QString out = QStringLiteral(
        "(function(){var o=document.getElementById('out'); return o ? o.textContent : '';})()");
    Seen seen;
    WaitFor(
        [&] {
            seen.out = Evaluate(view, out).toStdString();
            return !seen.out.empty();
        },
        60000);
    seen.frame =
        Evaluate(view, QStringLiteral("(function(){try{var d=document.getElementById('frame')."
                                      "contentDocument; return d && d.body ? d.body.innerText : "
                                      "'no access';}catch(e){return 'no access';}})()"))
            .toStdString();
    return seen;
}

class WebViewSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureProgramSubfolders(dir.path()));
        WriteBytes(dir / "x.ftp", std::string("[PROFIL]\r\n") + kSecret + "\r\n");
    }
    // Runs a Save all whose one question carries the probe; the harvester's
    // page view then shows the combined article file from "articles".
    QWebEngineView& harvesterView(Form6& form) {
        server.serve("/q", test::QuestionPage("Probe " + Probe(dir / "x.ftp"), "answer"));
        server.serve("/search", test::ResultPage({{server.url("/q"), "Question"}}));
        test::FindNamed<QLineEdit>(form, "Text1")->setText(QStringLiteral("probe"));
        for (const char* command : {"Command1", "Command5"}) {  // run on the harvester's worker
            test::FindNamed<QPushButton>(form, command)->click();
            EXPECT_TRUE(WaitFor([&] { return !form.busy(); }));
        }
        return *test::FindNamed<QWebEngineView>(form, "WebBrowserx");
    }
    QWebEngineView& extractorView(Form1& form, std::size_t padding) {
        form.setArticleHtml(std::string(padding, ' ') + Probe(dir / "x.ftp"));
        test::FindNamed<QRadioButton>(form, "Option3")->click();
        return *test::FindNamed<QWebEngineView>(form, "WebBrowser1");
    }

    test::HttpServer server;
    test::TempDir dir;
    test::FakeDialogs dialogs;
    test::FakeClipboard clipboard;
    test::FakeShell shell;
    AppContext context{dir.path(), dialogs, clipboard, shell};
};

void ExpectRestricted(QWebEngineView& view, bool scripts) {
    const QWebEngineSettings* settings = view.settings();
    EXPECT_FALSE(settings->testAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls));
    EXPECT_FALSE(settings->testAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls));
    EXPECT_EQ(settings->testAttribute(QWebEngineSettings::JavascriptEnabled), scripts);
}

}  // namespace

// The harvester's page view shows downloaded markup from a file beside the
// profiles: its scripts do not run, and even with scripts on (forced here)
// the page could not read the profile.
TEST_F(WebViewSettingsTest, HarvesterPageViewRunsNoScriptsAndReadsNoFiles) {
    context.searchHost = server.host();
    Form6 form(context);
    form.show();
    QWebEngineView& view = harvesterView(form);
    ExpectRestricted(view, false);
    ASSERT_TRUE(WaitFor([&] { return view.url().isLocalFile(); }));
    Seen seen = WhatThePageSaw(view);
    EXPECT_EQ(seen.out, "script did not run");
    EXPECT_EQ(seen.frame.find("TOPSECRET"), std::string::npos) << seen.frame;

    view.settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    view.reload();
    ASSERT_TRUE(WaitFor([&] { return WhatThePageSaw(view).out.starts_with("script ran"); }, 60000));
    seen = WhatThePageSaw(view);
    EXPECT_EQ(seen.out, "script ran: got nothing");
    EXPECT_EQ(seen.frame.find("TOPSECRET"), std::string::npos) << seen.frame;
}

// The extractor's Html view runs the article's scripts (the date line of an
// insertion), but they cannot read local files either, from the page given
// through setHtml or from the private file used for articles too big for it.
TEST_F(WebViewSettingsTest, ExtractorHtmlViewRunsScriptsThatReadNoFiles) {
    for (const std::size_t padding : {std::size_t{0}, std::size_t{3} << 20}) {
        Form1 form(context);
        form.show();
        QWebEngineView& view = extractorView(form, padding);
        ExpectRestricted(view, true);
        const Seen seen = WhatThePageSaw(view);
        EXPECT_EQ(seen.out, "script ran: got nothing") << padding;
        EXPECT_EQ(seen.frame.find("TOPSECRET"), std::string::npos) << padding << seen.frame;
    }
}
