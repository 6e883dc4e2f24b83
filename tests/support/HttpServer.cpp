#include "HttpServer.h"

#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace quill::test {
namespace {

std::string GzipCompress(const std::string& body) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&z, body.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    z.avail_in = static_cast<uInt>(body.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("gzip compression failed");
    }
    return out;
}

// Not a text type, so the server does not compress it once more.
constexpr const char* kBinaryType = "application/octet-stream";

}  // namespace

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
        if (page.endless) {
            auto more = [this](std::size_t length, httplib::DataSink& sink) {
                static const std::string chunk(64 << 10, 'x');
                {
                    std::lock_guard lock(m_mutex);
                    if (m_stopping) {
                        return false;
                    }
                }
                return sink.write(chunk.data(), std::min(length, chunk.size()));
            };
            if (page.declaredLength > 0) {
                res.set_content_provider(
                    page.declaredLength, kBinaryType,
                    [more](std::size_t, std::size_t length, httplib::DataSink& sink) {
                        return more(length, sink);
                    });
            } else {
                res.set_chunked_content_provider(
                    kBinaryType,
                    [more](std::size_t, httplib::DataSink& sink) { return more(64 << 10, sink); });
            }
            return;
        }
        if (page.gzip) {
            res.status = page.status;
            res.set_header("Content-Encoding", "gzip");
            res.set_content(page.body, kBinaryType);
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
    Page page;
    page.body = std::move(body);
    page.status = status;
    m_pages[path] = std::move(page);
}

void HttpServer::stall(const std::string& path) {
    std::lock_guard lock(m_mutex);
    Page page;
    page.stall = true;
    m_pages[path] = std::move(page);
}

void HttpServer::redirect(const std::string& path, const std::string& target) {
    std::lock_guard lock(m_mutex);
    Page page;
    page.status = 302;
    page.redirect = target;
    m_pages[path] = std::move(page);
}

void HttpServer::serveGzip(const std::string& path, const std::string& body, int status) {
    Page page;
    page.body = GzipCompress(body);
    page.status = status;
    page.gzip = true;
    std::lock_guard lock(m_mutex);
    m_pages[path] = std::move(page);
}

void HttpServer::serveEndless(const std::string& path, std::uint64_t declaredLength) {
    Page page;
    page.endless = true;
    page.declaredLength = declaredLength;
    std::lock_guard lock(m_mutex);
    m_pages[path] = std::move(page);
}

std::vector<std::string> HttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

}  // namespace quill::test
