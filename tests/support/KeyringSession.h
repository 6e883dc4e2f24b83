#pragma once

namespace quill::test {

// GNOME Keyring, unlocked, on a private session bus this process then uses;
// started once per test program, both processes stopped after its last test.
void StartKeyringSession();

}  // namespace quill::test
