#include "ftp/RemoteOperations.h"

#include "support/FtpServer.h"
#include "support/GuiTest.h"
#include "support/TestFiles.h"

#include <QPointer>

#include <gtest/gtest.h>

using namespace quill;
using quill::test::TempDir;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

TEST(RemoteOperations, ModesAreThreeOrFourOctalDigits) {
    for (const char* good : {"644", "0755", "000", "7777"}) {
        EXPECT_TRUE(IsOctalMode(good)) << good;
    }
    for (const char* bad :
         {"", "64", "07555", "648", "9x", "+644", " 644", "6 4", "\xd9\xa6\xd9\xa4"}) {
        EXPECT_FALSE(IsOctalMode(bad)) << bad;
    }
}

// Removes in order and stops at the first failure: what follows it stays.
TEST(RemoteDeleteChain, RemovesInOrderUpToTheFirstFailure) {
    TempDir root;
    std::filesystem::create_directory(root / "empty");
    std::filesystem::create_directory(root / "full");
    for (const char* name : {"a.txt", "b.txt", "full/keep"}) {
        WriteBytes(root / name, name);
    }
    test::FtpServer server(root.path());
    FtpEngine engine;
    FtpConnectParams params;
    params.host = "127.0.0.1";
    params.port = static_cast<std::uint16_t>(server.port());
    params.user = "user";
    params.password = "secret";
    std::optional<FtpResult<std::string>> connected;
    engine.connectServer("Quillmint 2012", params, [&](auto result) { connected = result; });
    ASSERT_TRUE(WaitFor([&] { return connected.has_value(); }) && *connected);

    using Entries = std::vector<RemoteDeleteChain::Entry>;
    const std::pair<Entries, std::string> cases[] = {
        {{{"/a.txt"}, {"/empty", true}}, "-/a.txt +/a.txt -/empty +/empty done"},
        {{{"/full", true}, {"/b.txt"}}, "-/full !/full"},
        {{{"/gone.txt"}, {"/b.txt"}}, "-/gone.txt !/gone.txt"},
        {{}, "done"},
    };
    for (const auto& [entries, expected] : cases) {
        std::string events;
        QPointer chain = new RemoteDeleteChain(engine, entries);
        auto note = [&](const char* mark) {
            return [&events, mark](const std::string& path) { events += mark + path + ' '; };
        };
        QObject::connect(chain, &RemoteDeleteChain::removing, note("-"));
        QObject::connect(chain, &RemoteDeleteChain::removed, note("+"));
        QObject::connect(chain, &RemoteDeleteChain::failed,
                         [&](const std::string& path, const FtpError&) { events += "!" + path; });
        QObject::connect(chain, &RemoteDeleteChain::finished, [&] { events += "done"; });
        chain->start();
        ASSERT_TRUE(WaitFor([&] { return chain.isNull(); })) << expected;
        EXPECT_EQ(events, expected);
    }
    EXPECT_EQ(test::FolderNames(root.path()), (std::vector<std::string>{"b.txt", "full"}));
}

}  // namespace
