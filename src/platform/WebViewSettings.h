#pragma once

#include <QWebEngineSettings>
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

}  // namespace quill
