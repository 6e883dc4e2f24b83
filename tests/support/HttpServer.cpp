#include "HttpServer.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>

namespace quill::test {

HttpServer::HttpServer() : m_server(std::make_unique<httplib::Server>()) {
    m_server->set_keep_alive_max_count(1);
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Page page;
        bool found = false;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(req.target);
            if (auto it = m_pages.find(req.path); it != m_pages.end()) {
                page = it->second;
                found = true;
            }
        }
        if (!found) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        if (page.stall) {
            // Send the headers, then hold the body back until shutdown.
            res.set_chunked_content_provider("text/html", [this](size_t, httplib::DataSink& sink) {
                sink.write("<html>", 6);
                std::unique_lock lock(m_mutex);
                m_stopped.wait(lock, [this] { return m_stopping; });
                return false;
            });
            return;
        }
        if (!page.redirect.empty()) {
            res.set_redirect(page.redirect);
            return;
        }
        res.status = page.status;
        res.set_content(page.body, "text/html");
    };
    m_server->Get(".*", handler);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        throw std::runtime_error("cannot bind a test HTTP server on 127.0.0.1");
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 500 && !m_server->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    m_server->stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string HttpServer::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string HttpServer::url(const std::string& path) const {
    return "http://" + host() + path;
}

void HttpServer::serve(const std::string& path, std::string body, int status) {
    std::lock_guard lock(m_mutex);
    m_pages[path] = Page{std::move(body), status, false, {}};
}

void HttpServer::stall(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_pages[path] = Page{{}, 200, true, {}};
}

void HttpServer::redirect(const std::string& path, const std::string& target) {
    std::lock_guard lock(m_mutex);
    m_pages[path] = Page{{}, 302, false, target};
}

std::vector<std::string> HttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

}  // namespace quill::test
