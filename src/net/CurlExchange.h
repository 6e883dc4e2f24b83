#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

// libcurl made ready for the program, once; false when it cannot be.
bool CurlReady();

// One curl easy handle driven by our own short-wait loop, with the log of
// its control channel: every command sent and the reply lines matched to
// it. Not thread-safe; one thread uses it at a time.
class CurlExchange {
public:
    struct Exchange {
        std::string command;
        std::string reply;               // the final reply line, "" until it arrived
        std::vector<std::string> lines;  // every reply line, multi-line ones too
    };

    CurlExchange();
    ~CurlExchange();
    CurlExchange(const CurlExchange&) = delete;
    CurlExchange& operator=(const CurlExchange&) = delete;

    // Null when curl could not make a handle.
    CURL* curl = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::deque<Exchange> exchanges;
    std::string lastReply;  // the last final reply line of any command

    // Points curl's debug output at the log; after every curl_easy_reset.
    void logExchanges();
    // Forgets the log of the previous operation.
    void clearLog();
    // Performs the handle's operation; a raised stop ends it within one
    // short wait, as CURLE_ABORTED_BY_CALLBACK.
    CURLcode run(const std::atomic<bool>* stop = nullptr);

    bool sent(std::string_view command) const;
    // The exchange of a command with this verb ("RETR path"), or null.
    const Exchange* withVerb(std::string_view verb) const;
    bool sentVerb(std::string_view verb) const { return withVerb(verb) != nullptr; }
    // The server answered that command with a preliminary 1xx: the file is open.
    bool opened(std::string_view verb) const;

private:
    static int debug(CURL*, curl_infotype type, char* data, size_t size, void* user);

    // Every operation runs in this one multi handle, so they share its
    // connection cache (one login) and its wait can be kept short.
    CURLM* m_multi = nullptr;
    std::size_t m_firstUnanswered = 0;
};

}  // namespace quill
