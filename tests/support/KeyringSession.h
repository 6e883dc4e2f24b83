#pragma once

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>

namespace quill::test {

// A private D-Bus session bus with GNOME Keyring's Secret Service on it, the
// login keyring created unlocked in a temporary home. Started by the first
// Start() of the test program, it serves the rest of it: GLib keeps its first
// session bus connection to the end. DBUS_SESSION_BUS_ADDRESS points this
// process and the programs it starts at that bus, never at the user's
// session. Stops only the two processes it started, when the program ends.
class KeyringSession final : public ::testing::Environment {
public:
    static void Start();
    // secret-tool's answer for the password of a Quillmint site.
    static std::string Lookup(const std::string& site);
    void TearDown() override;

private:
    TempDir m_dir;
    pid_t m_bus = -1;
    pid_t m_keyring = -1;
    void* m_connection = nullptr;
};

}  // namespace quill::test
