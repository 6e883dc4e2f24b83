#include "CurlExchange.h"

#include <mutex>

namespace quill {
namespace {

bool isReplyEnd(std::string_view line) {
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

}  // namespace

bool CurlReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

CurlExchange::CurlExchange() : curl(curl_easy_init()) {
}

CurlExchange::~CurlExchange() {
    if (curl) {
        curl_easy_cleanup(curl);
    }
    if (m_multi) {
        curl_multi_cleanup(m_multi);
    }
}

void CurlExchange::logExchanges() {
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &CurlExchange::debug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
}

void CurlExchange::clearLog() {
    exchanges.clear();
    m_firstUnanswered = 0;
    lastReply.clear();
}

// curl_easy_perform waits up to a second at a time; libcurl 7.88 can miss a
// server reply that arrived with the one before it on a reused FTP
// connection (1 transfer in 10 to 40 here) and then waits that whole second.
// Short waits in our own loop take the reply at once, and let a stop end a
// stalled transfer at once.
CURLcode CurlExchange::run(const std::atomic<bool>* stop) {
    static constexpr int kWaitMs = 20;
    if (!m_multi && !(m_multi = curl_multi_init())) {
        return CURLE_OUT_OF_MEMORY;
    }
    if (curl_multi_add_handle(m_multi, curl) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_OK;
    for (int running = 1;;) {
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    result = message->data.result;
                }
            }
            break;
        }
        if (stop != nullptr && stop->load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_poll(m_multi, nullptr, 0, kWaitMs, nullptr) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
    }
    curl_multi_remove_handle(m_multi, curl);
    return result;
}

// Replies are matched to commands in order, which is how the FTP control
// channel answers.
int CurlExchange::debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* self = static_cast<CurlExchange*>(user);
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
        const bool inStep = self->m_firstUnanswered < self->exchanges.size();
        if (inStep) {
            Exchange& exchange = self->exchanges[self->m_firstUnanswered];
            if (exchange.lines.size() < 200) {
                exchange.lines.emplace_back(line);
            }
        }
        if (isReplyEnd(line)) {
            self->lastReply = std::string(line);
            if (inStep) {
                self->exchanges[self->m_firstUnanswered++].reply = std::string(line);
            }
        }
    }
    return 0;
}

bool CurlExchange::sent(std::string_view command) const {
    for (const auto& exchange : exchanges) {
        if (exchange.command == command) {
            return true;
        }
    }
    return false;
}

const CurlExchange::Exchange* CurlExchange::withVerb(std::string_view verb) const {
    for (const auto& exchange : exchanges) {
        if (exchange.command.starts_with(verb) && exchange.command.size() > verb.size() &&
            exchange.command[verb.size()] == ' ') {
            return &exchange;
        }
    }
    return nullptr;
}

bool CurlExchange::opened(std::string_view verb) const {
    const Exchange* exchange = withVerb(verb);
    return exchange != nullptr && exchange->reply.starts_with('1');
}

}  // namespace quill
