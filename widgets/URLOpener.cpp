#include "URLOpener.h"

#include <QDesktopServices>

namespace {

URLOpener::Handler& currentHandler() {
    static URLOpener::Handler handler;
    return handler;
}

} // namespace

QUrl URLOpener::browserTarget(const QUrl& url) {
    if (url.scheme().compare(QLatin1String("safari"), Qt::CaseInsensitive) != 0)
        return url;
    QUrl target(url);
    target.setScheme(QStringLiteral("http"));
    return target;
}

bool URLOpener::open(const QUrl& url) {
    if (url.isEmpty() || !url.isValid())
        return false;
    const QUrl target = browserTarget(url);
    const Handler& handler = currentHandler();
    return handler ? handler(target) : QDesktopServices::openUrl(target);
}

void URLOpener::setHandler(Handler handler) {
    currentHandler() = std::move(handler);
}
