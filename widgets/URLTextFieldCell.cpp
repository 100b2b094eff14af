#include "URLTextFieldCell.h"

#include "Hyperlink.h"
#include "URLOpener.h"

#include <QMouseEvent>

URLTextFieldCell::URLTextFieldCell(QWidget* parent) : AttributedTextField(parent) {
    resetCursorRect();
}

URLTextFieldCell::~URLTextFieldCell() = default;

void URLTextFieldCell::setURLString(const QString& urlText, const QString& title) {
    setURL(QUrl(urlText, QUrl::StrictMode), title);
}

void URLTextFieldCell::setURLString(const QString& urlText) {
    setURL(QUrl(urlText, QUrl::StrictMode));
}

void URLTextFieldCell::setURL(const QUrl& url, const QString& title) {
    url_ = url.isValid() ? url : QUrl();
    QTextDocumentFragment shown;
    appendAttributedString(shown, hyperlinkFromString(title, url_));
    setAttributedStringValue(shown);
}

void URLTextFieldCell::setURL(const QUrl& url) {
    setURL(url, stringValue());
}

void URLTextFieldCell::resetCursorRect() {
    setCursor(Qt::PointingHandCursor);
}

void URLTextFieldCell::OnClick() {
    URLOpener::open(url_);
}

void URLTextFieldCell::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void URLTextFieldCell::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click)
        OnClick();
}
