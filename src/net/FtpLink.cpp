#include "FtpLink.h"

#include <utility>

namespace quill {
namespace {

// What NOBODY requests write (FTP's "Content-Length: ..." lines) goes nowhere.
size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// Codes after which a reused connection may simply have been dropped by the
// server while idle; one more try then opens a fresh one.
bool mayBeDroppedConnection(CURLcode code) {
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
           code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_FTP_ACCEPT_FAILED;
}

// Called at least once a second while curl waits, so a stop from the window
// ends any wait within about a second.
int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const FtpLink*>(user)->stopRequested() ? 1 : 0;
}

}  // namespace

FtpLink::FtpLink(FtpConnectParams connectParams) : params(std::move(connectParams)) {
    baseUrl =
        std::string(sftp() ? "sftp://" : "ftp://") + ServerName(params.host, params.port) + "/";
    trust.host = params.host;
    trust.port = params.port;
    trust.trustFolder = params.trustFolder;
    trust.acceptedFingerprint = params.acceptedFingerprint;
    protocol = MakeLinkProtocol(*this);
}

bool FtpLink::stopRequested() const {
    return !ignoreStop && params.stop != nullptr && params.stop->load(std::memory_order_relaxed);
}

std::set<std::string>& FtpLink::partialsIn(const std::filesystem::path& folder) {
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

bool FtpLink::applyCommonOptions() {
    curl_easy_reset(curl);
    errorBuffer[0] = '\0';
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_USERNAME, params.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, params.password.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, params.timeouts.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, params.timeouts.serverResponseSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, params.timeouts.lowSpeedSeconds);
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, params.timeouts.maxConnectionAgeSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
    // "." and ".." are names on the server, not steps for curl to resolve.
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    logExchanges();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    return protocol->applyOptions(curl);
}

FtpError FtpLink::errorFor(CURLcode code) const {
    FtpError error{static_cast<int>(code), curl_easy_strerror(code), FtpErrorKind::Failed};
    const auto& untrusted = trust.untrusted;
    if (untrusted && code != CURLE_ABORTED_BY_CALLBACK) {
        error.kind = FtpErrorKind::Untrusted;
        error.key = untrusted;
        const bool certificate = params.protocol == FtpProtocol::Ftps;
        error.text = std::string("The server's ") + (certificate ? "certificate " : "host key ") +
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
    if (!lastReply.empty() && protocol->hasReplies()) {
        error.text += " (" + lastReply + ")";
    } else if (params.protocol != FtpProtocol::Ftp && errorBuffer[0] != '\0' &&
               error.text != errorBuffer) {
        error.text += " (" + std::string(errorBuffer) + ")";
    }
    return error;
}

// Said once the first login is done, whether or not the operation that
// logged in again went on to succeed.
void FtpLink::noteNewLogin(CURLcode code, long newConnections, bool asked) {
    if (protocol->loggedIn(code, newConnections) && established && !ignoreStop) {
        if (!asked) {
            notes.push_back("The connection had been closed; it was re-established.");
        }
        optsPending = utf8 && protocol->hasReplies();
    }
}

void FtpLink::sendUtf8On() {
    curl_slist* list = curl_slist_append(nullptr, "*OPTS UTF8 ON");
    perform([&] {
        curl_easy_setopt(curl, CURLOPT_URL, baseUrl.c_str());
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_QUOTE, list);
    });
    curl_slist_free_all(list);
}

FtpResult<void> FtpLink::perform(const std::function<void()>& setup,
                                 const std::function<void()>& beforeAttempt,
                                 const std::function<bool()>& mayRetry) {
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
        clearLog();
        tooLarge = false;
        trust.untrusted.reset();
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
        const bool closedBy421 = protocol->hasReplies() && lastReply.starts_with("421");
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
        if (attempt == 0 && newConnections == 0 && (mayBeDroppedConnection(code) || closedBy421) &&
            (!mayRetry || mayRetry())) {
            continue;
        }
        return std::unexpected(errorFor(code));
    }
}

void FtpLink::keepServerFailure(FtpError& error) const {
    const bool connectionReply = lastReply.starts_with("421") || lastReply.starts_with("425") ||
                                 lastReply.starts_with("426");
    if (protocol->hasReplies() && error.kind == FtpErrorKind::Dropped && !connectionReply &&
        (lastReply.starts_with('4') || lastReply.starts_with('5'))) {
        error.kind = FtpErrorKind::Failed;
    }
}

}  // namespace quill
