#include "KeyringSession.h"

#include "ChildProcess.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <stdexcept>
#include <thread>

namespace quill::test {
namespace {

struct Session final : ::testing::Environment {
    void TearDown() override {
        StopProcess(keyring, std::chrono::seconds(2));
        StopProcess(bus, std::chrono::seconds(2));
    }
    TempDir dir;
    pid_t bus = -1;
    pid_t keyring = -1;
};

}  // namespace

void StartKeyringSession() {
    static Session* session = nullptr;
    if (session) {
        return;
    }
    session = new Session;
    ::testing::AddGlobalTestEnvironment(session);
    const std::filesystem::path& dir = session->dir.path();
    const std::string address = "unix:path=" + (dir / "bus").native();
    WriteBytes(dir / "bus.conf", "<busconfig><type>session</type><listen>" + address +
                                     "</listen><policy context=\"default\"><allow "
                                     "send_destination=\"*\" eavesdrop=\"true\"/><allow "
                                     "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    session->bus = StartProcess({"/usr/bin/dbus-daemon", "--nofork", "--nopidfile",
                                 "--config-file=" + (dir / "bus.conf").native()});
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    // The login keyring is created with the password on its input, unlocked.
    WriteBytes(dir / "password", "test");
    session->keyring = StartProcess(
        {"/bin/sh", "-c",
         "HOME=\"$0\" XDG_RUNTIME_DIR=\"$0\" exec /usr/bin/gnome-keyring-daemon --foreground "
         "--unlock --components=secrets < \"$0/password\"",
         dir.native()});
    for (int i = 0; i < 200; ++i) {
        if (RunProgram({"/usr/bin/dbus-send", "--session", "--print-reply",
                        "--dest=org.freedesktop.DBus", "/", "org.freedesktop.DBus.NameHasOwner",
                        "string:org.freedesktop.secrets"})
                .output.find("true") != std::string::npos) {
            // libsecret's connection, GLib's shared one, would end this
            // process with SIGTERM when the bus stops before the process.
            void* gio = ::dlopen("libgio-2.0.so.0", RTLD_NOW);
            auto* connect =
                reinterpret_cast<void* (*)(int, void*, void**)>(::dlsym(gio, "g_bus_get_sync"));
            auto* exitOnClose = reinterpret_cast<void (*)(void*, int)>(
                ::dlsym(gio, "g_dbus_connection_set_exit_on_close"));
            exitOnClose(connect(2 /* session */, nullptr, nullptr), 0);  // kept for good
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("the keyring session did not start");
}

}  // namespace quill::test
