// The application delegate: knows the main window and centres it once launching has finished.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class cwdAppDelegate : public QObject {
    Q_OBJECT

  public:
    explicit cwdAppDelegate(QObject* parent = nullptr);

    QWidget* window() const { return window_; }
    void setWindow(QWidget* window) { window_ = window; }

    void applicationDidFinishLaunching();

  private:
    // Not owned: the window belongs to the interface.
    QPointer<QWidget> window_;
};

// Moves a window to the middle of the screen it is on (or the primary screen).
void centerWindow(QWidget* window);
