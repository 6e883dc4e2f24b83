#include "WebDownload.h"

#include "CurlExchange.h"
#include "common/FileWrite.h"
#include "common/TextOps.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>

namespace quill {
namespace {

struct CurlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

// Where the body goes: a file, or a string when memory is set.
struct Sink {
    ReplacingFile* file = nullptr;
    std::string* memory = nullptr;
    bool failed = false;
    bool tooLarge = false;
    std::int64_t written = 0;
    std::int64_t limit = 0;
};

size_t writeToSink(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t total = size * count;
    if (static_cast<std::int64_t>(total) > sink->limit - sink->written) {
        sink->tooLarge = true;
        return 0;  // makes curl abort with CURLE_WRITE_ERROR
    }
    sink->written += static_cast<std::int64_t>(total);
    if (sink->memory != nullptr) {
        sink->memory->append(data, total);
        return total;
    }
    if (!sink->file->Append({data, total})) {
        sink->failed = true;
        return 0;  // makes curl abort with CURLE_WRITE_ERROR
    }
    return total;
}

bool hasScheme(const std::string& address) {
    const auto colon = address.find("://");
    return colon != std::string::npos && colon > 0 && address.find_first_of("/?# ") > colon;
}

std::string tooLargeText(std::int64_t limit) {
    const bool mebibytes = limit >= (1 << 20) && limit % (1 << 20) == 0;
    return "page too large (over " +
           (mebibytes ? std::to_string(limit >> 20) + " MiB)" : std::to_string(limit) + " bytes)");
}

// A short reason for the user, in the words of a message box.
std::string failureText(CURLcode code, long httpStatus, const Sink& sink) {
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        return tooLargeText(sink.limit);
    }
    if (sink.failed) {
        return "cannot write the downloaded file";
    }
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        return std::string(kStoppedText);
    }
    if (httpStatus >= 400) {
        return "the server answered with HTTP status " + std::to_string(httpStatus);
    }
    switch (code) {
        case CURLE_COULDNT_CONNECT:
            return "could not connect to the server";
        case CURLE_COULDNT_RESOLVE_HOST:
            return "the server name could not be found";
        case CURLE_OPERATION_TIMEDOUT:
            return "the server did not answer in time";
        default:
            return curl_easy_strerror(code);
    }
}

}  // namespace

std::string EncodeUnsafeCharacters(const std::string& address, bool hashIsData) {
    return PercentEscaped(address, [hashIsData](unsigned char c) {
        return IsControlByte(c) || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
               c == '`' || c == '{' || c == '|' || c == '}' || (hashIsData && c == '#');
    });
}

namespace {

// Runs one transfer of address into sink; fills result.httpStatus and, on
// failure, result.error. With failOnError an HTTP status >= 400 stops the
// transfer before any body byte reaches the sink. True when the whole body
// arrived, whatever the status.
bool Transfer(const std::string& address, const DownloadOptions& options, bool failOnError,
              Sink& sink, DownloadResult& result) {
    if (!CurlReady()) {
        result.error = "the network library could not be started";
        return false;
    }
    std::unique_ptr<CURLU, CurlDeleter> url(curl_url());
    const std::string encoded = EncodeUnsafeCharacters(address, options.hashIsData);
    const std::string full = hasScheme(encoded) ? encoded : "http://" + encoded;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, full.c_str(),
                             CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK) {
        result.error = "malformed address";
        return false;
    }

    CurlExchange exchange;
    CURLcode code = CURLE_FAILED_INIT;
    if (CURL* h = exchange.curl) {
        curl_easy_setopt(h, CURLOPT_CURLU, url.get());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, options.maxRedirects);
        curl_easy_setopt(h, CURLOPT_FAILONERROR, failOnError ? 1L : 0L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options.lowSpeedTimeSeconds);
        curl_easy_setopt(h, CURLOPT_TIMEOUT, options.totalTimeoutSeconds);
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        // Refuses a declared size over the limit before any byte is written;
        // compressed or unsized bodies are counted in writeToSink.
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
        curl_easy_setopt(h, CURLOPT_USERAGENT, "Mozilla/5.0 (compatible; Quillmint 2012)");
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeToSink);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
        code = exchange.run(options.stop);
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    }
    if (code != CURLE_OK || sink.failed || sink.tooLarge || result.httpStatus >= 400) {
        result.error = failureText(code, result.httpStatus, sink);
    }
    return code == CURLE_OK && !sink.failed && !sink.tooLarge;
}

}  // namespace

DownloadResult DownloadPage(const std::string& address, const std::filesystem::path& target,
                            const DownloadOptions& options) {
    DownloadResult result;
    if (address.empty()) {
        result.error = "empty address";
        return result;
    }
    std::string tempName = target.filename().native();
    if (tempName.empty()) {
        result.error = "no target file name";
        return result;
    }
    auto file = ReplacingFile::Open(target);
    if (!file) {
        result.error = "cannot create a temp file beside the target";
        return result;
    }
    Sink sink;
    sink.limit = options.maxBytes;
    sink.file = &*file;
    Transfer(address, options, true, sink, result);
    if (!result.error.empty()) {
        return result;  // the writer removes what came, the target stays as it was
    }
    if (auto committed = file->Commit(); !committed) {
        if (committed.error().step == FileWriteError::Step::Replace) {
            result.error =
                "cannot replace " + target.native() + ": " + std::strerror(committed.error().code);
        } else {
            sink.failed = true;
            result.error = failureText(CURLE_OK, result.httpStatus, sink);
        }
        return result;
    }
    result.ok = true;
    return result;
}

DownloadedText DownloadText(const std::string& address, const DownloadOptions& options) {
    DownloadedText text;
    if (address.empty()) {
        text.result.error = "empty address";
        return text;
    }
    Sink sink;
    sink.memory = &text.body;
    sink.limit = options.maxBytes;
    if (!Transfer(address, options, false, sink, text.result)) {
        text.body.clear();  // a cut-off body is no answer
    }
    text.result.ok = text.result.error.empty();
    return text;
}

}  // namespace quill
