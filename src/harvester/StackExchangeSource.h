#pragma once

#include "QaSource.h"

#include <QJsonObject>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill {

// Text with its HTML character references decoded to UTF-8: numeric ones and
// &amp; &lt; &gt; &quot; &apos; &nbsp;. Other names stay as written; a number
// that is no character becomes U+FFFD.
std::string DecodeHtmlEntities(std::string_view html);

// What one Stack Exchange API response says.
struct ApiReply {
    std::vector<QJsonObject> items;
    std::string error;     // the error object's message, or why the body is unreadable
    bool refused = false;  // the body was an error object
    int backoffSeconds = 0;
    std::optional<int> quotaRemaining;
};
ApiReply ReadApiReply(std::string_view body);

// The page that stands for a question with its accepted answer, in the shape
// of the Q&A service's pages: title and question body after the subject
// marker, the answer and the attribution the licence asks for (links to the
// question and to the authors' profiles, the licence) in the first content
// block after the first meta list. Bodies go in as the API gives them, except
// that a page marker inside one is written with other quotes, so the cut
// cannot end early and lose the attribution.
std::string StackExchangePage(const QJsonObject& question, const QJsonObject& answer);

// Questions with an accepted answer from one Stack Exchange site, through the
// public API 2.3 (no key). A search caches the questions it lists; the first
// fetch asks for the accepted answers of all of them in one request, so a
// search and its Save all cost two requests; answers are kept for later
// searches. A backoff the API asks for is kept per method:
// no request goes to that method before it has passed.
class StackExchangeSource final : public QaSource {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Fewer requests left than this for today are shown in the status.
    static constexpr int kLowQuota = 50;

    // apiBase: scheme and host, as "https://api.stackexchange.com".
    explicit StackExchangeSource(std::string apiBase,
                                 Clock clock = &std::chrono::steady_clock::now);

    // The site's API name or domain ("stackoverflow", "superuser.com").
    void setSite(std::string site) { m_site = std::move(site); }
    const std::string& site() const { return m_site; }

    SearchOutcome search(std::string_view term, const Depth& depth) override;
    FetchOutcome fetch(const std::string& address, const std::filesystem::path& target) override;
    std::string status() const override;

private:
    struct Question {
        std::string address;
        std::string site;
        QJsonObject data;
    };
    ApiReply request(const std::string& method, const std::string& address);
    std::string siteQuery(const std::string& site) const;

    std::string m_apiBase;
    Clock m_clock;
    std::string m_site = "stackoverflow";
    std::map<std::string, std::chrono::steady_clock::time_point> m_notBefore;  // by method
    std::vector<Question> m_questions;  // listed by the last search, in order
    // Accepted answers fetched so far, by site and answer id: a later search
    // listing the same questions costs no further request.
    static constexpr std::size_t kKeptAnswers = 1000;
    std::map<std::pair<std::string, qint64>, QJsonObject> m_answers;
    std::optional<int> m_quotaRemaining;
};

}  // namespace quill
