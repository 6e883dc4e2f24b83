#pragma once

#include <expected>
#include <string>

namespace quill {

// Passwords kept outside the profile files, one per site name. Every call
// ends (with an error text when the store could not do it); none waits
// without end.
class PasswordStore {
public:
    virtual ~PasswordStore() = default;
    virtual std::expected<void, std::string> Store(const std::string& site,
                                                   const std::string& password) = 0;
    // An error also when the store holds no password for the site.
    virtual std::expected<std::string, std::string> Load(const std::string& site) = 0;
    // Removing a password that is not there succeeds.
    virtual std::expected<void, std::string> Remove(const std::string& site) = 0;
};

}  // namespace quill
