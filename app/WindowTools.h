// Small moves on the windows that the controller makes in many places.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class DSClickableURLTextField;
class QProgressBar;

// The element of that object name among the windows (a window itself included), or null.
template <typename T> T* findElement(const QList<QWidget*>& windows, const char* objectName) {
    for (QWidget* window : windows) {
        if (!window)
            continue;
        if (window->objectName() == QLatin1String(objectName))
            if (T* element = qobject_cast<T*>(window))
                return element;
        if (T* element = window->findChild<T*>(QLatin1String(objectName)))
            return element;
    }
    return nullptr;
}

// A busy indicator that spins, or stays in view standing still.
void startSpinning(QProgressBar* bar);
void stopSpinning(QProgressBar* bar);
// In front, with the keyboard.
void showInFront(QWidget* window);
// The field shows the text as one link to the target; no field of its window keeps the focus.
void buildLinkField(DSClickableURLTextField* field, const QString& text, const QString& target);
