#pragma once

#include <expected>
#include <string>

namespace quill {

struct PasswordStoreError {
    std::string text;
    // The store is there but said no (locked, access refused, no answer in
    // time): a password must then not go elsewhere behind the user's back.
    bool refused = false;
};

// Passwords kept outside the profile files, one per site name. Every call
// ends (with an error text when the store could not do it); none waits
// without end.
class PasswordStore {
public:
    virtual ~PasswordStore() = default;
    virtual std::expected<void, PasswordStoreError> Store(const std::string& site,
                                                          const std::string& password) = 0;
    // An error also when the store holds no password for the site.
    virtual std::expected<std::string, PasswordStoreError> Load(const std::string& site) = 0;
    // Removing a password that is not there succeeds.
    virtual std::expected<void, PasswordStoreError> Remove(const std::string& site) = 0;
};

}  // namespace quill
