#pragma once

// Stack Exchange API 2.3 replies in the shape the real service sends (field
// order and HTML-encoded titles and names as recorded from it), written by
// the tests themselves. Served gzip-compressed, as the API always does.

#include <string>
#include <vector>

namespace quill::test {

struct SeQuestion {
    int id;
    std::string title;  // HTML-encoded, as the API gives it
    std::string body;
    std::string answerBody;
    int answerId = id + 100;  // 0: no accepted answer
    std::string license = "CC BY-SA 4.0";
};

inline std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline std::string SeOwner(int userId, const std::string& name) {
    const std::string id = std::to_string(userId);
    return R"({"account_id":)" + id + R"(0,"reputation":1520,"user_id":)" + id +
           R"(,"user_type":"registered","profile_image":"https://i.sstatic.net/x.png?s=256","display_name":)" +
           JsonString(name) + R"(,"link":"https://stackoverflow.com/users/)" + id + R"(/u"})";
}

// A search/advanced item with the "withbody" filter.
inline std::string SeQuestionItem(const SeQuestion& q) {
    const std::string id = std::to_string(q.id);
    std::string item = R"({"tags":["bash","shell"],"owner":)" + SeOwner(q.id, "Asker " + id) +
                       R"(,"is_answered":true,"view_count":1234,)";
    if (q.answerId > 0) {
        item += R"("accepted_answer_id":)" + std::to_string(q.answerId) + ",";
    }
    item +=
        R"("answer_count":3,"score":42,"last_activity_date":1700000000,"creation_date":1500000000,"question_id":)" +
        id + R"(,"content_license":)" + JsonString(q.license) +
        R"(,"link":"https://stackoverflow.com/questions/)" + id + R"(/q","title":)" +
        JsonString(q.title) + R"(,"body":)" + JsonString(q.body) + "}";
    return item;
}

// An answers/{ids} item with the "withbody" filter.
inline std::string SeAnswerItem(const SeQuestion& q) {
    return R"({"owner":)" + SeOwner(q.answerId, "Answerer " + std::to_string(q.answerId)) +
           R"(,"is_accepted":true,"score":17,"last_activity_date":1700000000,"creation_date":1500000500,"answer_id":)" +
           std::to_string(q.answerId) + R"(,"question_id":)" + std::to_string(q.id) +
           R"(,"content_license":"CC BY-SA 4.0","body":)" + JsonString(q.answerBody) + "}";
}

// The wrapper object around items; extra fields (",\"backoff\":10") go last.
inline std::string SeReply(const std::vector<std::string>& items, int quotaRemaining = 287,
                           const std::string& extra = "") {
    std::string reply = R"({"items":[)";
    for (std::size_t i = 0; i < items.size(); ++i) {
        reply += (i == 0 ? "" : ",") + items[i];
    }
    return reply + R"(],"has_more":false,"quota_max":300,"quota_remaining":)" +
           std::to_string(quotaRemaining) + extra + "}";
}

inline std::string SeSearchReply(const std::vector<SeQuestion>& questions, int quota = 287,
                                 const std::string& extra = "") {
    std::vector<std::string> items;
    for (const auto& q : questions) {
        items.push_back(SeQuestionItem(q));
    }
    return SeReply(items, quota, extra);
}

inline std::string SeAnswersReply(const std::vector<SeQuestion>& questions, int quota = 286) {
    std::vector<std::string> items;
    for (const auto& q : questions) {
        items.push_back(SeAnswerItem(q));
    }
    return SeReply(items, quota);
}

// The API's error object.
inline std::string SeError(int id, const std::string& name, const std::string& message) {
    return R"({"error_id":)" + std::to_string(id) + R"(,"error_message":)" + JsonString(message) +
           R"(,"error_name":)" + JsonString(name) + "}";
}

// The article the cut makes of the page for q (bodies without line breaks).
inline std::string SeArticle(const SeQuestion& q) {
    const std::string id = std::to_string(q.id);
    const std::string answer = std::to_string(q.answerId);
    return "<h1 class=\"subject\">" + q.title + "</h1>\r\n<div class=\"content\">" + q.body +
           "</div>\r\n\r\n<h1>Answer</h1>\r\n<div class=\"content\">" + q.answerBody +
           "</div>\r\n<p class=\"attribution\">From Stack Exchange: <a "
           "href=\"https://stackoverflow.com/questions/" +
           id + "/q\">" + q.title + "</a>, asked by <a href=\"https://stackoverflow.com/users/" +
           id + "/u\">Asker " + id +
           "</a>, accepted answer by <a href=\"https://stackoverflow.com/users/" + answer +
           "/u\">Answerer " + answer +
           "</a>; licensed under <a href=\"https://creativecommons.org/licenses/by-sa/4.0/\">CC "
           "BY-SA 4.0</a>.</p>\r\n";
}

}  // namespace quill::test
