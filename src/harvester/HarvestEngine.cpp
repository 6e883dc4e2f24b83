#include "HarvestEngine.h"

#include "StackExchangeSource.h"
#include "common/TextCodec.h"

namespace quill {

HarvestEngine::HarvestEngine(std::filesystem::path programFolder, std::string stackExchangeApi,
                             QObject* parent)
    : QObject(parent),
      m_programFolder(std::move(programFolder)),
      m_stackExchangeApi(std::move(stackExchangeApi)) {
    connect(&m_queue, &WorkerQueue::busyChanged, this, &HarvestEngine::busyChanged);
}

HarvestEngine::~HarvestEngine() {
    m_queue.shutdown();
    // The worker has ended: the sources can go on this thread.
}

QaSource& HarvestEngine::listSource() {
    // No search yet: a question's address is its page.
    return m_listSource != nullptr ? *m_listSource : useClassic("", "");
}

QaSource& HarvestEngine::useClassic(const std::string& searchHost, const std::string& answersHost) {
    m_classic = std::make_unique<ClassicSource>(m_programFolder, searchHost, answersHost);
    m_classic->setStop(&m_queue.stopFlag());
    m_listSource = m_classic.get();
    return *m_listSource;
}

template <typename Outcome>
HarvestEngine::Answer<Outcome> HarvestEngine::answer(Outcome outcome) {
    const bool stopped = !outcome && m_queue.stopRequested();
    return {std::move(outcome), stopped, listSource().status()};
}

void HarvestEngine::search(SearchRequest request) {
    m_queue.submit<Answer<SearchOutcome>>(
        [this, request = std::move(request)] {
            if (request.stackExchangeSite.empty()) {
                useClassic(request.searchHost, request.answersHost);
            } else {
                if (!m_stackExchange) {
                    m_stackExchange = std::make_unique<StackExchangeSource>(m_stackExchangeApi);
                    m_stackExchange->setStop(&m_queue.stopFlag());
                }
                m_stackExchange->setSite(request.stackExchangeSite);
                m_listSource = m_stackExchange.get();
            }
            return answer(m_listSource->search(request.term, request.depth));
        },
        [this](Answer<SearchOutcome> done) {
            Q_EMIT statusChanged(Qs(done.status));
            Q_EMIT searched(done.outcome, done.stopped);
        });
}

void HarvestEngine::fetch(std::string address, std::filesystem::path target) {
    m_queue.submit<Answer<FetchOutcome>>(
        [this, address = std::move(address), target = std::move(target)] {
            return answer(listSource().fetch(address, target));
        },
        [this](Answer<FetchOutcome> done) {
            Q_EMIT statusChanged(Qs(done.status));
            Q_EMIT fetched(done.outcome, done.stopped);
        });
}

void HarvestEngine::saveAll(std::vector<std::string> addresses, std::string term) {
    struct Ended {
        bool stopped = false;
        explicit operator bool() const { return !stopped; }
    };
    m_queue.submit<Answer<Ended>>(
        [this, addresses = std::move(addresses), term = std::move(term)] {
            const int count = static_cast<int>(addresses.size());
            int n = 0;
            for (; n < count && !m_queue.stopRequested(); ++n) {
                m_queue.post([this, n, count] { Q_EMIT savingQuestion(n, count); });
                SavedQuestion saved = SaveQuestion(listSource(), m_programFolder, n,
                                                   addresses[static_cast<std::size_t>(n)], term);
                if (!saved.downloaded && m_queue.stopRequested()) {
                    break;  // cut off by the stop, not the question's fault
                }
                m_queue.post(
                    [this, n, saved = std::move(saved)] { Q_EMIT questionSaved(n, saved); });
            }
            return answer(Ended{n < count});
        },
        [this](Answer<Ended> done) {
            Q_EMIT statusChanged(Qs(done.status));
            Q_EMIT savedAll(done.stopped);
        });
}

}  // namespace quill
