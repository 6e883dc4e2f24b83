#include "app/WebEngineSandbox.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

using quill::DisableWebEngineSandboxForRoot;
using quill::test::TempDir;

namespace {

void SetOrUnset(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

std::optional<std::string> Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

constexpr const char* kNotice =
    "Quillmint: running as root, so the web view's sandbox is turned off for this process.\n";

}  // namespace

TEST(WebEngineSandbox, TurnedOffForRootOnlyAndSaidOnce) {
    struct Case {
        const char* what;
        uid_t user;
        std::optional<std::string> flags, disable;  // before
        bool turnedOff;
        std::optional<std::string> flagsAfter, disableAfter;
    };
    const std::optional<std::string> none;
    const Case cases[] = {
        {"ordinary user", 1000, none, none, false, none, none},
        {"ordinary user with flags", 1000, "--disable-gpu", none, false, "--disable-gpu", none},
        {"root", 0, none, none, true, "--no-sandbox", "1"},
        {"root keeps other flags", 0, "--disable-gpu --proxy-server=127.0.0.1:9", none, true,
         "--disable-gpu --proxy-server=127.0.0.1:9 --no-sandbox", "1"},
        {"root, flag already there", 0, "--no-sandbox --disable-gpu", none, false,
         "--no-sandbox --disable-gpu", none},
        {"root, variable already set", 0, none, "1", false, none, "1"},
    };
    const auto savedFlags = Env("QTWEBENGINE_CHROMIUM_FLAGS");
    const auto savedDisable = Env("QTWEBENGINE_DISABLE_SANDBOX");
    for (const Case& c : cases) {
        SetOrUnset("QTWEBENGINE_CHROMIUM_FLAGS", c.flags);
        SetOrUnset("QTWEBENGINE_DISABLE_SANDBOX", c.disable);
        std::FILE* err = std::tmpfile();
        ASSERT_NE(err, nullptr);
        EXPECT_EQ(DisableWebEngineSandboxForRoot(c.user, err), c.turnedOff) << c.what;
        EXPECT_EQ(Env("QTWEBENGINE_CHROMIUM_FLAGS"), c.flagsAfter) << c.what;
        EXPECT_EQ(Env("QTWEBENGINE_DISABLE_SANDBOX"), c.disableAfter) << c.what;
        std::string said(256, '\0');
        std::rewind(err);
        said.resize(std::fread(said.data(), 1, said.size(), err));
        std::fclose(err);
        EXPECT_EQ(said, c.turnedOff ? kNotice : "") << c.what;
    }
    SetOrUnset("QTWEBENGINE_CHROMIUM_FLAGS", savedFlags);
    SetOrUnset("QTWEBENGINE_DISABLE_SANDBOX", savedDisable);
}

namespace {

// Ends a process this test started, by its own handle: SIGTERM, then SIGKILL.
void Stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

}  // namespace

// The real program, started by root on a real (virtual) X display with none
// of the sandbox switches the other tests use, shows its first window and
// keeps running.
TEST(WebEngineSandbox, RootStartsTheProgramAndSeesItsFirstWindow) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only meaningful when the tests run as root";
    }
    TempDir dir;
    // Xvfb picks a free display and writes its number to fd 3.
    int displayPipe[2];
    ASSERT_EQ(::pipe2(displayPipe, O_CLOEXEC), 0);
    QProcess xvfb;
    xvfb.setChildProcessModifier([&] {
        // fd 3 of the child, and no other end of the pipe
        if (displayPipe[1] == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(displayPipe[1], 3);
        }
    });
    xvfb.start(QStringLiteral("/usr/bin/Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("3"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1280x1024x24")});
    ::close(displayPipe[1]);
    std::string display = ":";
    for (char c; ::read(displayPipe[0], &c, 1) == 1 && c != '\n';) {
        display += c;
    }
    ::close(displayPipe[0]);
    ASSERT_GT(display.size(), 1u) << xvfb.readAllStandardError().toStdString();

    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
    QProcessEnvironment env;
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
               QString::fromStdString((dir / "runtime").native()));
    env.insert(QStringLiteral("HOME"), QString::fromStdString(dir.path().native()));
    // Kept off the network as in every test; no sandbox switch is set.
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               QStringLiteral("--disable-gpu --proxy-server=127.0.0.1:9"));
    const QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
    for (const auto* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        env.insert(QString::fromLatin1(name), inherited.value(QString::fromLatin1(name)));
    }
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(QUILLMINT_EXECUTABLE), {});
    ASSERT_TRUE(program.waitForStarted());

    auto firstWindowShown = [&] {
        QProcess info;
        info.start(
            QStringLiteral("xwininfo"),
            {QStringLiteral("-display"), QString::fromStdString(display), QStringLiteral("-name"),
             QStringLiteral("Tarnwick Article extractor for content")});
        info.waitForFinished();
        return info.readAllStandardOutput().contains("Map State: IsViewable");
    };
    bool shown = false;
    for (int i = 0; i < 600 && !shown && program.state() == QProcess::Running; ++i) {
        shown = firstWindowShown();
        program.waitForFinished(shown ? 0 : 100);
    }
    // The web engine's helper processes start with the first web view; a
    // refused sandbox ends the program within moments.
    program.waitForFinished(3000);
    const bool stillRunning = program.state() == QProcess::Running;
    const bool stillShown = firstWindowShown();
    Stop(program);
    Stop(xvfb);

    const std::string output = program.readAll().toStdString();
    EXPECT_TRUE(shown) << output;
    EXPECT_TRUE(stillRunning) << output;
    EXPECT_TRUE(stillShown) << output;
    EXPECT_NE(output.find(kNotice), std::string::npos) << output;
    EXPECT_EQ(output.find(kNotice), output.rfind(kNotice)) << "said once";
    EXPECT_EQ(output.find("Running as root without --no-sandbox"), std::string::npos) << output;
}
