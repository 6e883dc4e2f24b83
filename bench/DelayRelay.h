// A TCP relay that holds back every byte by a fixed delay in each direction,
// to give loopback FTP a wide-area round trip without netem. It listens on
// 127.0.0.1 and forwards to 127.0.0.2 on the same port, for a control port
// and a range of passive data ports, and counts the commands clients send on
// the control port.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class DelayRelay {
public:
    struct Counts {
        int controlConnections = 0;
        int dataConnections = 0;
        int commands = 0;
        std::map<std::string, int> verbs;  // upper case
        std::vector<std::string> lines;    // every command as sent

        int operator[](const std::string& verb) const {
            const auto it = verbs.find(verb);
            return it == verbs.end() ? 0 : it->second;
        }
    };

    // Listens on controlPort and the dataPorts (none may be taken).
    DelayRelay(int controlPort, const std::vector<int>& dataPorts, std::chrono::microseconds delay);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    // Counts since the last reset.
    Counts counts() const;
    void reset();
    // Waits until every relayed connection has closed; false on time-out.
    bool waitIdle(std::chrono::milliseconds timeout) const;

private:
    void run();
    void record(const std::string& line);

    std::chrono::microseconds m_delay;
    int m_controlPort;
    std::vector<std::pair<int, int>> m_listeners;  // fd, port
    int m_wake = -1;
    std::atomic<int> m_open{0};
    mutable std::mutex m_mutex;
    Counts m_counts;
    std::thread m_thread;
};

// A first port such that it and the count ports after it can be bound on
// both 127.0.0.1 and 127.0.0.2 now.
int FindPortRange(int count);

}  // namespace bench
