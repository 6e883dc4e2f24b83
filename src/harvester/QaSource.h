#pragma once

#include "ResultScan.h"
#include "net/WebDownload.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

struct SearchOutcome {
    std::vector<ResultEntry> entries;  // titles as bytes for the list, addresses for fetch
    std::string error;                 // empty on success; a short reason for a message
    explicit operator bool() const { return error.empty(); }
};

struct FetchOutcome {
    std::string error;  // empty on success; a short reason for a message
    explicit operator bool() const { return error.empty(); }
};

// Where the harvester finds questions: a search gives titles and addresses,
// a fetch turns one address into a page file that CutQaArticle cuts into an
// article. Neither sends a request unless called.
class QaSource {
public:
    virtual ~QaSource() = default;
    virtual SearchOutcome search(std::string_view term, const Depth& depth) = 0;
    // Replaces target only on success; a failure leaves it as it was.
    virtual FetchOutcome fetch(const std::string& address, const std::filesystem::path& target) = 0;
    // A note for the window's status line, empty when there is nothing to say.
    virtual std::string status() const { return {}; }

    // A flag another thread sets to end the request under way; may be null.
    void setStop(const std::atomic<bool>* stop) { m_stop = stop; }

protected:
    // Options for a request, with the stop flag.
    DownloadOptions downloadOptions() const {
        DownloadOptions options;
        options.stop = m_stop;
        return options;
    }

private:
    const std::atomic<bool>* m_stop = nullptr;
};

// The web search of the Q&A service's pages: the query address, the result
// page in "temp.htm" read with the skip, the result-page scan; a question's
// address is its page.
class ClassicSource final : public QaSource {
public:
    ClassicSource(std::filesystem::path programFolder, std::string searchHost,
                  std::string answersHost);
    SearchOutcome search(std::string_view term, const Depth& depth) override;
    FetchOutcome fetch(const std::string& address, const std::filesystem::path& target) override;

private:
    std::filesystem::path m_programFolder;
    std::string m_searchHost;
    std::string m_answersHost;
};

}  // namespace quill
