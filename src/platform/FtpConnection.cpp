#include "FtpConnection.h"

#include "ServerTrust.h"
#include "common/FileWrite.h"
#include "common/TextOps.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <utility>

namespace quill {
namespace {

bool curlReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

bool globMatch(std::string_view mask, std::string_view name) {
    // Iterative '*' backtracking: linear in practice, no recursion depth.
    std::size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (m < mask.size() &&
                   (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
            ++m;
            ++n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

// What NOBODY requests write (FTP's "Content-Length: ..." lines) goes nowhere.
size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

bool hasLineBreakOrNul(std::string_view text) {
    return HoldsLineBreak(text) || text.find('\0') != std::string_view::npos;
}

// Codes after which a reused connection may simply have been dropped by the
// server while idle; one more try then opens a fresh one.
bool mayBeDroppedConnection(CURLcode code) {
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
           code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_FTP_ACCEPT_FAILED;
}

FtpResult<void> withoutReply(const FtpResult<std::string>& result) {
    if (!result) {
        return std::unexpected(result.error());
    }
    return {};
}

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

}  // namespace

std::string_view ProtocolName(FtpProtocol protocol) {
    switch (protocol) {
        case FtpProtocol::Ftps:
            return "FTPS";
        case FtpProtocol::Sftp:
            return "SFTP";
        case FtpProtocol::Ftp:
            break;
    }
    return "FTP";
}

std::uint16_t DefaultPort(FtpProtocol protocol) {
    return protocol == FtpProtocol::Sftp ? 22 : 21;
}

std::optional<FtpProtocol> ProtocolFromName(std::string_view name) {
    for (const auto protocol : {FtpProtocol::Ftp, FtpProtocol::Ftps, FtpProtocol::Sftp}) {
        if (AsciiLower(name) == AsciiLower(ProtocolName(protocol))) {
            return protocol;
        }
    }
    return std::nullopt;
}

bool FtpMaskMatches(std::string_view mask, std::string_view name) {
    if (mask.empty() || mask == "*" || mask == "*.*") {
        return true;
    }
    return globMatch(mask, name);
}

std::string EscapeRemotePath(std::string_view absolutePath) {
    std::string out = "%2F";
    bool first = true;
    std::size_t i = 0;
    while (i < absolutePath.size()) {
        const auto slash = absolutePath.find('/', i);
        const auto end = slash == std::string_view::npos ? absolutePath.size() : slash;
        if (end > i) {
            const std::string_view segment = absolutePath.substr(i, end - i);
            char* escaped =
                curl_easy_escape(nullptr, segment.data(), static_cast<int>(segment.size()));
            if (!first) {
                out += '/';
            }
            out += escaped ? escaped : "";
            curl_free(escaped);
            first = false;
        }
        i = end + 1;
    }
    if (!absolutePath.empty() && absolutePath.back() == '/') {
        out += '/';
    }
    return out;
}

std::unique_ptr<FtpInternetSession> FtpInternetSession::Open(std::string agent) {
    if (!curlReady()) {
        return nullptr;
    }
    return std::unique_ptr<FtpInternetSession>(new FtpInternetSession(std::move(agent)));
}

struct FtpConnection::Impl {
    struct Exchange {
        std::string command;
        std::string reply;               // the final reply line, "" until it arrived
        std::vector<std::string> lines;  // every reply line, multi-line ones too
    };

    CURL* curl = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    // The key the server showed when it was not trusted, for the error.
    std::optional<FtpServerKey> untrusted;
    // Why a key the user accepted could not be remembered.
    std::string trustNote;
    // Every operation runs in this one multi handle, so they share its
    // connection cache (one login) and its wait can be kept short.
    CURLM* multi = nullptr;
    FtpConnectParams params;
    std::string baseUrl;  // "ftp://host:port/" or "sftp://host:port/"
    std::deque<Exchange> exchanges;
    std::size_t firstUnanswered = 0;
    std::string lastReply;
    // Why the running transfer was aborted by one of our callbacks.
    bool tooLarge = false;
    // What FEAT offered.
    bool restStream = false;
    bool utf8 = false;
    // Logged in once: a new connection after that is a re-established one.
    bool established = false;
    bool optsPending = false;
    // Cleaning up after a stop must still reach the server.
    bool ignoreStop = false;
    // Servers such as vsftpd take a data connection only when it resumes
    // the login's TLS session. Over TLS 1.3 this libcurl also keeps the
    // data connections' session tickets, and now and then a data connection
    // offers a used-up one and is refused ("522"); TLS 1.2 resumes the one
    // session every time, so after such a refusal the connection is made
    // again with it.
    // Large uploads cut off keep their temp file, to be resumed.
    bool keepUnfinished = true;
    bool tls12 = false;
    bool tls12Refused = false;
    bool tlsSwitched = false;  // the attempt running is the first with TLS 1.2
    bool freshNext = false;
    std::vector<std::string> notes;
    // Temporary names of uploads cut off, by target and local file, so the
    // next upload of the same file resumes.
    std::map<std::string, std::string> uploadParts;
    // Partial downloads in each local folder used, read once per folder.
    std::map<std::string, std::set<std::string>> partials;

    std::set<std::string>& partialsIn(const std::filesystem::path& folder) {
        auto [found, fresh] = partials.try_emplace(folder.native());
        if (fresh) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
                const std::string name = entry.path().filename().native();
                if (IsTransferTempName(name)) {
                    found->second.insert(name);
                }
            }
        }
        return found->second;
    }

    ~Impl() {
        if (curl) {
            curl_easy_cleanup(curl);
        }
        if (multi) {
            curl_multi_cleanup(multi);
        }
    }

    // curl_easy_perform waits up to a second at a time; libcurl 7.88 can
    // miss a server reply that arrived with the one before it on a reused
    // FTP connection (1 transfer in 10 to 40 here) and then waits that whole
    // second. Short waits in our own loop take the reply at once.
    CURLcode run() {
        static constexpr int kWaitMs = 20;
        if (!multi && !(multi = curl_multi_init())) {
            return CURLE_OUT_OF_MEMORY;
        }
        if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
        CURLcode result = CURLE_OK;
        for (int running = 1;;) {
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_RECV_ERROR;
                break;
            }
            if (running == 0) {
                int queued = 0;
                while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                    if (message->msg == CURLMSG_DONE) {
                        result = message->data.result;
                    }
                }
                break;
            }
            if (curl_multi_poll(multi, nullptr, 0, kWaitMs, nullptr) != CURLM_OK) {
                result = CURLE_RECV_ERROR;
                break;
            }
        }
        curl_multi_remove_handle(multi, curl);
        return result;
    }

    static bool isReplyEnd(std::string_view line) {
        if (line.size() < 4 || line[3] != ' ') {
            return false;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            if (line[i] < '0' || line[i] > '9') {
                return false;
            }
        }
        return true;
    }

    // Every command out and reply in passes here; replies are matched to
    // commands in order, which is how the FTP control channel answers.
    static int debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN) {
            return 0;
        }
        std::string_view text(data, size);
        while (!text.empty()) {
            auto end = text.find('\n');
            std::string_view line = text.substr(0, end);
            text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            if (line.empty()) {
                continue;
            }
            if (type == CURLINFO_HEADER_OUT) {
                self->exchanges.push_back({std::string(line), {}, {}});
                continue;
            }
            if (self->firstUnanswered < self->exchanges.size()) {
                Exchange& exchange = self->exchanges[self->firstUnanswered];
                if (exchange.lines.size() < 200) {
                    exchange.lines.emplace_back(line);
                }
            }
            if (isReplyEnd(line)) {
                self->lastReply = std::string(line);
                if (self->firstUnanswered < self->exchanges.size()) {
                    self->exchanges[self->firstUnanswered++].reply = std::string(line);
                }
            }
        }
        return 0;
    }

    // Called at least once a second while curl waits, so a stop from the
    // window ends any wait within about a second.
    static int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        const auto* self = static_cast<Impl*>(user);
        return self->stopRequested() ? 1 : 0;
    }

    bool stopRequested() const {
        return !ignoreStop && params.stop != nullptr &&
               params.stop->load(std::memory_order_relaxed);
    }

    bool sftp() const { return params.protocol == FtpProtocol::Sftp; }

    std::filesystem::path trustFile(const char* name) const {
        return params.trustFolder.empty() ? std::filesystem::path{} : params.trustFolder / name;
    }

    // Trusts a certificate that did not verify only when the user accepted
    // exactly this one for this server, now or earlier; a different one
    // than remembered is a changed key and never trusted here.
    bool trustCertificate(const std::string& fingerprint, std::string reason) {
        const std::string server = ServerName(params.host, params.port);
        const auto file = trustFile(kKnownCertificatesFile);
        const auto remembered = file.empty() ? std::nullopt : RememberedCertificate(file, server);
        if (remembered && *remembered == fingerprint) {
            return true;
        }
        if (!remembered && fingerprint == params.acceptedFingerprint) {
            if (!file.empty()) {
                noteIfFailed(RememberCertificate(file, server, fingerprint));
            }
            return true;
        }
        untrusted = FtpServerKey{fingerprint, "certificate", server, remembered.has_value(),
                                 std::move(reason)};
        return false;
    }

    void noteIfFailed(const std::expected<void, std::string>& remembered) {
        if (!remembered) {
            trustNote = "The accepted key could not be remembered (" + remembered.error() +
                        "); it will be asked about again next time";
        }
    }

    // Replaces OpenSSL's check of the server's certificate: the system's
    // store and the host name first, then what the user trusted.
    static int verifyCertificate(X509_STORE_CTX* store, void* user) {
        auto* self = static_cast<Impl*>(user);
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        unsigned char* der = nullptr;
        const int length = leaf ? i2d_X509(leaf, &der) : 0;
        if (length <= 0) {
            return 0;
        }
        const std::string fingerprint = CertificateFingerprint(
            std::string_view(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)));
        OPENSSL_free(der);
        const bool chainOk = X509_verify_cert(store) == 1;
        const std::string& host = self->params.host;
        const int ip = X509_check_ip_asc(leaf, host.c_str(), 0);
        const bool nameOk = ip == 1 || (ip == -2 && X509_check_host(leaf, host.data(), host.size(),
                                                                    0, nullptr) == 1);
        if (chainOk && nameOk) {
            return 1;
        }
        std::string reason = chainOk
                                 ? "it is not made out to " + host
                                 : X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
        if (!self->trustCertificate(fingerprint, std::move(reason))) {
            return 0;
        }
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }

    static CURLcode setUpTls(CURL*, void* context, void* user) {
        SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), &Impl::verifyCertificate,
                                         user);
        return CURLE_OK;
    }

    // libcurl has matched the host key against our known-hosts file.
    static int checkHostKey(CURL*, const curl_khkey*, const curl_khkey* found,
                            enum curl_khmatch match, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (found == nullptr || found->len == 0) {
            return CURLKHSTAT_REJECT;
        }
        const std::string_view blob(found->key, found->len);
        if (match == CURLKHMATCH_OK) {
            return CURLKHSTAT_FINE;
        }
        const std::string fingerprint = SshKeyFingerprint(blob);
        const FtpConnectParams& params = self->params;
        if (match == CURLKHMATCH_MISSING && fingerprint == params.acceptedFingerprint) {
            if (const auto file = self->trustFile(kKnownHostsFile); !file.empty()) {
                self->noteIfFailed(
                    RememberHostKey(file, KnownHostsName(params.host, params.port), blob));
            }
            return CURLKHSTAT_FINE;
        }
        self->untrusted =
            FtpServerKey{fingerprint, SshKeyType(blob), ServerName(params.host, params.port),
                         match == CURLKHMATCH_MISMATCH, ""};
        return CURLKHSTAT_REJECT;
    }

    // False when the TLS checks cannot be put in place: then nothing is sent.
    bool applyCommonOptions() {
        curl_easy_reset(curl);
        errorBuffer[0] = '\0';
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, sftp() ? "sftp" : "ftp");
        curl_easy_setopt(curl, CURLOPT_USERNAME, params.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, params.password.c_str());
        curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, params.timeouts.connectSeconds);
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         params.timeouts.serverResponseSeconds);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, params.timeouts.lowSpeedSeconds);
        curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, params.timeouts.maxConnectionAgeSeconds);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
        // "." and ".." are names on the server, not steps for curl to resolve.
        curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Impl::debug);
        curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Impl::progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        if (!params.passive) {
            curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
        }
        if (sftp()) {
            curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES,
                             static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
            // libcurl asks about the host key only with a known-hosts file.
            const auto knownHosts = trustFile(kKnownHostsFile);
            curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS,
                             knownHosts.empty() ? "/dev/null" : knownHosts.c_str());
            curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, &Impl::checkHostKey);
            curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, this);
        } else if (params.protocol == FtpProtocol::Ftps) {
            curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
            if (tls12) {
                curl_easy_setopt(curl, CURLOPT_SSLVERSION,
                                 static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                                     static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
            }
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
            // verifyCertificate checks the name, so a trusted key may carry
            // another one.
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this);
            return curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &Impl::setUpTls) == CURLE_OK;
        }
        return true;
    }

    FtpError errorFor(CURLcode code) const {
        FtpError error{static_cast<int>(code), curl_easy_strerror(code), FtpErrorKind::Failed};
        if (untrusted && code != CURLE_ABORTED_BY_CALLBACK) {
            error.kind = FtpErrorKind::Untrusted;
            error.key = untrusted;
            const bool certificate = params.protocol == FtpProtocol::Ftps;
            error.text = std::string("The server's ") +
                         (certificate ? "certificate " : "host key ") +
                         (untrusted->changed ? "has changed"
                          : certificate      ? "is not trusted (" + untrusted->reason + ")"
                                             : "is not known yet");
            return error;
        }
        switch (code) {
            case CURLE_ABORTED_BY_CALLBACK:
                error.kind = FtpErrorKind::Stopped;
                error.text = "Stopped by the user";
                return error;
            case CURLE_WRITE_ERROR:
                if (tooLarge) {
                    error.kind = FtpErrorKind::TooLarge;
                    error.text = "The listing is larger than " +
                                 std::to_string(params.timeouts.listingMaxBytes >> 20) + " MB";
                    return error;
                }
                break;
            case CURLE_OPERATION_TIMEDOUT:
                error.kind = FtpErrorKind::TimedOut;
                break;
            case CURLE_COULDNT_CONNECT:
            case CURLE_LOGIN_DENIED:
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_FTP_ACCEPT_FAILED:
                error.kind = FtpErrorKind::Refused;
                break;
            case CURLE_REMOTE_ACCESS_DENIED:
            case CURLE_REMOTE_FILE_NOT_FOUND:
                error.kind = FtpErrorKind::NotFound;
                break;
            case CURLE_QUOTE_ERROR:
                error.kind = FtpErrorKind::Refused;
                break;
            case CURLE_SSH:
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
            case CURLE_GOT_NOTHING:
            case CURLE_PARTIAL_FILE:
            case CURLE_FTP_WEIRD_SERVER_REPLY:
                error.kind = FtpErrorKind::Dropped;
                break;
            default:
                break;
        }
        if (!lastReply.empty() && !sftp()) {
            error.text += " (" + lastReply + ")";
        } else if (params.protocol != FtpProtocol::Ftp && errorBuffer[0] != '\0' &&
                   error.text != errorBuffer) {
            error.text += " (" + std::string(errorBuffer) + ")";
        }
        return error;
    }

    // Said once the first login is done, whether or not the operation that
    // logged in again went on to succeed.
    void noteNewLogin(CURLcode code, long newConnections, bool asked) {
        bool loggedIn = false;
        if (sftp()) {
            loggedIn = newConnections > 0 && code != CURLE_COULDNT_CONNECT &&
                       code != CURLE_LOGIN_DENIED && code != CURLE_OPERATION_TIMEDOUT &&
                       code != CURLE_SSH && code != CURLE_ABORTED_BY_CALLBACK;
        } else {
            // FTP's data connections count as connections too: look for
            // the login's own reply.
            for (const char* verb : {"USER", "PASS"}) {
                const Exchange* login = withVerb(verb);
                loggedIn = loggedIn || (login && login->reply.starts_with("230"));
            }
        }
        if (loggedIn && established && !ignoreStop) {
            if (!asked) {
                notes.push_back("The connection had been closed; it was re-established.");
            }
            optsPending = utf8 && !sftp();
        }
    }

    // Servers that convert names to another code page stop doing so.
    void sendUtf8On() {
        curl_slist* list = curl_slist_append(nullptr, "*OPTS UTF8 ON");
        perform([&] {
            curl_easy_setopt(curl, CURLOPT_URL, baseUrl.c_str());
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(curl, CURLOPT_QUOTE, list);
        });
        curl_slist_free_all(list);
    }

    // Runs one operation. When it failed on a reused connection in a way that
    // says the server had dropped it while idle, it runs once more, but only
    // if retry() says nothing of it can have reached the server.
    FtpResult<void> perform(const std::function<void()>& setup,
                            const std::function<void()>& beforeAttempt = {},
                            const std::function<bool()>& mayRetry = {}) {
        if (optsPending) {
            optsPending = false;
            sendUtf8On();
        }
        int tlsRetries = 0;
        for (int attempt = 0;; ++attempt) {
            if (!applyCommonOptions()) {
                return std::unexpected(FtpError{CURLE_NOT_BUILT_IN,
                                                "This system's libcurl cannot check certificates "
                                                "the way FTPS needs",
                                                FtpErrorKind::Failed});
            }
            setup();
            const bool fresh = std::exchange(freshNext, false);
            if (fresh) {
                curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
            }
            exchanges.clear();
            firstUnanswered = 0;
            lastReply.clear();
            tooLarge = false;
            untrusted.reset();
            if (beforeAttempt) {
                beforeAttempt();
            }
            if (stopRequested()) {
                return std::unexpected(errorFor(CURLE_ABORTED_BY_CALLBACK));
            }
            const CURLcode code = run();
            long newConnections = 0;
            curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &newConnections);
            noteNewLogin(code, newConnections, fresh);
            if (code == CURLE_OK) {
                if (std::exchange(tlsSwitched, false)) {
                    notes.push_back(
                        "The server refused to resume the TLS session for a file; "
                        "TLS 1.2 is used from now on, which resumes it every time.");
                }
                return {};
            }
            // A server closing an idle session says 421 first; curl may then
            // wait for a reply that never comes.
            const bool closedBy421 = !sftp() && lastReply.starts_with("421");
            // The data connection was refused before any byte moved: the
            // command can go again, whatever it was, on a new connection.
            if (params.protocol == FtpProtocol::Ftps) {
                if (tlsSwitched && code == CURLE_SSL_CONNECT_ERROR) {
                    // The server cannot do TLS 1.2 (its ciphers fit only 1.3).
                    tlsSwitched = false;
                    tls12 = false;
                    tls12Refused = true;
                    freshNext = true;
                    continue;
                }
                tlsSwitched = false;
                if (lastReply.starts_with("522") && tlsRetries++ < 2) {
                    if (!tls12 && !tls12Refused) {
                        tls12 = true;
                        tlsSwitched = true;
                    }
                    freshNext = true;
                    continue;
                }
            }
            if (attempt == 0 && newConnections == 0 &&
                (mayBeDroppedConnection(code) || closedBy421) && (!mayRetry || mayRetry())) {
                continue;
            }
            return std::unexpected(errorFor(code));
        }
    }

    // A transfer the server ended with an error reply (a full disk, say)
    // did not lose its connection, whatever curl's code says.
    void keepServerFailure(FtpError& error) const {
        const bool connectionReply = lastReply.starts_with("421") || lastReply.starts_with("425") ||
                                     lastReply.starts_with("426");
        if (!sftp() && error.kind == FtpErrorKind::Dropped && !connectionReply &&
            (lastReply.starts_with('4') || lastReply.starts_with('5'))) {
            error.kind = FtpErrorKind::Failed;
        }
    }

    bool sent(std::string_view command) const {
        for (const auto& exchange : exchanges) {
            if (exchange.command == command) {
                return true;
            }
        }
        return false;
    }

    // The exchange of a transfer command ("RETR path", "STOR path"), or null.
    const Exchange* withVerb(std::string_view verb) const {
        for (const auto& exchange : exchanges) {
            if (exchange.command.starts_with(verb) && exchange.command.size() > verb.size() &&
                exchange.command[verb.size()] == ' ') {
                return &exchange;
            }
        }
        return nullptr;
    }
    // The transfer command went out.
    bool sentVerb(std::string_view verb) const { return withVerb(verb) != nullptr; }
    // The server answered it with a preliminary 1xx: the file is open.
    bool opened(std::string_view verb) const {
        const Exchange* exchange = withVerb(verb);
        return exchange != nullptr && exchange->reply.starts_with('1');
    }
};

FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {
}
FtpConnection::~FtpConnection() = default;

FtpResult<std::unique_ptr<FtpConnection>> FtpConnection::Connect(const FtpInternetSession&,
                                                                 FtpConnectParams params) {
    const std::string& host = params.host;
    if (host.empty() || host.find_first_of(" /?#@\\[]\"<>") != std::string::npos ||
        hasLineBreakOrNul(host) || params.port == 0) {
        return std::unexpected(
            FtpError{CURLE_URL_MALFORMAT, "Invalid server address or port", FtpErrorKind::Failed});
    }
    if (hasLineBreakOrNul(params.user) || hasLineBreakOrNul(params.password)) {
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT,
                                        "The user name or password holds a line break",
                                        FtpErrorKind::Failed});
    }
    auto impl = std::make_unique<Impl>();
    impl->curl = curl_easy_init();
    if (!impl->curl) {
        return std::unexpected(
            FtpError{CURLE_FAILED_INIT, "Cannot create a connection", FtpErrorKind::Failed});
    }
    impl->baseUrl = std::string(params.protocol == FtpProtocol::Sftp ? "sftp://" : "ftp://") +
                    ServerName(host, params.port) + "/";
    impl->params = std::move(params);
    Impl& d = *impl;
    if (d.sftp()) {
        return ConnectSftp(std::move(impl));
    }
    // No body on the root address: USER, PASS and PWD only.
    auto done = d.perform([&d] {
        curl_easy_setopt(d.curl, CURLOPT_URL, d.baseUrl.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
    });
    if (!done) {
        return std::unexpected(done.error());
    }
    std::unique_ptr<FtpConnection> connection(new FtpConnection(std::move(impl)));
    const char* entry = nullptr;
    if (curl_easy_getinfo(connection->m_impl->curl, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK &&
        entry) {
        connection->m_loginFolder = entry;
    }
    // MLSD gives exact types, UTC times and names with blanks; only servers
    // whose FEAT lists MLST get it. A server without FEAT gets LIST.
    if (connection->quote({"FEAT"}, 2)) {
        for (const auto& exchange : connection->m_impl->exchanges) {
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
                    connection->m_mlsd = true;
                } else if (lower.starts_with("rest stream")) {
                    connection->m_impl->restStream = true;
                } else if (lower == "utf8" || lower.starts_with("utf8 ")) {
                    connection->m_impl->utf8 = true;
                }
            }
        }
        if (connection->m_impl->utf8) {
            connection->m_impl->sendUtf8On();
        }
    } else if (connection->m_impl->stopRequested()) {
        return std::unexpected(connection->m_impl->errorFor(CURLE_ABORTED_BY_CALLBACK));
    }
    connection->m_impl->established = true;
    return connection;
}

FtpResult<std::unique_ptr<FtpConnection>> FtpConnection::ConnectSftp(std::unique_ptr<Impl> impl) {
    Impl& d = *impl;
    // "~" is the folder the server starts the session in; libcurl answers
    // "pwd" with it, as an FTP server answers PWD.
    const std::string home = d.baseUrl + "~/";
    curl_slist* pwd = curl_slist_append(nullptr, "pwd");
    auto done = d.perform([&] {
        curl_easy_setopt(d.curl, CURLOPT_URL, home.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(d.curl, CURLOPT_QUOTE, pwd);
    });
    curl_slist_free_all(pwd);
    if (!done) {
        return std::unexpected(done.error());
    }
    std::unique_ptr<FtpConnection> connection(new FtpConnection(std::move(impl)));
    for (const auto& exchange : d.exchanges) {
        const auto first = exchange.reply.find('"');
        const auto last = exchange.reply.rfind('"');
        if (AsciiLower(exchange.command) == "pwd" && exchange.reply.starts_with("257 ") &&
            first != std::string::npos && last > first) {
            connection->m_loginFolder = exchange.reply.substr(first + 1, last - first - 1);
        }
    }
    connection->m_impl->established = true;
    return connection;
}

const std::string& FtpConnection::TrustNote() const {
    return m_impl->trustNote;
}

void FtpConnection::KeepUnfinishedUploads(bool keep) {
    m_impl->keepUnfinished = keep;
}

bool FtpConnection::CanResumeUploads() const {
    return m_impl->sftp() || m_impl->restStream;
}

bool FtpConnection::UsesUtf8() const {
    return m_impl->utf8;
}

std::vector<std::string> FtpConnection::TakeNotes() {
    return std::exchange(m_impl->notes, {});
}

FtpResult<void> FtpConnection::KeepAlive() {
    Impl& d = *m_impl;
    if (d.sftp()) {
        // A stat of the home folder: one request the server answers.
        const std::string home = d.baseUrl + "~/";
        return d.perform([&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, home.c_str());
            curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        });
    }
    return withoutReply(quote({"NOOP"}, 2));
}

FtpResult<void> FtpConnection::Reconnect() {
    Impl& d = *m_impl;
    const std::string url = d.sftp() ? d.baseUrl + "~/" : d.baseUrl;
    auto done = d.perform([&] {
        curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(d.curl, CURLOPT_FRESH_CONNECT, 1L);
    });
    // The caller logs the reconnect itself.
    d.notes.clear();
    if (done && d.utf8 && !d.sftp()) {
        d.optsPending = false;
        d.sendUtf8On();
    }
    return done;
}

std::string FtpConnection::UrlFor(std::string_view path) const {
    std::string escaped = EscapeRemotePath(path);
    if (m_impl->sftp()) {
        // SFTP addresses are absolute already: "sftp://host/a/b".
        escaped.erase(0, escaped.starts_with("%2F/") ? 4 : 3);
    }
    return m_impl->baseUrl + escaped;
}

namespace {

struct ListingRun {
    FtpListReader reader;
    std::size_t received = 0;
    std::size_t maxBytes = 0;
    bool* tooLarge = nullptr;
    std::string mask;
    const FtpEntrySink* sink = nullptr;
    std::size_t delivered = 0;

    // Hands the entries read so far to the sink, all but the last when more
    // may come: a line after it can still show its name was cut short.
    void deliver(bool all) {
        auto& entries = reader.entries;
        const std::size_t count = all ? entries.size() : entries.size() - 1;
        std::vector<FtpFindData> batch;
        batch.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (FtpMaskMatches(mask, entries[i].name)) {
                batch.push_back(std::move(entries[i]));
            }
        }
        entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(count));
        delivered += count;
        if (!batch.empty() || all) {
            (*sink)(std::move(batch));
        }
    }
};

// Entries go to the sink in batches of about this many while the listing
// arrives, so the window fills while the server still sends.
constexpr std::size_t kSinkBatch = 2000;

size_t takeListing(char* data, size_t size, size_t count, void* user) {
    auto* run = static_cast<ListingRun*>(user);
    const std::size_t bytes = size * count;
    run->received += bytes;
    if (run->received > run->maxBytes) {
        *run->tooLarge = true;
        return 0;  // curl stops with a write error
    }
    run->reader.feed(std::string_view(data, bytes));
    if (run->sink != nullptr && run->reader.entries.size() > kSinkBatch) {
        run->deliver(false);
    }
    return bytes;
}

}  // namespace

FtpResult<FtpListing> FtpConnection::FindFiles(std::string_view pattern, const FtpEntrySink& sink,
                                               bool withHidden) {
    std::string path(pattern);
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    const auto slash = path.rfind('/');
    std::string mask = path.substr(slash + 1);
    const std::string folder = path.substr(0, slash + 1);
    if (hasLineBreakOrNul(folder)) {
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT, "The folder name holds a line break",
                                        FtpErrorKind::Failed});
    }
    Impl& d = *m_impl;
    const FtpToday today = FtpToday::Now();
    std::optional<ListingRun> run;
    const std::string url = UrlFor(folder);
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            if (m_mlsd) {
                curl_easy_setopt(d.curl, CURLOPT_CUSTOMREQUEST, "MLSD");
            } else if (withHidden && d.params.protocol != FtpProtocol::Sftp) {
                curl_easy_setopt(d.curl, CURLOPT_CUSTOMREQUEST, "LIST -a");
            }
            curl_easy_setopt(d.curl, CURLOPT_TIMEOUT, d.params.timeouts.listingSeconds);
            curl_easy_setopt(d.curl, CURLOPT_WRITEFUNCTION, &takeListing);
        },
        [&] {
            run.emplace(ListingRun{FtpListReader(m_mlsd, today), 0,
                                   d.params.timeouts.listingMaxBytes, &d.tooLarge, mask,
                                   sink ? &sink : nullptr, 0});
            curl_easy_setopt(d.curl, CURLOPT_WRITEDATA, &*run);
        },
        // Entries handed out cannot be taken back: no second attempt then.
        [&] { return run->delivered == 0; });
    if (!done) {
        return std::unexpected(done.error());
    }
    run->reader.finish();
    FtpListing listing;
    if (run->sink != nullptr) {
        run->deliver(true);
    } else {
        for (auto& entry : run->reader.entries) {
            if (FtpMaskMatches(mask, entry.name)) {
                listing.entries.push_back(std::move(entry));
            }
        }
    }
    listing.skipped = std::move(run->reader.skipped);
    listing.skippedCount = run->reader.skippedCount;
    listing.cut = run->reader.cut;
    return listing;
}

FtpResult<std::string> FtpConnection::quote(const std::vector<std::string>& commands,
                                            int lastExpectedClass, std::string_view near) {
    for (const auto& command : commands) {
        if (hasLineBreakOrNul(command)) {
            return std::unexpected(
                FtpError{CURLE_URL_MALFORMAT, "The name holds a line break", FtpErrorKind::Failed});
        }
    }
    Impl& d = *m_impl;
    // curl changes to the address's folder after the commands: the folder
    // of the path they touch is usually where the connection already is,
    // so no CWD goes out.
    const std::string url =
        near.starts_with('/') ? UrlFor(near.substr(0, near.rfind('/') + 1)) : d.baseUrl;
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
        // Once the first command went out, the server may have carried it
        // out; sending it again could fail and hide that.
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
        const Impl::Exchange* found = nullptr;
        for (const auto& exchange : d.exchanges) {
            if (exchange.command == commands[i]) {
                found = &exchange;
            }
        }
        const int replyClass = found && !found->reply.empty() ? found->reply[0] - '0' : 0;
        const bool last = i + 1 == commands.size();
        const bool ok =
            last ? replyClass == lastExpectedClass : (replyClass == 2 || replyClass == 3);
        if (!ok) {
            return std::unexpected(FtpError{
                0, found && !found->reply.empty() ? found->reply : "No reply to " + commands[i],
                found && !found->reply.empty() ? FtpErrorKind::Refused : FtpErrorKind::Dropped});
        }
        lastReply = found->reply;
    }
    return lastReply;
}

FtpResult<void> FtpConnection::sftpCommand(const std::string& command) {
    if (hasLineBreakOrNul(command)) {
        return std::unexpected(
            FtpError{CURLE_URL_MALFORMAT, "The name holds a line break", FtpErrorKind::Failed});
    }
    Impl& d = *m_impl;
    curl_slist* list = curl_slist_append(nullptr, command.c_str());
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

FtpResult<void> FtpConnection::CreateDirectory(std::string_view path) {
    if (m_impl->sftp()) {
        return sftpCommand("mkdir " + sftpArgument(path));
    }
    return withoutReply(quote({"MKD " + std::string(path)}, 2, path));
}

FtpResult<void> FtpConnection::RemoveDirectory(std::string_view path) {
    if (m_impl->sftp()) {
        return sftpCommand("rmdir " + sftpArgument(path));
    }
    return withoutReply(quote({"RMD " + std::string(path)}, 2, path));
}

FtpResult<void> FtpConnection::DeleteFile(std::string_view path) {
    if (m_impl->sftp()) {
        return sftpCommand("rm " + sftpArgument(path));
    }
    return withoutReply(quote({"DELE " + std::string(path)}, 2, path));
}

FtpResult<void> FtpConnection::RenameFile(std::string_view from, std::string_view to) {
    if (m_impl->sftp()) {
        return sftpCommand("rename " + sftpArgument(from) + " " + sftpArgument(to));
    }
    return withoutReply(quote({"RNFR " + std::string(from), "RNTO " + std::string(to)}, 2, to));
}

FtpResult<std::string> FtpConnection::SiteCommand(std::string_view command) {
    if (m_impl->sftp()) {
        return std::unexpected(
            FtpError{0, "SITE commands are FTP commands; SFTP has none", FtpErrorKind::Failed});
    }
    return quote({"SITE " + std::string(command)}, 2);
}

FtpResult<std::string> FtpConnection::ChangeMode(std::string_view path, std::string_view mode) {
    if (!m_impl->sftp()) {
        return SiteCommand("CHMOD " + std::string(mode) + " " + std::string(path));
    }
    const bool octal = !mode.empty() && mode.size() <= 4 &&
                       mode.find_first_not_of("01234567") == std::string_view::npos;
    if (!octal) {
        return std::unexpected(
            FtpError{0, "The mode must be three or four octal digits", FtpErrorKind::Failed});
    }
    if (auto done = sftpCommand("chmod " + std::string(mode) + " " + sftpArgument(path)); !done) {
        return std::unexpected(done.error());
    }
    return "Permissions of " + std::string(path) + " set to " + std::string(mode);
}

FtpProtocol FtpConnection::protocol() const {
    return m_impl->params.protocol;
}

namespace {

// curl hands over what the socket had, up to this much; fewer, larger
// chunks keep the per-chunk work out of the way. 512 KiB is the most that
// libcurl 7.88 takes.
constexpr long kDownloadBufferBytes = 512L * 1024;
constexpr long kUploadBufferBytes = 64L * 1024;

FtpError localError(const std::string& what, const std::filesystem::path& path, int error) {
    return FtpError{0, what + " " + path.native() + ": " + std::strerror(error),
                    FtpErrorKind::Local};
}

FtpResult<void> checkRemotePath(std::string_view path) {
    if (path.empty() || path.front() != '/' || path.back() == '/' || hasLineBreakOrNul(path)) {
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT,
                                        "The remote file name is empty or holds a line break",
                                        FtpErrorKind::Failed});
    }
    return {};
}

// A transfer cut off by these can go on where it stopped.
bool brokeOff(FtpErrorKind kind) {
    return kind == FtpErrorKind::Stopped || kind == FtpErrorKind::Dropped ||
           kind == FtpErrorKind::TimedOut;
}

// An upload reads a file through one descriptor and counts what is in
// place, from the offset a resumed transfer starts at.
struct FileStream {
    int fd = -1;
    std::int64_t bytes = 0;
    std::atomic<std::int64_t>* moved = nullptr;
    int error = 0;  // errno of a failed read
    std::int64_t start = 0;
    bool touched = false;  // curl asked for data

    FileStream(int descriptor, std::int64_t offset, std::atomic<std::int64_t>* counter)
        : fd(descriptor), bytes(offset), moved(counter), start(offset) {
        publish();
    }
    ~FileStream() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    void publish() {
        if (moved) {
            moved->store(bytes, std::memory_order_relaxed);
        }
    }
    void count(std::size_t n) {
        touched = true;
        bytes += static_cast<std::int64_t>(n);
        publish();
    }
    bool seek(std::int64_t offset) {
        bytes = offset;
        publish();
        return ::lseek(fd, offset, SEEK_SET) == offset;
    }
    bool rewind() { return seek(start); }
};

// A download's bytes go to its writer; moved shows what is in place.
struct DownloadStream {
    ReplacingFile& file;
    std::atomic<std::int64_t>* moved = nullptr;
    std::int64_t start = 0;  // what a resumed partial held
    bool touched = false;    // curl handed over data
    std::optional<FileWriteError> error;

    void publish() const {
        if (moved) {
            moved->store(file.Size(), std::memory_order_relaxed);
        }
    }
};

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
    auto* stream = static_cast<DownloadStream*>(user);
    const std::size_t total = size * count;
    if (auto written = stream->file.Append({data, total}); !written) {
        stream->error = std::move(written.error());
        return 0;  // curl ends with a write error
    }
    stream->touched = true;
    stream->publish();
    return total;
}

size_t readFromFile(char* buffer, size_t size, size_t count, void* user) {
    auto* file = static_cast<FileStream*>(user);
    for (;;) {
        const ssize_t n = ::read(file->fd, buffer, size * count);
        if (n >= 0) {
            file->count(static_cast<std::size_t>(n));
            return static_cast<size_t>(n);
        }
        if (errno != EINTR) {
            file->error = errno;
            return CURL_READFUNC_ABORT;
        }
    }
}

// curl seeks the local file itself where SFTP resumes an upload.
int seekFile(void* user, curl_off_t offset, int origin) {
    auto* file = static_cast<FileStream*>(user);
    if (origin != SEEK_SET) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    return file->seek(offset) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

std::string randomPart(int length) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    std::string part;
    for (int i = 0; i < length; ++i) {
        part += kLetters[random() % (sizeof kLetters - 1)];
    }
    return part;
}

std::string tempName(std::string_view middle) {
    return std::string(kTransferTempPrefix) + std::string(middle) +
           std::string(kTransferTempSuffix);
}

std::string hashHex(std::string_view key) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const unsigned char c : key) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The same remote file always gives the same partial name: a stem for the
// server and path, then its size and time. A partial of an older version
// shares the stem.
std::string partialStem(std::string_view server, std::string_view remotePath) {
    return std::string(kTransferTempPrefix) +
           hashHex(std::string(server) + '\n' + std::string(remotePath)) + "-";
}
std::string partialName(const std::string& stem, const FtpFileInfo& info) {
    return stem + hashHex(std::to_string(info.size) + '\n' + std::to_string(info.modified)) +
           std::string(kTransferTempSuffix);
}

}  // namespace

FtpResult<FtpFileInfo> FtpConnection::FileInfo(std::string_view path) {
    if (auto valid = checkRemotePath(path); !valid) {
        return std::unexpected(valid.error());
    }
    Impl& d = *m_impl;
    const std::string url = UrlFor(path);
    auto done = d.perform([&] {
        curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(d.curl, CURLOPT_FILETIME, 1L);
    });
    FtpFileInfo info;
    if (!done) {
        if (done.error().kind == FtpErrorKind::NotFound) {
            return info;
        }
        return std::unexpected(done.error());
    }
    curl_off_t size = -1;
    curl_off_t time = -1;
    curl_easy_getinfo(d.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    curl_easy_getinfo(d.curl, CURLINFO_FILETIME_T, &time);
    info.size = size;
    info.modified = time;
    // FTP answers a missing file (or a folder) with neither SIZE nor MDTM.
    info.exists = size >= 0 || time >= 0;
    return info;
}

FtpResult<std::optional<FtpFileInfo>> FtpConnection::describe(std::string_view path,
                                                              const FtpFileInfo* known) {
    if (known) {
        return *known;
    }
    auto asked = FileInfo(path);
    if (asked) {
        return *asked;
    }
    if (asked.error().kind == FtpErrorKind::Stopped) {
        return std::unexpected(asked.error());
    }
    return std::nullopt;
}

FtpResult<std::int64_t> FtpConnection::DownloadFile(std::string_view remotePath,
                                                    const std::filesystem::path& localFile,
                                                    std::atomic<std::int64_t>* moved,
                                                    const FtpFileInfo* known) {
    if (auto valid = checkRemotePath(remotePath); !valid) {
        return std::unexpected(valid.error());
    }
    Impl& d = *m_impl;
    auto described = describe(remotePath, known);
    if (!described) {
        return std::unexpected(described.error());
    }
    const FtpFileInfo remote = described->value_or(FtpFileInfo{});
    // Only a file whose size and time are known can be recognised again.
    const bool resumable = remote.size >= 0 && remote.modified >= 0;
    ReplacingFileOptions options;
    std::string stem;
    if (resumable) {
        stem = partialStem(d.baseUrl, remotePath);
        options.resumeName = partialName(stem, remote);
        options.keepUpTo = remote.size;
    }
    auto opened = ReplacingFile::Open(localFile, options);
    if (!opened) {
        return std::unexpected(FtpError{0, opened.error().text, FtpErrorKind::Local});
    }
    ReplacingFile& file = *opened;
    const std::string& partialFile = options.resumeName;
    std::set<std::string>* partials = nullptr;
    if (resumable) {
        // Beside the file written, which a link may put in another folder.
        const auto folder = file.TempPath().parent_path();
        partials = &d.partialsIn(folder);
        // What was kept of another version of this file is of no more use.
        for (auto it = partials->lower_bound(stem);
             it != partials->end() && it->starts_with(stem);) {
            if (*it == partialFile) {
                ++it;
                continue;
            }
            ::unlink((folder / *it).c_str());
            it = partials->erase(it);
        }
    }
    DownloadStream stream{file, moved, file.Size(), false, std::nullopt};
    stream.publish();
    if (stream.start > 0) {
        d.notes.push_back("Download of " + std::string(remotePath) + " resumed at " +
                          std::to_string(stream.start) + " bytes.");
    }
    const std::string url = UrlFor(remotePath);
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(d.curl, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
            curl_easy_setopt(d.curl, CURLOPT_WRITEFUNCTION, &writeToFile);
            curl_easy_setopt(d.curl, CURLOPT_WRITEDATA, &stream);
            if (stream.start > 0) {
                curl_easy_setopt(d.curl, CURLOPT_RESUME_FROM_LARGE,
                                 static_cast<curl_off_t>(stream.start));
            }
        },
        [&] {
            if (auto rewound = file.Truncate(stream.start); !rewound) {
                stream.error = std::move(rewound.error());
            }
            stream.publish();
        },
        // Once bytes arrived the attempt was a real one.
        [&] { return file.Size() == stream.start && !stream.error; });
    // What arrived of this remote file stays for the next try when only the
    // connection or the user ended it; the writer removes it otherwise.
    auto forget = [&] {
        if (partials) {
            partials->erase(partialFile);
        }
    };
    auto giveUp = [&](FtpError error) {
        if (resumable && !stream.error && file.Size() > 0 && brokeOff(error.kind)) {
            file.Keep();
            partials->insert(partialFile);
            d.notes.push_back("The partial download (" + std::to_string(file.Size()) +
                              " bytes) was kept to be resumed: " + file.TempPath().native());
        } else {
            forget();
        }
        return std::unexpected(std::move(error));
    };
    if (stream.error) {
        FtpError error{0, stream.error->text, FtpErrorKind::Local};
        error.opened = true;
        return giveUp(error);
    }
    if (!done) {
        FtpError error = done.error();
        error.opened = stream.touched || d.opened("RETR");
        d.keepServerFailure(error);
        return giveUp(error);
    }
    if (remote.size >= 0 && file.Size() != remote.size) {
        FtpError error{0,
                       "The download ended at " + std::to_string(file.Size()) + " of " +
                           std::to_string(remote.size) + " bytes",
                       file.Size() < remote.size ? FtpErrorKind::Dropped : FtpErrorKind::Failed};
        error.opened = true;
        return giveUp(error);
    }
    forget();
    if (auto committed = file.Commit(); !committed) {
        FtpError error{0, committed.error().text, FtpErrorKind::Local};
        error.opened = true;
        return std::unexpected(error);
    }
    return file.Size();
}

FtpResult<std::int64_t> FtpConnection::uploadTo(int fd, std::int64_t size, std::int64_t offset,
                                                std::string_view remotePath,
                                                std::atomic<std::int64_t>* moved) {
    Impl& d = *m_impl;
    // The descriptor stays the caller's.
    FileStream file(::dup(fd), offset, moved);
    if (file.fd < 0 || !file.seek(offset)) {
        return std::unexpected(
            FtpError{0, std::string("Cannot read the local file: ") + std::strerror(errno),
                     FtpErrorKind::Local});
    }
    const std::string url = UrlFor(remotePath);
    curl_slist* rest = nullptr;
    if (offset > 0 && !d.sftp()) {
        rest = curl_slist_append(nullptr, ("REST " + std::to_string(offset)).c_str());
    }
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(d.curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(d.curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
            curl_easy_setopt(d.curl, CURLOPT_READFUNCTION, &readFromFile);
            curl_easy_setopt(d.curl, CURLOPT_READDATA, &file);
            if (offset > 0 && d.sftp()) {
                // SFTP opens the file for appending and seeks the local one.
                curl_easy_setopt(d.curl, CURLOPT_RESUME_FROM_LARGE,
                                 static_cast<curl_off_t>(offset));
                curl_easy_setopt(d.curl, CURLOPT_SEEKFUNCTION, &seekFile);
                curl_easy_setopt(d.curl, CURLOPT_SEEKDATA, &file);
                curl_easy_setopt(d.curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
            } else {
                // REST right before STOR: the server writes from there on.
                curl_easy_setopt(d.curl, CURLOPT_PREQUOTE, rest);
                curl_easy_setopt(d.curl, CURLOPT_INFILESIZE_LARGE,
                                 static_cast<curl_off_t>(size - offset));
            }
        },
        [&] {
            if (!file.rewind()) {
                file.error = errno;
            }
        },
        // Sent again only when the file was never asked for.
        [&] { return !d.sentVerb("STOR") && file.error == 0; });
    curl_slist_free_all(rest);
    auto opened = [&](const FtpError& error) {
        if (d.sftp()) {
            // SFTP has no reply to read: the file was open once curl asked
            // for data, or when the transfer broke off.
            return file.touched || brokeOff(error.kind);
        }
        return d.opened("STOR");
    };
    if (file.error != 0) {
        FtpError error{0, std::string("Cannot read the local file: ") + std::strerror(file.error),
                       FtpErrorKind::Local};
        error.opened = opened(error);
        return std::unexpected(error);
    }
    if (!done) {
        FtpError error = done.error();
        d.keepServerFailure(error);
        error.opened = opened(error);
        // A 5xx to STOR (or SFTP's "permission denied") refuses the name;
        // a 4xx such as a full disk is no refusal.
        const Impl::Exchange* stor = d.withVerb("STOR");
        if (!error.opened && ((stor && stor->reply.starts_with('5')) ||
                              (d.sftp() && done.error().curlCode == CURLE_REMOTE_ACCESS_DENIED))) {
            error.kind = FtpErrorKind::Refused;
        }
        return std::unexpected(error);
    }
    return file.bytes;
}

FtpResult<void> FtpConnection::renameOver(std::string_view from, std::string_view to,
                                          bool& targetGone) {
    auto renamed = RenameFile(from, to);
    if (renamed || renamed.error().kind != FtpErrorKind::Refused) {
        return renamed;
    }
    // Some servers (OpenSSH's SFTP among them) do not rename onto a file.
    if (!DeleteFile(to)) {
        return renamed;
    }
    m_impl->notes.push_back("The server would not rename onto the existing file, so " +
                            std::string(to) + " was deleted first, then replaced.");
    auto again = RenameFile(from, to);
    if (!again) {
        targetGone = true;
        m_impl->notes.push_back("The new file could not take its name and is on the server as " +
                                std::string(from) + "; " + std::string(to) + " is gone.");
    }
    return again;
}

void FtpConnection::removeLeftover(const std::string& temp, bool cleanUp) {
    Impl& d = *m_impl;
    if (cleanUp) {
        // Cleaning up after a stop: a short wait for a server that is gone.
        const FtpTimeouts saved = d.params.timeouts;
        d.params.timeouts.connectSeconds = std::min<long>(saved.connectSeconds, 5);
        d.params.timeouts.serverResponseSeconds = std::min<long>(saved.serverResponseSeconds, 5);
        d.ignoreStop = true;
        auto removed = DeleteFile(temp);
        d.ignoreStop = false;
        d.params.timeouts = saved;
        if (removed) {
            return;
        }
        d.notes.push_back("The temporary file could not be removed and is left on the server: " +
                          temp + " (" + removed.error().text + ")");
        return;
    }
    d.notes.push_back("The unfinished upload was kept on the server as " + temp +
                      "; uploading the same file again resumes it.");
}

FtpResult<std::int64_t> FtpConnection::UploadFile(const std::filesystem::path& localFile,
                                                  std::string_view remotePath,
                                                  std::atomic<std::int64_t>* moved,
                                                  const FtpFileInfo* known) {
    if (auto valid = checkRemotePath(remotePath); !valid) {
        return std::unexpected(valid.error());
    }
    const int fd = ::open(localFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(localError("Cannot read", localFile, errno));
    }
    FileStream local(fd, 0, nullptr);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return std::unexpected(localError("Cannot read", localFile, errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return std::unexpected(localError("Cannot read", localFile, EISDIR));
    }
    const std::int64_t size = info.st_size;
    Impl& d = *m_impl;
    auto described = describe(remotePath, known);
    if (!described) {
        return std::unexpected(described.error());
    }
    // A target the server would not tell about is taken to be there.
    const FtpFileInfo target = described->value_or(FtpFileInfo{true, -1, -1});
    auto fail = [&](FtpError error) { return std::unexpected(std::move(error)); };
    if (!target.exists && size < kResumableUploadBytes) {
        return uploadTo(fd, size, 0, remotePath, moved);
    }
    const std::string folder(remotePath.substr(0, remotePath.rfind('/') + 1));
    const std::string key = std::string(remotePath) + '\n' + std::to_string(info.st_dev) + ':' +
                            std::to_string(info.st_ino) + ':' + std::to_string(size) + ':' +
                            std::to_string(info.st_mtim.tv_sec) + '.' +
                            std::to_string(info.st_mtim.tv_nsec);
    std::string temp;
    std::int64_t offset = 0;
    if (const auto kept = d.uploadParts.find(key); kept != d.uploadParts.end()) {
        temp = kept->second;
        d.uploadParts.erase(kept);
        if (CanResumeUploads()) {
            if (auto part = FileInfo(temp); part && part->exists && part->size <= size) {
                offset = std::max<std::int64_t>(part->size, 0);
            }
        }
    } else {
        temp = folder + tempName(randomPart(12));
    }
    if (offset > 0) {
        d.notes.push_back("Upload to " + std::string(remotePath) + " resumed at " +
                          std::to_string(offset) + " bytes.");
    }
    auto sent = uploadTo(fd, size, offset, temp, moved);
    if (!sent) {
        FtpError error = sent.error();
        if (error.kind == FtpErrorKind::Refused && offset == 0) {
            d.notes.push_back("The server refused the temporary name " + temp +
                              "; the file is written in place: " + std::string(remotePath));
            return uploadTo(fd, size, 0, remotePath, moved);
        }
        if (!error.opened) {
            return fail(error);
        }
        error.targetIntact = true;
        if (d.keepUnfinished && size >= kResumableUploadBytes && brokeOff(error.kind)) {
            d.uploadParts[key] = temp;
            removeLeftover(temp, false);
        } else {
            removeLeftover(temp, true);
        }
        return fail(error);
    }
    bool targetGone = false;
    if (auto renamed = renameOver(temp, remotePath, targetGone); !renamed) {
        FtpError error = renamed.error();
        error.opened = true;
        error.targetIntact = !targetGone;
        // The only copy on the server is kept when the target is gone.
        if (!targetGone) {
            removeLeftover(temp, true);
        }
        return fail(error);
    }
    return *sent;
}

}  // namespace quill
