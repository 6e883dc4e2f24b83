#include "KeyringSession.h"

#include "ChildProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>

namespace quill::test {
namespace {

using namespace std::chrono_literals;

KeyringSession* g_session = nullptr;

void WaitUntil(const char* what, const std::function<bool()>& ready,
               const std::filesystem::path& log) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error(std::string("keyring session: no ") + what + "\n" +
                                     ReadBytes(log));
        }
        std::this_thread::sleep_for(50ms);
    }
}

// GLib's shared session bus connection, which libsecret uses, ends the
// process with SIGTERM when its bus closes; this bus closes first.
void* ConnectWithoutExitOnClose() {
    void* gio = ::dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    const auto getBus = reinterpret_cast<void* (*)(int, void*, void**)>(
        gio ? ::dlsym(gio, "g_bus_get_sync") : nullptr);
    const auto setExit = reinterpret_cast<void (*)(void*, int)>(
        gio ? ::dlsym(gio, "g_dbus_connection_set_exit_on_close") : nullptr);
    void* connection =
        getBus && setExit ? getBus(2 /* G_BUS_TYPE_SESSION */, nullptr, nullptr) : nullptr;
    if (!connection) {
        throw std::runtime_error("keyring session: GLib cannot connect to the bus");
    }
    setExit(connection, 0);
    return connection;  // kept: GLib forgets a shared connection nobody holds
}

}  // namespace

void KeyringSession::Start() {
    if (g_session) {
        return;
    }
    auto* session = new KeyringSession;
    ::testing::AddGlobalTestEnvironment(session);  // torn down after the last test
    g_session = session;
    const auto home = session->m_dir / "home";
    const auto runtime = session->m_dir / "run";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    const auto socket = session->m_dir / "bus";
    // No service folders: nothing on this bus is started on demand.
    WriteBytes(session->m_dir / "bus.conf",
               "<busconfig><type>session</type><listen>unix:path=" + socket.native() +
                   "</listen><policy context=\"default\"><allow send_destination=\"*\" "
                   "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                   "</policy></busconfig>");
    const int log = ::open((session->m_dir / "log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    session->m_bus = StartProcess(
        {"/usr/bin/dbus-daemon", "--config-file=" + (session->m_dir / "bus.conf").native(),
         "--nofork", "--nopidfile"},
        log, log);
    WaitUntil(
        "bus", [&] { return std::filesystem::exists(socket); }, session->m_dir / "log");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket.native()).c_str(), 1);

    int password[2];
    if (::pipe2(password, O_CLOEXEC) != 0) {
        throw std::runtime_error("keyring session: pipe failed");
    }
    session->m_keyring = StartProcess(
        {"/usr/bin/env", "HOME=" + home.native(), "XDG_RUNTIME_DIR=" + runtime.native(),
         "XDG_DATA_HOME=" + (home / "data").native(),
         "XDG_CONFIG_HOME=" + (home / "config").native(), "/usr/bin/gnome-keyring-daemon",
         "--foreground", "--unlock", "--components=secrets"},
        log, log, password[0]);
    ::close(log);
    ::close(password[0]);
    // The login keyring is created with this password, and unlocked.
    const std::string text = "quillmint-test";
    const bool written =
        ::write(password[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(password[1]);
    if (!written) {
        throw std::runtime_error("keyring session: the password was not written");
    }
    WaitUntil(
        "Secret Service",
        [] {
            return RunProgram({"/usr/bin/dbus-send", "--session", "--print-reply",
                               "--dest=org.freedesktop.DBus", "/",
                               "org.freedesktop.DBus.NameHasOwner",
                               "string:org.freedesktop.secrets"})
                       .output.find("boolean true") != std::string::npos;
        },
        session->m_dir / "log");
    session->m_connection = ConnectWithoutExitOnClose();
}

std::string KeyringSession::Lookup(const std::string& site) {
    return RunProgram({"/usr/bin/secret-tool", "lookup", "user", site, "server", "Quillmint"})
        .output;
}

void KeyringSession::TearDown() {
    StopProcess(m_keyring, 2s);
    StopProcess(m_bus, 2s);
    g_session = nullptr;
}

}  // namespace quill::test
