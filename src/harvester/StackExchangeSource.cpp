#include "StackExchangeSource.h"

#include "common/FileWrite.h"
#include "common/QaArticle.h"
#include "common/TextCodec.h"
#include "common/TextOps.h"
#include "net/WebDownload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <charconv>

namespace quill {
namespace {

constexpr std::string_view kUnreadable = "Stack Exchange sent an answer that could not be read";

std::string Utf8(const QString& text) {
    return text.toStdString();
}

std::string PercentEncoded(std::string_view text) {
    return ByteArrayOf(text).toPercentEncoding().toStdString();
}

void AppendCodePoint(std::string& out, char32_t cp) {
    const bool valid = cp != 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    const char32_t c = valid ? cp : U'\uFFFD';
    out += QString::fromUcs4(&c, 1).toStdString();
}

std::optional<char32_t> NamedEntity(std::string_view name) {
    static constexpr std::pair<std::string_view, char32_t> kNames[] = {
        {"amp", U'&'}, {"lt", U'<'}, {"gt", U'>'}, {"quot", U'"'}, {"apos", U'\''}, {"nbsp", 0xA0}};
    for (const auto& [known, cp] : kNames) {
        if (name == known) {
            return cp;
        }
    }
    return std::nullopt;
}

std::optional<char32_t> NumericEntity(std::string_view digits) {
    int base = 10;
    if (!digits.empty() && (digits.front() == 'x' || digits.front() == 'X')) {
        base = 16;
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return ec == std::errc() ? static_cast<char32_t>(value) : char32_t{0};  // too large: U+FFFD
}

// Text the API gives HTML-encoded (titles, names): tags are not expected in
// it, so any '<' or '>' is shown as a character rather than taken as markup.
std::string HtmlText(const QString& encoded) {
    return Replace(Replace(Utf8(encoded), "<", "&lt;"), ">", "&gt;");
}

// Plain text for an element or an attribute value.
std::string Escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// An http or https address for an href, escaped; empty for anything else.
std::string LinkTarget(const QString& link) {
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QStringLiteral("http") && scheme != QStringLiteral("https"))) {
        return {};
    }
    return Escaped(Utf8(link));
}

std::string Linked(const std::string& target, const std::string& html) {
    return target.empty() ? html : "<a href=\"" + target + "\">" + html + "</a>";
}

// The author's name, linked to the profile when it still exists.
std::string Author(const QJsonObject& post) {
    const QJsonObject owner = post.value(QStringLiteral("owner")).toObject();
    const QString name = owner.value(QStringLiteral("display_name")).toString();
    return Linked(LinkTarget(owner.value(QStringLiteral("link")).toString()),
                  name.isEmpty() ? std::string("an unknown user") : HtmlText(name));
}

// "CC BY-SA 4.0" linked to its deed; another or a missing name to the
// network's page on licensing.
std::string Licence(const QJsonObject& post) {
    constexpr std::string_view kPrefix = "CC BY-SA ";
    const std::string name = Utf8(post.value(QStringLiteral("content_license")).toString());
    const std::string_view version =
        std::string_view(name).substr(std::min(name.size(), kPrefix.size()));
    const bool versioned = name.starts_with(kPrefix) && !version.empty() &&
                           version.find_first_not_of("0123456789.") == std::string_view::npos;
    const std::string target =
        versioned ? "https://creativecommons.org/licenses/by-sa/" + std::string(version) + "/"
                  : "https://stackoverflow.com/help/licensing";
    return Linked(target, name.empty() ? std::string("CC BY-SA") : Escaped(name));
}

// A body as the API gives it, with the page markers written so the cut does
// not find them.
std::string Body(const QJsonObject& post) {
    std::string body = Utf8(post.value(QStringLiteral("body")).toString());
    for (const std::string_view marker : {kSubjectMarker, kMetaMarker, kContentMarker}) {
        body = Replace(body, marker, Replace(marker, "\"", "'"));
    }
    return body;
}

qint64 IdOf(const QJsonObject& object, const char* key) {
    return object.value(QLatin1String(key)).toInteger();
}

std::string Seconds(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " second" : " seconds");
}

}  // namespace

std::string DecodeHtmlEntities(std::string_view html) {
    constexpr std::size_t kLongestReference = 32;
    std::string out;
    out.reserve(html.size());
    std::size_t i = 0;
    while (i < html.size()) {
        const auto amp = html.find('&', i);
        out.append(html.substr(i, amp - i));
        if (amp == std::string_view::npos) {
            break;
        }
        // Only a short stretch is searched, so text full of '&' stays linear.
        const auto name = html.substr(amp + 1, kLongestReference);
        const auto semi = name.find(';');
        std::optional<char32_t> cp;
        if (semi != std::string_view::npos) {
            cp = name.starts_with('#') ? NumericEntity(name.substr(1, semi - 1))
                                       : NamedEntity(name.substr(0, semi));
        }
        if (cp) {
            AppendCodePoint(out, *cp);
            i = amp + 1 + semi + 1;
        } else {
            out += '&';
            i = amp + 1;
        }
    }
    return out;
}

ApiReply ReadApiReply(std::string_view body) {
    ApiReply reply;
    const QJsonDocument document = QJsonDocument::fromJson(ByteArrayOf(body));
    if (!document.isObject()) {
        reply.error = kUnreadable;
        return reply;
    }
    const QJsonObject root = document.object();
    // The longest wait honoured is a day; a larger or negative value is no
    // reason to lock the user out for longer.
    reply.backoffSeconds =
        static_cast<int>(std::clamp<qint64>(IdOf(root, "backoff"), 0, 24 * 60 * 60));
    if (const QJsonValue quota = root.value(QStringLiteral("quota_remaining")); quota.isDouble()) {
        reply.quotaRemaining =
            static_cast<int>(std::clamp<qint64>(quota.toInteger(), 0, 1'000'000'000));
    }
    if (root.contains(QStringLiteral("error_id")) ||
        root.contains(QStringLiteral("error_message"))) {
        reply.refused = true;
        const QString message = root.value(QStringLiteral("error_message")).toString();
        const QString name = root.value(QStringLiteral("error_name")).toString();
        reply.error = "Stack Exchange refused the request: " +
                      (message.isEmpty() ? std::string("no reason given") : Utf8(message)) +
                      " (error " + std::to_string(IdOf(root, "error_id")) +
                      (name.isEmpty() ? std::string() : ", " + Utf8(name)) + ")";
        return reply;
    }
    const QJsonValue items = root.value(QStringLiteral("items"));
    if (!items.isArray()) {
        reply.error = kUnreadable;
        return reply;
    }
    for (const QJsonValue& item : items.toArray()) {
        if (item.isObject()) {
            reply.items.push_back(item.toObject());
        }
    }
    return reply;
}

std::string StackExchangePage(const QJsonObject& question, const QJsonObject& answer) {
    const std::string title = HtmlText(question.value(QStringLiteral("title")).toString());
    const std::string questionLink = LinkTarget(question.value(QStringLiteral("link")).toString());
    const std::string questionLicence = Licence(question);
    const std::string answerLicence = Licence(answer);
    const std::string licence =
        questionLicence == answerLicence
            ? "licensed under " + questionLicence
            : "question licensed under " + questionLicence + ", answer under " + answerLicence;

    std::string page =
        "<html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body>\n";
    page.append(kSubjectMarker).append(title).append("</h1>\n");
    page.append(kContentMarker).append(Body(question)).append("</div>\n");
    page.append(kMetaMarker).append("<li>Asked by " + Author(question) + "</li></ul>\n");
    page.append(kContentMarker).append(Body(answer)).append("</div>\n");
    page.append("<p class=\"attribution\">From Stack Exchange: " + Linked(questionLink, title) +
                ", asked by " + Author(question) + ", accepted answer by " + Author(answer) + "; " +
                licence + ".</p>\n");
    page.append(kMetaMarker).append("<li>Accepted answer by " + Author(answer) + "</li></ul>\n");
    page.append("</body></html>\n");
    return page;
}

StackExchangeSource::StackExchangeSource(std::string apiBase, Clock clock)
    : m_apiBase(std::move(apiBase)), m_clock(std::move(clock)) {
}

ApiReply StackExchangeSource::request(const std::string& method, const std::string& address) {
    const auto now = m_clock();
    if (const auto wait = m_notBefore.find(method);
        wait != m_notBefore.end() && now < wait->second) {
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait->second - now).count();
        ApiReply reply;
        reply.error = "Stack Exchange asked for a pause; try again in " + Seconds(seconds);
        return reply;
    }
    const DownloadedText text = DownloadText(address, downloadOptions());
    ApiReply reply = text.body.empty() && !text.result ? ApiReply{} : ReadApiReply(text.body);
    if (!text.result && !reply.refused) {
        reply.error = text.result.error;  // an error page, not the API's own error object
        reply.items.clear();
    }
    if (reply.backoffSeconds > 0) {
        m_notBefore[method] = m_clock() + std::chrono::seconds(reply.backoffSeconds);
    }
    if (reply.quotaRemaining) {
        m_quotaRemaining = reply.quotaRemaining;
    }
    return reply;
}

std::string StackExchangeSource::siteQuery(const std::string& site) const {
    return "site=" + PercentEncoded(site) + "&filter=withbody";
}

SearchOutcome StackExchangeSource::search(std::string_view term, const Depth& depth) {
    m_questions.clear();
    if (m_answers.size() > kKeptAnswers) {
        m_answers.clear();
    }
    const std::string site = m_site;
    const ApiReply reply =
        request("search/advanced", m_apiBase + "/2.3/search/advanced?order=desc&sort=relevance&q=" +
                                       PercentEncoded(term) + "&accepted=True&answers=1&pagesize=" +
                                       std::to_string(depth.asked) + "&" + siteQuery(site));
    SearchOutcome outcome;
    outcome.error = reply.error;
    for (const QJsonObject& item : reply.items) {
        const qint64 id = IdOf(item, "question_id");
        std::string title =
            DecodeHtmlEntities(Utf8(item.value(QStringLiteral("title")).toString()));
        if (id <= 0 || IdOf(item, "accepted_answer_id") <= 0 || title.empty() ||
            std::ssize(outcome.entries) >= depth.asked) {
            continue;
        }
        // A decoded line break or tab would break the list's one-line entries.
        std::replace_if(
            title.begin(), title.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; },
            ' ');
        std::string address =
            m_apiBase + "/2.3/questions/" + std::to_string(id) + "?" + siteQuery(site);
        outcome.entries.push_back({std::move(title), address});
        m_questions.push_back({std::move(address), site, item});
    }
    return outcome;
}

FetchOutcome StackExchangeSource::fetch(const std::string& address,
                                        const std::filesystem::path& target) {
    const auto cached = std::ranges::find(m_questions, address, &Question::address);
    Question question;
    if (cached != m_questions.end()) {
        question = *cached;
    } else {
        // Not from the last search: the address is the question's own request.
        const ApiReply reply = request("questions", address);
        if (!reply.error.empty()) {
            return {.error = reply.error};
        }
        if (reply.items.empty()) {
            return {.error = "the question is no longer on the site"};
        }
        const QUrlQuery query(QUrl(QString::fromStdString(address)));
        question = {address, Utf8(query.queryItemValue(QStringLiteral("site"), QUrl::FullyDecoded)),
                    reply.items.front()};
    }
    const qint64 answerId = IdOf(question.data, "accepted_answer_id");
    if (answerId <= 0) {
        return {.error = "the question has no accepted answer"};
    }
    const auto key = [&question](qint64 id) { return std::make_pair(question.site, id); };
    if (!m_answers.contains(key(answerId))) {
        // One request for every listed question still without its answer.
        std::string ids = std::to_string(answerId);
        for (const Question& listed : m_questions) {
            const qint64 id = IdOf(listed.data, "accepted_answer_id");
            if (listed.site == question.site && id > 0 && id != answerId &&
                !m_answers.contains(key(id))) {
                ids += ";" + std::to_string(id);
            }
        }
        const ApiReply reply = request("answers", m_apiBase + "/2.3/answers/" + ids +
                                                      "?pagesize=100&" + siteQuery(question.site));
        if (!reply.error.empty()) {
            return {.error = reply.error};
        }
        for (const QJsonObject& answer : reply.items) {
            m_answers[key(IdOf(answer, "answer_id"))] = answer;
        }
    }
    const auto answer = m_answers.find(key(answerId));
    if (answer == m_answers.end()) {
        return {.error = "its accepted answer is no longer on the site"};
    }
    const auto written =
        WriteFileReplacing(target, StackExchangePage(question.data, answer->second));
    return {.error = written ? std::string() : written.error()};
}

std::string StackExchangeSource::status() const {
    if (!m_quotaRemaining || *m_quotaRemaining >= kLowQuota) {
        return {};
    }
    const int left = *m_quotaRemaining;
    return "Stack Exchange: " +
           (left == 0   ? std::string("no requests")
            : left == 1 ? std::string("1 request")
                        : std::to_string(left) + " requests") +
           " left today";
}

}  // namespace quill
