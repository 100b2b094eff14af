// Helpers shared by the link widget tests: a URL opener that records instead of starting a
// browser, and mouse events delivered straight to a widget.
#pragma once

#include "URLOpener.h"

#include <QCoreApplication>
#include <QList>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

// Installs itself as the URL handler for its lifetime.
class RecordingOpener {
  public:
    RecordingOpener() {
        URLOpener::setHandler([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
    }
    ~RecordingOpener() { URLOpener::setHandler({}); }
    RecordingOpener(const RecordingOpener&) = delete;
    RecordingOpener& operator=(const RecordingOpener&) = delete;

    QList<QUrl> opened;
};

inline void sendMouse(QWidget* widget, QEvent::Type type, const QPointF& pos,
                      Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button)
                                                                   : Qt::MouseButtons(Qt::NoButton);
    QMouseEvent event(type, pos, QPointF(widget->mapToGlobal(pos.toPoint())), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

inline void press(QWidget* widget, const QPointF& pos, Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(widget, QEvent::MouseButtonPress, pos, button);
}

inline void release(QWidget* widget, const QPointF& pos, Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(widget, QEvent::MouseButtonRelease, pos, button);
}

inline void click(QWidget* widget, const QPointF& pos, Qt::MouseButton button = Qt::LeftButton) {
    press(widget, pos, button);
    release(widget, pos, button);
}
