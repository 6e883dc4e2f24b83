#pragma once

#include "BulkSave.h"
#include "QaSource.h"
#include "ResultScan.h"
#include "common/WorkerQueue.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quill {

class ClassicSource;
class StackExchangeSource;

struct SearchRequest {
    std::string term;
    Depth depth;
    // The web search through these hosts, unless a Stack Exchange site is named.
    std::string searchHost;
    std::string answersHost;
    std::string stackExchangeSite;
};

// The harvester's network work, one piece at a time on one worker: the
// search, a question page, the bulk save. The sources live on the worker, so
// their caches and back-off clocks belong to one thread; the source whose
// search filled the list serves the fetches and saves after it. Progress and
// results come back as signals on the engine's own thread.
class HarvestEngine final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestEngine)
public:
    HarvestEngine(std::filesystem::path programFolder, std::string stackExchangeApi,
                  QObject* parent = nullptr);
    // Stops the work under way and drops its results.
    ~HarvestEngine() override;

    bool busy() const { return m_queue.busy(); }
    // The work under way ends within a second; what is saved stays.
    void stop() { m_queue.stop(); }

    // searched() follows.
    void search(SearchRequest request);
    // Fetches a question's page into target; fetched() follows.
    void fetch(std::string address, std::filesystem::path target);
    // Saves each address as question n (0, 1, ...) of term: savingQuestion()
    // and questionSaved() for each, savedAll() at the end. A stop ends it
    // between questions or during a download, which then writes nothing.
    void saveAll(std::vector<std::string> addresses, std::string term);

Q_SIGNALS:
    void busyChanged(bool busy);
    // The source's note for a status line, before each result.
    void statusChanged(const QString& status);
    // stopped: the user ended it, and the outcome's error says no more.
    void searched(const quill::SearchOutcome& outcome, bool stopped);
    void fetched(const quill::FetchOutcome& outcome, bool stopped);
    void savingQuestion(int n, int count);
    void questionSaved(int n, const quill::SavedQuestion& saved);
    void savedAll(bool stopped);

private:
    template <typename Outcome>
    struct Answer {
        Outcome outcome;
        bool stopped = false;
        std::string status;
    };
    // On the worker.
    QaSource& listSource();
    // A new web-search source, the one Next and Save all then fetch from.
    QaSource& useClassic(const std::string& searchHost, const std::string& answersHost);
    template <typename Outcome>
    Answer<Outcome> answer(Outcome outcome);

    std::filesystem::path m_programFolder;
    std::string m_stackExchangeApi;
    WorkerQueue m_queue{QStringLiteral("Harvester")};
    // Touched only by jobs, on the worker thread.
    std::unique_ptr<ClassicSource> m_classic;
    std::unique_ptr<StackExchangeSource> m_stackExchange;
    QaSource* m_listSource = nullptr;
};

}  // namespace quill
