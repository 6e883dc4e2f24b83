#pragma once

#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace quill {

enum class PageScripts { Off, On };

// What a page in one of the program's web views may do. The pages come from
// the network (question pages and the articles cut from them) and lie beside
// profiles that hold passwords: a page loaded from a local file may not read
// other local files nor reach the network, and runs scripts only where the
// view asks for them.
inline void RestrictWebView(QWebEngineView& view, PageScripts scripts) {
    QWebEngineSettings* settings = view.settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, scripts == PageScripts::On);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
}

// A page's request for url goes out only to one of hosts (exactly, any
// scheme on the network) or stays inside the program (data:, about:, blob:,
// file: and the web engine's own schemes).
inline bool MayRequest(const QUrl& url, const QStringList& hosts) {
    const QString scheme = url.scheme().toLower();
    for (const char* network : {"http", "https", "ws", "wss", "ftp"}) {
        if (scheme == QLatin1String(network)) {
            return hosts.contains(url.host().toLower());
        }
    }
    return true;
}

// Blocks every request of the view's page that MayRequest refuses: a script
// in a fetched page cannot call home, while the advert host still serves.
class RequestFilter final : public QWebEngineUrlRequestInterceptor {
public:
    RequestFilter(QStringList hosts, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), m_hosts(std::move(hosts)) {}
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        info.block(!MayRequest(info.requestUrl(), m_hosts));
    }

private:
    QStringList m_hosts;
};

// Lets view's page reach only hosts on the network.
inline void LimitRequests(QWebEngineView& view, const QStringList& hosts) {
    view.page()->setUrlRequestInterceptor(new RequestFilter(hosts, &view));
}

}  // namespace quill
