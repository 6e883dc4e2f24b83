#include "FtpConnection.h"

#include "FtpLink.h"
#include "common/TextOps.h"

#include <curl/curl.h>

#include <functional>
#include <utility>

namespace quill {
namespace {

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

std::unique_ptr<NetworkLibrary> NetworkLibrary::Open(std::string agent) {
    if (!CurlReady()) {
        return nullptr;
    }
    return std::unique_ptr<NetworkLibrary>(new NetworkLibrary(std::move(agent)));
}

FtpConnection::FtpConnection(std::unique_ptr<FtpLink> impl) : m_impl(std::move(impl)) {
}
FtpConnection::~FtpConnection() = default;

FtpResult<std::unique_ptr<FtpConnection>> FtpConnection::Connect(const NetworkLibrary&,
                                                                 FtpConnectParams params) {
    const std::string& host = params.host;
    if (host.empty() || host.find_first_of(" /?#@\\[]\"<>") != std::string::npos ||
        HoldsLineBreakOrNul(host) || params.port == 0) {
        return std::unexpected(
            FtpError{CURLE_URL_MALFORMAT, "Invalid server address or port", FtpErrorKind::Failed});
    }
    if (HoldsLineBreakOrNul(params.user) || HoldsLineBreakOrNul(params.password)) {
        return std::unexpected(LineBreakError("The user name or password holds a line break"));
    }
    auto link = std::make_unique<FtpLink>(std::move(params));
    if (!link->curl) {
        return std::unexpected(
            FtpError{CURLE_FAILED_INIT, "Cannot create a connection", FtpErrorKind::Failed});
    }
    auto loginFolder = link->protocol->logIn();
    if (!loginFolder) {
        return std::unexpected(loginFolder.error());
    }
    link->established = true;
    std::unique_ptr<FtpConnection> connection(new FtpConnection(std::move(link)));
    connection->m_loginFolder = std::move(*loginFolder);
    return connection;
}

const std::string& FtpConnection::TrustNote() const {
    return m_impl->trust.note;
}

void FtpConnection::KeepUnfinishedUploads(bool keep) {
    m_impl->keepUnfinished = keep;
}

bool FtpConnection::CanResumeUploads() const {
    return m_impl->protocol->canResumeUploads();
}

bool FtpConnection::UsesUtf8() const {
    return m_impl->utf8;
}

bool FtpConnection::UsesMlsd() const {
    return m_impl->mlsd;
}

std::vector<std::string> FtpConnection::TakeNotes() {
    return std::exchange(m_impl->notes, {});
}

FtpResult<void> FtpConnection::KeepAlive() {
    return m_impl->protocol->keepAlive();
}

FtpResult<void> FtpConnection::Reconnect() {
    FtpLink& d = *m_impl;
    const std::string url = d.protocol->homeUrl();
    auto done = d.perform([&] {
        curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(d.curl, CURLOPT_FRESH_CONNECT, 1L);
    });
    // The caller logs the reconnect itself.
    d.notes.clear();
    if (done && d.utf8 && d.protocol->hasReplies()) {
        d.optsPending = false;
        d.sendUtf8On();
    }
    return done;
}

std::string FtpConnection::UrlFor(std::string_view path) const {
    return m_impl->protocol->urlFor(path);
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

FtpResult<FtpListing> FtpConnection::ListFolder(std::string_view pattern, const FtpEntrySink& sink,
                                                bool withHidden) {
    std::string path(pattern);
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    const auto slash = path.rfind('/');
    std::string mask = path.substr(slash + 1);
    const std::string folder = path.substr(0, slash + 1);
    if (HoldsLineBreakOrNul(folder)) {
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT, "The folder name holds a line break",
                                        FtpErrorKind::Failed});
    }
    if (HoldsControlByte(folder)) {
        return std::unexpected(ControlCharacterError());
    }
    FtpLink& d = *m_impl;
    const FtpToday today = FtpToday::Now();
    std::optional<ListingRun> run;
    const std::string url = UrlFor(folder);
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            if (const char* command = d.protocol->listCommand(withHidden)) {
                curl_easy_setopt(d.curl, CURLOPT_CUSTOMREQUEST, command);
            }
            curl_easy_setopt(d.curl, CURLOPT_TIMEOUT, d.params.timeouts.listingSeconds);
            curl_easy_setopt(d.curl, CURLOPT_WRITEFUNCTION, &takeListing);
        },
        [&] {
            run.emplace(ListingRun{FtpListReader(d.mlsd, today), 0,
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

FtpResult<void> FtpConnection::CreateDirectory(std::string_view path) {
    return m_impl->protocol->createDirectory(path);
}

FtpResult<void> FtpConnection::RemoveDirectory(std::string_view path) {
    return m_impl->protocol->removeDirectory(path);
}

FtpResult<void> FtpConnection::DeleteFile(std::string_view path) {
    return m_impl->protocol->deleteFile(path);
}

FtpResult<void> FtpConnection::RenameFile(std::string_view from, std::string_view to) {
    return m_impl->protocol->renameFile(from, to);
}

FtpResult<std::string> FtpConnection::SiteCommand(std::string_view command) {
    return m_impl->protocol->siteCommand(command);
}

FtpResult<std::string> FtpConnection::ChangeMode(std::string_view path, std::string_view mode) {
    return m_impl->protocol->changeMode(path, mode);
}

FtpProtocol FtpConnection::protocol() const {
    return m_impl->params.protocol;
}

}  // namespace quill
