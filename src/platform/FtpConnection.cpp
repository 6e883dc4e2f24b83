#include "FtpConnection.h"

#include <curl/curl.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>

namespace quill {
namespace {

bool curlReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool globMatch(std::string_view mask, std::string_view name) {
    // Iterative '*' backtracking: linear in practice, no recursion depth.
    std::size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (m < mask.size() &&
                   (mask[m] == '?' || lowerAscii(mask[m]) == lowerAscii(name[n]))) {
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

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

int monthFromName(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kMonths{
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3) {
        return 0;
    }
    const std::array<char, 3> lower{lowerAscii(name[0]), lowerAscii(name[1]), lowerAscii(name[2])};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (std::string_view(lower.data(), 3) == kMonths[i]) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

// Whole non-negative number of 1..maxDigits digits, or -1.
int number(std::string_view text, std::size_t maxDigits = 4) {
    if (text.empty() || text.size() > maxDigits) {
        return -1;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::string_view> splitBlanks(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
            ++i;
        }
        if (i > start) {
            parts.push_back(text.substr(start, i - start));
        }
    }
    return parts;
}

bool parseClock(std::string_view text, int& hour, int& minute) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    hour = number(text.substr(0, colon), 2);
    minute = number(text.substr(colon + 1), 2);
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
}

bool validDate(const FtpFileTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.year > 0;
}

// Codes after which a reused connection may simply have been dropped by the
// server while idle; one more try then opens a fresh one.
bool mayBeDroppedConnection(CURLcode code) {
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
           code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_FTP_ACCEPT_FAILED;
}

}  // namespace

bool FtpMaskMatches(std::string_view mask, std::string_view name) {
    if (mask == "*" || mask == "*.*") {
        return true;
    }
    return globMatch(mask, name);
}

std::optional<FtpFileTime> ParseListingTime(std::string_view text, int todayYear, int todayMonth,
                                            int todayDay) {
    const auto parts = splitBlanks(text);
    if (parts.size() < 2) {
        return std::nullopt;
    }
    FtpFileTime t;
    if (const int month = monthFromName(parts[0]); month > 0 && parts.size() >= 3) {
        // Unix: "Dec 08 01:20" (this year or last) or "Jan 02  2020".
        t.month = month;
        t.day = number(parts[1], 2);
        if (parts[2].find(':') != std::string_view::npos) {
            if (!parseClock(parts[2], t.hour, t.minute)) {
                return std::nullopt;
            }
            t.year = todayYear;
            if (t.month > todayMonth || (t.month == todayMonth && t.day > todayDay + 1)) {
                --t.year;
            }
        } else {
            t.year = number(parts[2], 4);
        }
        return validDate(t) ? std::optional(t) : std::nullopt;
    }
    // DOS/IIS: "12-08-26  01:28AM", also with a four-digit year.
    const std::string_view date = parts[0];
    const auto d1 = date.find('-');
    const auto d2 = d1 == std::string_view::npos ? d1 : date.find('-', d1 + 1);
    if (d2 == std::string_view::npos) {
        return std::nullopt;
    }
    t.month = number(date.substr(0, d1), 2);
    t.day = number(date.substr(d1 + 1, d2 - d1 - 1), 2);
    const std::string_view yearText = date.substr(d2 + 1);
    t.year = number(yearText, 4);
    if (yearText.size() == 2 && t.year >= 0) {
        t.year += t.year < 70 ? 2000 : 1900;
    }
    std::string_view clock = parts[1];
    bool pm = false;
    bool am = false;
    if (clock.size() > 2) {
        const char a = lowerAscii(clock[clock.size() - 2]);
        if (lowerAscii(clock.back()) == 'm' && (a == 'a' || a == 'p')) {
            pm = a == 'p';
            am = a == 'a';
            clock.remove_suffix(2);
        }
    }
    if (!parseClock(clock, t.hour, t.minute)) {
        return std::nullopt;
    }
    if ((am || pm) && (t.hour < 1 || t.hour > 12)) {
        return std::nullopt;
    }
    if (am && t.hour == 12) {
        t.hour = 0;
    } else if (pm && t.hour != 12) {
        t.hour += 12;
    }
    return validDate(t) ? std::optional(t) : std::nullopt;
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
        std::string reply;  // the final reply line, "" until it arrived
    };

    CURL* curl = nullptr;
    FtpConnectParams params;
    std::string baseUrl;  // "ftp://host:port/"
    std::deque<Exchange> exchanges;
    std::size_t firstUnanswered = 0;
    std::string lastReply;

    ~Impl() {
        if (curl) {
            curl_easy_cleanup(curl);
        }
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
                self->exchanges.push_back({std::string(line), {}});
            } else if (line.size() >= 4 && line[3] == ' ' && number(line.substr(0, 3), 3) >= 0) {
                self->lastReply = std::string(line);
                if (self->firstUnanswered < self->exchanges.size()) {
                    self->exchanges[self->firstUnanswered++].reply = std::string(line);
                }
            }
        }
        return 0;
    }

    void applyCommonOptions() {
        curl_easy_reset(curl);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
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
        if (!params.passive) {
            curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
        }
        // libcurl 7.88 leaks each entry of a wildcard listing when an earlier
        // transfer on the handle was not a wildcard one. Every operation here
        // addresses a folder ("/" last), where the option matches nothing, so
        // it stays on throughout. A file transfer must switch it off and keep
        // its own handle state in mind.
        curl_easy_setopt(curl, CURLOPT_WILDCARDMATCH, 1L);
    }

    FtpError errorFor(CURLcode code) const {
        FtpError error{static_cast<int>(code), curl_easy_strerror(code)};
        if (!lastReply.empty()) {
            error.text += " (" + lastReply + ")";
        }
        return error;
    }

    // Runs one operation, and once more when it failed on a reused connection
    // in a way that says the server had dropped it.
    FtpResult<void> perform(const std::function<void()>& setup,
                            const std::function<void()>& beforeAttempt = {}) {
        for (int attempt = 0;; ++attempt) {
            applyCommonOptions();
            setup();
            exchanges.clear();
            firstUnanswered = 0;
            lastReply.clear();
            if (beforeAttempt) {
                beforeAttempt();
            }
            const CURLcode code = curl_easy_perform(curl);
            if (code == CURLE_OK) {
                return {};
            }
            long newConnections = 0;
            curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &newConnections);
            if (attempt == 0 && newConnections == 0 && mayBeDroppedConnection(code)) {
                continue;
            }
            return std::unexpected(errorFor(code));
        }
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
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT, "Invalid server address or port"});
    }
    auto impl = std::make_unique<Impl>();
    impl->curl = curl_easy_init();
    if (!impl->curl) {
        return std::unexpected(FtpError{CURLE_FAILED_INIT, "Cannot create a connection"});
    }
    const bool ipv6 = host.find(':') != std::string::npos;
    impl->baseUrl =
        "ftp://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(params.port) + "/";
    impl->params = std::move(params);
    Impl& d = *impl;
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
    return connection;
}

std::string FtpConnection::UrlFor(std::string_view path) const {
    return m_impl->baseUrl + EscapeRemotePath(path);
}

namespace {

struct ListingRun {
    std::string mask;
    std::vector<FtpFindData> entries;
    int todayYear = 0, todayMonth = 0, todayDay = 0;
};

int matchEntry(void* user, const char*, const char* name) {
    const auto* run = static_cast<ListingRun*>(user);
    return FtpMaskMatches(run->mask, name ? name : "") ? CURL_FNMATCHFUNC_MATCH
                                                       : CURL_FNMATCHFUNC_NOMATCH;
}

// Takes each parsed entry and tells curl not to download it: one LIST, no RETR.
long takeEntry(const void* info, void* user, int) {
    const auto* file = static_cast<const curl_fileinfo*>(info);
    auto* run = static_cast<ListingRun*>(user);
    FtpFindData entry;
    entry.name = file->filename ? file->filename : "";
    entry.folder =
        file->filetype == CURLFILETYPE_DIRECTORY || file->filetype == CURLFILETYPE_SYMLINK;
    entry.size =
        (file->flags & CURLFINFOFLAG_KNOWN_SIZE) ? static_cast<std::int64_t>(file->size) : 0;
    if (file->strings.time) {
        entry.lastWrite =
            ParseListingTime(file->strings.time, run->todayYear, run->todayMonth, run->todayDay);
    }
    run->entries.push_back(std::move(entry));
    return CURL_CHUNK_BGN_FUNC_SKIP;
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

}  // namespace

FtpResult<std::vector<FtpFindData>> FtpConnection::FindFiles(std::string_view pattern) {
    std::string path(pattern);
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    const auto slash = path.rfind('/');
    ListingRun run;
    run.mask = path.substr(slash + 1);
    if (run.mask.empty()) {
        run.mask.push_back('*');  // assigning "*" trips a false -Wrestrict in g++ 12 -O3
    }
    const std::string folder = path.substr(0, slash + 1);
    if (hasLineBreakOrNul(folder)) {
        return std::unexpected(FtpError{CURLE_URL_MALFORMAT, "The folder name holds a line break"});
    }
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    gmtime_r(&now, &today);
    run.todayYear = today.tm_year + 1900;
    run.todayMonth = today.tm_mon + 1;
    run.todayDay = today.tm_mday;
    // The mask is applied by matchEntry, so curl gets a plain "*".
    const std::string url = m_impl->baseUrl + EscapeRemotePath(folder) + "*";
    Impl& d = *m_impl;
    auto done = d.perform(
        [&] {
            curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(d.curl, CURLOPT_FNMATCH_FUNCTION, &matchEntry);
            curl_easy_setopt(d.curl, CURLOPT_FNMATCH_DATA, &run);
            curl_easy_setopt(d.curl, CURLOPT_CHUNK_BGN_FUNCTION, &takeEntry);
            curl_easy_setopt(d.curl, CURLOPT_CHUNK_DATA, &run);
            curl_easy_setopt(d.curl, CURLOPT_WRITEFUNCTION, &discard);
        },
        [&] { run.entries.clear(); });
    if (!done) {
        // An empty folder (or one where nothing matched) answers "not found".
        if (done.error().curlCode == CURLE_REMOTE_FILE_NOT_FOUND) {
            return std::vector<FtpFindData>{};
        }
        return std::unexpected(done.error());
    }
    return std::move(run.entries);
}

FtpResult<void> FtpConnection::quote(const std::vector<std::string>& commands,
                                     int lastExpectedClass) {
    for (const auto& command : commands) {
        if (hasLineBreakOrNul(command)) {
            return std::unexpected(FtpError{CURLE_URL_MALFORMAT, "The name holds a line break"});
        }
    }
    Impl& d = *m_impl;
    curl_slist* list = nullptr;
    // '*' keeps curl going after a refused command, so the connection
    // survives; the replies are checked below instead.
    for (const auto& command : commands) {
        list = curl_slist_append(list, ("*" + command).c_str());
    }
    auto done = d.perform([&] {
        curl_easy_setopt(d.curl, CURLOPT_URL, d.baseUrl.c_str());
        curl_easy_setopt(d.curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(d.curl, CURLOPT_QUOTE, list);
    });
    curl_slist_free_all(list);
    if (!done) {
        return done;
    }
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
                0, found && !found->reply.empty() ? found->reply : "No reply to " + commands[i]});
        }
    }
    return {};
}

FtpResult<void> FtpConnection::CreateDirectory(std::string_view path) {
    return quote({"MKD " + std::string(path)}, 2);
}

FtpResult<void> FtpConnection::RemoveDirectory(std::string_view path) {
    return quote({"RMD " + std::string(path)}, 2);
}

FtpResult<void> FtpConnection::DeleteFile(std::string_view path) {
    return quote({"DELE " + std::string(path)}, 2);
}

FtpResult<void> FtpConnection::RenameFile(std::string_view from, std::string_view to) {
    return quote({"RNFR " + std::string(from), "RNTO " + std::string(to)}, 2);
}

}  // namespace quill
