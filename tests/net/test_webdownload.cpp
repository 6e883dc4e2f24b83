#include "net/WebDownload.h"

#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>

using quill::DownloadPage;
using quill::test::HttpServer;
using quill::test::ReadBytes;
using quill::test::TempDir;
using quill::test::WriteBytes;

namespace {

class WebDownloadTest : public ::testing::Test {
protected:
    void SetUp() override { WriteBytes(target, "EARLIER PAGE"); }
    std::size_t filesInDir() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir.path()), {}));
    }
    HttpServer server;
    TempDir dir;
    std::filesystem::path target = dir / "temp.htm";
};

TEST_F(WebDownloadTest, SuccessWritesTheBodyByteForByte) {
    const std::string body("<html>\r\n\xE9\0end", 13);
    server.serve("/page", body);
    const auto result = DownloadPage(server.url("/page"), target);
    EXPECT_TRUE(result) << result.error;
    EXPECT_EQ(ReadBytes(target), body);
    EXPECT_EQ(filesInDir(), 1u) << "the temp file is gone";
}

TEST_F(WebDownloadTest, AddressWithoutSchemeIsHttp) {
    server.serve("/search", "ok");
    EXPECT_TRUE(DownloadPage(server.host() + "/search?q=x", target));
    EXPECT_EQ(ReadBytes(target), "ok");
}

TEST_F(WebDownloadTest, BlanksAndHighBytesAreEncodedOnTheWireOnly) {
    server.serve("/search", "ok");
    const std::string address = server.url("/search?q=site%3Ahost caf\xC3\xA9 \"x\"&num=5");
    ASSERT_TRUE(DownloadPage(address, target));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "/search?q=site%3Ahost+caf%c3%a9+%22x%22&num=5");
}

TEST_F(WebDownloadTest, HashIsSentAsDataWhenAsked) {
    server.serve("/search", "ok");
    quill::DownloadOptions options;
    options.hashIsData = true;
    ASSERT_TRUE(DownloadPage(server.url("/search?q=c# {x}|y&num=5"), target, options));
    ASSERT_TRUE(DownloadPage(server.url("/search?q=c#frag"), target));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "/search?q=c%23+%7Bx%7D%7Cy&num=5");
    EXPECT_EQ(requests[1], "/search?q=c") << "without the option '#' starts a fragment";
}

TEST_F(WebDownloadTest, RedirectsAreFollowed) {
    server.serve("/final", "moved here");
    server.redirect("/old", "/final");
    EXPECT_TRUE(DownloadPage(server.url("/old"), target));
    EXPECT_EQ(ReadBytes(target), "moved here");
}

// Every way a page can fail leaves the earlier file exactly as it was, leaves
// no temp file behind and says why in words fit for a message.
TEST_F(WebDownloadTest, FailuresLeaveTheOldFileAndSayWhy) {
    server.serve("/gone", "error page body", 404);
    server.serve("/boom", "oops", 500);
    server.serveGzip("/bomb", std::string(quill::kMaxPageBytes + 1, 'x'));
    server.serveEndless("/endless");
    server.serveEndless("/declared", std::uint64_t{1} << 40);
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(quill::test::ClosedPort()) + "/x";
    const std::pair<std::string, std::string> cases[] = {
        {server.url("/gone"), "the server answered with HTTP status 404"},
        {server.url("/boom"), "the server answered with HTTP status 500"},
        {server.url("/bomb"), "page too large (over 32 MiB)"},
        {server.url("/endless"), "page too large (over 32 MiB)"},
        {server.url("/declared"), "page too large (over 32 MiB)"},
        {refused, "could not connect to the server"},
    };
    for (const auto& [address, reason] : cases) {
        const auto result = DownloadPage(address, target);
        EXPECT_FALSE(result) << address;
        EXPECT_EQ(result.error, reason) << address;
        EXPECT_EQ(ReadBytes(target), "EARLIER PAGE") << address;
        EXPECT_EQ(filesInDir(), 1u) << address;
    }
}

TEST_F(WebDownloadTest, SizeLimitCountsDecodedBytes) {
    const std::string page(1000, 'p');
    server.serve("/plain", page);
    server.serveGzip("/packed", page);
    quill::DownloadOptions options;
    options.maxBytes = 1000;
    for (const char* path : {"/plain", "/packed"}) {
        const auto result = DownloadPage(server.url(path), target, options);
        EXPECT_TRUE(result) << path << ": " << result.error;
        EXPECT_EQ(ReadBytes(target), page) << path;
    }
    options.maxBytes = 999;
    for (const char* path : {"/plain", "/packed"}) {
        EXPECT_EQ(DownloadPage(server.url(path), target, options).error,
                  "page too large (over 999 bytes)")
            << path;
    }
    EXPECT_EQ(ReadBytes(target), page);
}

TEST_F(WebDownloadTest, StalledServerTimesOutAndLeavesTheOldFile) {
    server.stall("/slow");
    quill::DownloadOptions options;
    options.lowSpeedTimeSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    const auto result = DownloadPage(server.url("/slow"), target, options);
    EXPECT_FALSE(result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(ReadBytes(target), "EARLIER PAGE");
    EXPECT_EQ(filesInDir(), 1u);
}

TEST_F(WebDownloadTest, WholeTransferIsCappedInTime) {
    server.stall("/slow");
    quill::DownloadOptions options;
    options.lowSpeedTimeSeconds = 600;  // so only the overall cap can end it
    options.totalTimeoutSeconds = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadPage(server.url("/slow"), target, options));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(ReadBytes(target), "EARLIER PAGE");
}

TEST_F(WebDownloadTest, EmptyOrMalformedAddressWritesNothing) {
    EXPECT_FALSE(DownloadPage("", target));
    EXPECT_FALSE(DownloadPage("http://[::1", target));
    EXPECT_EQ(ReadBytes(target), "EARLIER PAGE");
    EXPECT_EQ(filesInDir(), 1u);
}

TEST_F(WebDownloadTest, MissingTargetFolderIsAFailure) {
    server.serve("/page", "x");
    EXPECT_FALSE(DownloadPage(server.url("/page"), dir / "nope" / "page.htm"));
}

}  // namespace
