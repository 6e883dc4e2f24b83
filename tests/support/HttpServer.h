#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace quill::test {

// A real HTTP server on 127.0.0.1 and a free port, run on its own thread for
// the life of the object. Pages can be changed while it runs.
class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const { return m_port; }
    // "127.0.0.1:PORT", usable as a host name in addresses.
    std::string host() const;
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;

    void serve(const std::string& path, std::string body, int status = 200);
    // Requests for path get headers and then nothing until the server stops.
    void stall(const std::string& path);
    // Requests for path are answered with a redirect to target.
    void redirect(const std::string& path, const std::string& target);
    // body goes out gzip-compressed ("Content-Encoding: gzip"): a few
    // kilobytes on the wire can unpack to megabytes.
    void serveGzip(const std::string& path, const std::string& body, int status = 200);
    // Requests for path get 'x' bytes without end: chunked, or after a
    // Content-Length of declaredLength when that is above 0.
    void serveEndless(const std::string& path, std::uint64_t declaredLength = 0);

    // Request targets ("/path?query") in the order they arrived, undecoded.
    std::vector<std::string> requests() const;

private:
    struct Page {
        std::string body;
        int status = 200;
        bool stall = false;
        std::string redirect;
        bool gzip = false;
        bool endless = false;
        std::uint64_t declaredLength = 0;
    };

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    std::map<std::string, Page> m_pages;
    std::vector<std::string> m_requests;
};

}  // namespace quill::test
