// The one way the widgets (and the application) open a link in the web browser.
#pragma once

#include <QUrl>
#include <functional>

class URLOpener {
  public:
    // Receives the URL to hand to the browser; its answer is only informative.
    using Handler = std::function<bool(const QUrl&)>;

    // Hands the URL to the current handler, a "safari:" target rewritten as "http:" first, since
    // no browser outside the Mac knows that scheme and the system's default browser serves instead.
    // An empty or invalid URL opens nothing and answers false.
    static bool open(const QUrl& url);

    // What open() hands over for a given link target.
    static QUrl browserTarget(const QUrl& url);

    // Replaces the handler (tests install one that records instead of starting a browser);
    // an empty handler restores the default, QDesktopServices::openUrl.
    static void setHandler(Handler handler);
};
