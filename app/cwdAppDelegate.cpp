#include "cwdAppDelegate.h"

#include <QGuiApplication>
#include <QScreen>

cwdAppDelegate::cwdAppDelegate(QObject* parent) : QObject(parent) {}

void cwdAppDelegate::applicationDidFinishLaunching() {
    centerWindow(window_);
}

void centerWindow(QWidget* window) {
    if (!window)
        return;
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
