#include "app/WebEngineSandbox.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using quill::DisableWebEngineSandboxForRoot;
using quill::test::ReadBytes;
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

// A process this test starts, ended by its PID (SIGTERM, then SIGKILL if it
// lingers) when the object goes; stdout and stderr go to outFile, and fd 3
// is passFd when that is set.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& outFile, int passFd = -1)
        : m_pid(::fork()) {
        if (m_pid != 0) {
            return;
        }
        const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        if (passFd >= 0) {
            ::dup2(passFd, 3);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> vars;
        for (const auto& v : env) {
            vars.push_back(const_cast<char*>(v.c_str()));
        }
        vars.push_back(nullptr);
        ::execve(args[0], args.data(), vars.data());
        ::_exit(127);
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool alive() {
        if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = 0;  // reaped: its PID is no longer ours to signal
        }
        return m_pid > 0;
    }

    void stop() {
        if (!alive()) {
            return;
        }
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 200 && alive(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (alive()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

private:
    pid_t m_pid;
};

std::string Output(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) {
        ++count;
    }
    return count;
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
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    Child xvfb(
        {"/usr/bin/Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"},
        {}, (dir / "xvfb.log").native(), pipeFds[1]);
    ::close(pipeFds[1]);
    std::string display;
    char c;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
        display += c;
    }
    ::close(pipeFds[0]);
    ASSERT_FALSE(display.empty()) << ReadBytes(dir / "xvfb.log");
    display = ":" + display;

    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
    std::vector<std::string> env{
        "DISPLAY=" + display,
        "QT_QPA_PLATFORM=xcb",
        "XDG_RUNTIME_DIR=" + (dir / "runtime").native(),
        "HOME=" + dir.path().native(),
        "PATH=/usr/bin:/bin",
        // Kept off the network as in every test; the sandbox switches are not set.
        "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --proxy-server=127.0.0.1:9",
    };
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const auto value = Env(name)) {
            env.push_back(std::string(name) + "=" + *value);
        }
    }
    const auto log = dir / "quillmint.log";
    Child program({QUILLMINT_EXECUTABLE}, env, log.native());

    const std::string query = "xwininfo -display " + display +
                              " -name 'Tarnwick Article extractor for content' 2>/dev/null";
    bool shown = false;
    for (int i = 0; i < 1200 && !shown && program.alive(); ++i) {
        shown = Output(query).find("Map State: IsViewable") != std::string::npos;
        if (!shown) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    // The web engine's helper processes start with the first web view; a
    // refused sandbox would end the program within moments.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const bool stillRunning = program.alive();
    const bool stillShown = Output(query).find("Map State: IsViewable") != std::string::npos;
    program.stop();
    xvfb.stop();

    const std::string output = ReadBytes(log);
    EXPECT_TRUE(shown) << output;
    EXPECT_TRUE(stillRunning) << output;
    EXPECT_TRUE(stillShown) << output;
    EXPECT_EQ(Count(output, kNotice), 1u) << output;
    EXPECT_EQ(output.find("Running as root without --no-sandbox"), std::string::npos) << output;
}
