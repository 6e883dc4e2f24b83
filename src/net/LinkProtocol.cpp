#include "FtpLink.h"

#include "common/TextOps.h"

namespace quill {
namespace {

FtpResult<void> withoutReply(const FtpResult<std::string>& result) {
    if (!result) {
        return std::unexpected(result.error());
    }
    return {};
}

class FtpCommands final : public LinkProtocol {
public:
    explicit FtpCommands(FtpLink& link) : d(link) {}

    bool applyOptions(CURL* curl) override {
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        if (!d.params.passive) {
            curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
        }
        if (d.params.protocol != FtpProtocol::Ftps) {
            return true;
        }
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        if (d.tls12) {
            curl_easy_setopt(curl, CURLOPT_SSLVERSION,
                             static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                                 static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
        }
        return d.trust.checkCertificates(curl);
    }

    FtpResult<std::string> logIn() override {
        // No body on the root address: USER, PASS and PWD only.
        auto done = d.perform([this] {
            curl_easy_setopt(d.curl, CURLOPT_URL, d.baseUrl.c_str());
            curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        });
        if (!done) {
            return std::unexpected(done.error());
        }
        std::string loginFolder;
        const char* entry = nullptr;
        if (curl_easy_getinfo(d.curl, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry) {
            loginFolder = entry;
        }
        // MLSD gives exact types, UTC times and names with blanks; only
        // servers whose FEAT lists MLST get it. A server without FEAT gets LIST.
        if (quote({"FEAT"}, 2)) {
            readFeatures();
            if (d.utf8) {
                d.sendUtf8On();
            }
        } else if (d.stopRequested()) {
            return std::unexpected(d.errorFor(CURLE_ABORTED_BY_CALLBACK));
        }
        return loginFolder;
    }

    bool loggedIn(CURLcode, long) const override {
        // FTP's data connections count as connections too: look for the
        // login's own reply.
        for (const char* verb : {"USER", "PASS"}) {
            const auto* login = d.withVerb(verb);
            if (login && login->reply.starts_with("230")) {
                return true;
            }
        }
        return false;
    }

    std::string homeUrl() const override { return d.baseUrl; }
    std::string urlFor(std::string_view path) const override {
        return d.baseUrl + EscapeRemotePath(path);
    }
    const char* listCommand(bool withHidden) const override {
        return d.mlsd ? "MLSD" : withHidden ? "LIST -a" : nullptr;
    }
    bool hasReplies() const override { return true; }
    bool canResumeUploads() const override { return d.restStream; }
    void startUploadAt(CURL* curl, std::int64_t offset, std::int64_t size, curl_seek_callback,
                       void*, curl_slist*& prequote) const override {
        // REST right before STOR: the server writes from there on.
        if (offset > 0 && prequote == nullptr) {
            prequote = curl_slist_append(nullptr, ("REST " + std::to_string(offset)).c_str());
        }
        curl_easy_setopt(curl, CURLOPT_PREQUOTE, prequote);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size - offset));
    }
    bool uploadOpened(bool, bool) const override { return d.opened("STOR"); }
    bool uploadNameRefused(const FtpError&) const override {
        // A 5xx to STOR refuses the name.
        const auto* stor = d.withVerb("STOR");
        return stor && stor->reply.starts_with('5');
    }

    FtpResult<void> keepAlive() override { return withoutReply(quote({"NOOP"}, 2)); }
    FtpResult<void> createDirectory(std::string_view path) override {
        return withoutReply(quote({"MKD " + std::string(path)}, 2, path));
    }
    FtpResult<void> removeDirectory(std::string_view path) override {
        return withoutReply(quote({"RMD " + std::string(path)}, 2, path));
    }
    FtpResult<void> deleteFile(std::string_view path) override {
        return withoutReply(quote({"DELE " + std::string(path)}, 2, path));
    }
    FtpResult<void> renameFile(std::string_view from, std::string_view to) override {
        return withoutReply(quote({"RNFR " + std::string(from), "RNTO " + std::string(to)}, 2, to));
    }
    FtpResult<std::string> siteCommand(std::string_view command) override {
        return quote({"SITE " + std::string(command)}, 2);
    }
    FtpResult<std::string> changeMode(std::string_view path, std::string_view mode) override {
        return siteCommand("CHMOD " + std::string(mode) + " " + std::string(path));
    }

private:
    void readFeatures() {
        for (const auto& exchange : d.exchanges) {
            if (exchange.command != "FEAT") {
                continue;
            }
            for (const auto& line : exchange.lines) {
                std::string_view feature(line);
                while (!feature.empty() && feature.front() == ' ') {
                    feature.remove_prefix(1);
                }
                const std::string lower = AsciiLower(feature);
                if (lower.starts_with("mlst")) {
                    d.mlsd = true;
                } else if (lower.starts_with("rest stream")) {
                    d.restStream = true;
                } else if (lower == "utf8" || lower.starts_with("utf8 ")) {
                    d.utf8 = true;
                }
            }
        }
    }

    // Sends commands, checking each reply; the last must be of class
    // lastExpectedClass. near: an absolute path the commands touch, or "".
    FtpResult<std::string> quote(const std::vector<std::string>& commands, int lastExpectedClass,
                                 std::string_view near = {}) {
        for (const auto& command : commands) {
            if (HoldsLineBreakOrNul(command)) {
                return std::unexpected(LineBreakError("The name holds a line break"));
            }
        }
        // curl changes to the address's folder after the commands: the
        // folder of the path they touch is usually where the connection
        // already is, so no CWD goes out.
        const std::string url =
            near.starts_with('/') ? urlFor(near.substr(0, near.rfind('/') + 1)) : d.baseUrl;
        curl_slist* list = nullptr;
        // '*' keeps curl going after a refused command, so the connection
        // survives; the replies are checked below instead.
        for (const auto& command : commands) {
            list = curl_slist_append(list, ("*" + command).c_str());
        }
        auto done = d.perform(
            [&] {
                curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
                curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
                curl_easy_setopt(d.curl, CURLOPT_QUOTE, list);
            },
            {},
            // Once the first command went out, the server may have carried
            // it out; sending it again could fail and hide that.
            [&] { return !d.sent(commands.front()); });
        curl_slist_free_all(list);
        if (!done) {
            FtpError error = done.error();
            if (d.sent(commands.front()) && error.kind != FtpErrorKind::Stopped) {
                error.kind = FtpErrorKind::Dropped;
            }
            return std::unexpected(error);
        }
        std::string lastReply;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const CurlExchange::Exchange* found = nullptr;
            for (const auto& exchange : d.exchanges) {
                if (exchange.command == commands[i]) {
                    found = &exchange;
                }
            }
            const bool answered = found && !found->reply.empty();
            const int replyClass = answered ? found->reply[0] - '0' : 0;
            const bool last = i + 1 == commands.size();
            const bool ok =
                last ? replyClass == lastExpectedClass : (replyClass == 2 || replyClass == 3);
            if (!ok) {
                return std::unexpected(
                    FtpError{0, answered ? found->reply : "No reply to " + commands[i],
                             answered ? FtpErrorKind::Refused : FtpErrorKind::Dropped});
            }
            lastReply = found->reply;
        }
        return lastReply;
    }

    FtpLink& d;
};

// A path as one argument of an SFTP quote command: in double quotes, with
// '"' and '\' escaped the way libcurl reads them back.
std::string sftpArgument(std::string_view path) {
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

class SftpCommands final : public LinkProtocol {
public:
    explicit SftpCommands(FtpLink& link) : d(link) {}

    bool applyOptions(CURL* curl) override {
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "sftp");
        curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES,
                         static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        d.trust.checkHostKeys(curl);
        return true;
    }

    FtpResult<std::string> logIn() override {
        curl_slist* pwd = curl_slist_append(nullptr, "pwd");
        const std::string home = homeUrl();
        auto done = d.perform([&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, home.c_str());
            curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(d.curl, CURLOPT_QUOTE, pwd);
        });
        curl_slist_free_all(pwd);
        if (!done) {
            return std::unexpected(done.error());
        }
        std::string loginFolder;
        for (const auto& exchange : d.exchanges) {
            const auto first = exchange.reply.find('"');
            const auto last = exchange.reply.rfind('"');
            if (AsciiLower(exchange.command) == "pwd" && exchange.reply.starts_with("257 ") &&
                first != std::string::npos && last > first) {
                loginFolder = exchange.reply.substr(first + 1, last - first - 1);
            }
        }
        return loginFolder;
    }

    bool loggedIn(CURLcode code, long newConnections) const override {
        return newConnections > 0 && code != CURLE_COULDNT_CONNECT && code != CURLE_LOGIN_DENIED &&
               code != CURLE_OPERATION_TIMEDOUT && code != CURLE_SSH &&
               code != CURLE_ABORTED_BY_CALLBACK;
    }

    // "~" is the folder the server starts the session in; libcurl answers
    // "pwd" with it, as an FTP server answers PWD.
    std::string homeUrl() const override { return d.baseUrl + "~/"; }
    std::string urlFor(std::string_view path) const override {
        // SFTP addresses are absolute already: "sftp://host/a/b".
        std::string escaped = EscapeRemotePath(path);
        escaped.erase(0, escaped.starts_with("%2F/") ? 4 : 3);
        return d.baseUrl + escaped;
    }
    const char* listCommand(bool) const override { return nullptr; }
    bool hasReplies() const override { return false; }
    bool canResumeUploads() const override { return true; }
    void startUploadAt(CURL* curl, std::int64_t offset, std::int64_t size, curl_seek_callback seek,
                       void* seekData, curl_slist*&) const override {
        if (offset > 0) {
            // SFTP opens the file for appending and seeks the local one.
            curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
            curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, seek);
            curl_easy_setopt(curl, CURLOPT_SEEKDATA, seekData);
        }
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    }
    // No reply to read: the file was open once curl asked for data, or when
    // the transfer broke off.
    bool uploadOpened(bool touched, bool brokeOff) const override { return touched || brokeOff; }
    bool uploadNameRefused(const FtpError& error) const override {
        return error.curlCode == CURLE_REMOTE_ACCESS_DENIED;
    }

    FtpResult<void> keepAlive() override {
        // A stat of the home folder: one request the server answers.
        const std::string home = homeUrl();
        return d.perform([&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, home.c_str());
            curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        });
    }
    FtpResult<void> createDirectory(std::string_view path) override {
        return command("mkdir " + sftpArgument(path));
    }
    FtpResult<void> removeDirectory(std::string_view path) override {
        return command("rmdir " + sftpArgument(path));
    }
    FtpResult<void> deleteFile(std::string_view path) override {
        return command("rm " + sftpArgument(path));
    }
    FtpResult<void> renameFile(std::string_view from, std::string_view to) override {
        return command("rename " + sftpArgument(from) + " " + sftpArgument(to));
    }
    FtpResult<std::string> siteCommand(std::string_view) override {
        return std::unexpected(
            FtpError{0, "SITE commands are FTP commands; SFTP has none", FtpErrorKind::Failed});
    }
    FtpResult<std::string> changeMode(std::string_view path, std::string_view mode) override {
        const bool octal = !mode.empty() && mode.size() <= 4 &&
                           mode.find_first_not_of("01234567") == std::string_view::npos;
        if (!octal) {
            return std::unexpected(
                FtpError{0, "The mode must be three or four octal digits", FtpErrorKind::Failed});
        }
        if (auto done = command("chmod " + std::string(mode) + " " + sftpArgument(path)); !done) {
            return std::unexpected(done.error());
        }
        return "Permissions of " + std::string(path) + " set to " + std::string(mode);
    }

private:
    FtpResult<void> command(const std::string& text) {
        if (HoldsLineBreakOrNul(text)) {
            return std::unexpected(LineBreakError("The name holds a line break"));
        }
        curl_slist* list = curl_slist_append(nullptr, text.c_str());
        // No second attempt: the command may have run before the connection
        // broke. A refusal leaves the SSH connection open.
        auto done = d.perform(
            [&] {
                curl_easy_setopt(d.curl, CURLOPT_URL, d.baseUrl.c_str());
                curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
                curl_easy_setopt(d.curl, CURLOPT_QUOTE, list);
                curl_easy_setopt(
                    d.curl, CURLOPT_TIMEOUT,
                    d.params.timeouts.connectSeconds + d.params.timeouts.serverResponseSeconds);
            },
            {}, [] { return false; });
        curl_slist_free_all(list);
        return done;
    }

    FtpLink& d;
};

}  // namespace

std::unique_ptr<LinkProtocol> MakeLinkProtocol(FtpLink& link) {
    if (link.sftp()) {
        return std::make_unique<SftpCommands>(link);
    }
    return std::make_unique<FtpCommands>(link);
}

}  // namespace quill
