// The server field of the site manager and the quick-connect bar (typed, or
// read from a profile): no user, password, path or port ends up in the host.
#include "Fuzz.h"

#include "ftp/ServerField.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quill::fuzz::Check;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quill::ServerField field = quill::ParseServerField(text);
    Check(field.host.size() <= text.size(), "the host is part of the text");
    Check(text.find(field.host) != std::string_view::npos, "the host is taken from the text");
    if (!field.protocol) {
        Check(!field.port, "plain text is a host and perhaps a user");
        Check(field.valid, "plain text is never refused here");
        return 0;
    }
    // A user and password are split off at the last "@", so none is left.
    Check(field.host.find_first_of("/?#@[]") == std::string::npos,
          "no path, user, password or brackets in the host");
    Check(!field.port || *field.port != 0, "a port is 1 to 65535");
    Check(!field.valid || !field.host.empty(), "a valid address has a host");
    return 0;
}
