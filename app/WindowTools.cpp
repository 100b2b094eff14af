#include "WindowTools.h"

#include "DSClickableURLTextField.h"
#include "Hyperlink.h"

#include <QProgressBar>

void startSpinning(QProgressBar* bar) {
    bar->setRange(0, 0);
    bar->setVisible(true);
}

void stopSpinning(QProgressBar* bar) {
    bar->setRange(0, 1);
    bar->setValue(0);
}

void showInFront(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

void buildLinkField(DSClickableURLTextField* field, const QString& text, const QString& target) {
    QTextDocumentFragment value;
    appendAttributedString(value, hyperlinkFromString(text, QUrl(target)));
    field->setAttributedStringValue(value);
    field->setFocus();
    if (QWidget* focused = field->window()->focusWidget())
        focused->clearFocus();
}
