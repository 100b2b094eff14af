#include "Hyperlink.h"

#include <QColor>
#include <QTextCursor>
#include <QTextDocument>

namespace {

QTextDocumentFragment buildLink(const QString& title, const QUrl& url, const QColor& colour,
                                bool underline) {
    if (title.isEmpty())
        return {};
    if (!url.isValid() || url.isEmpty())
        return QTextDocumentFragment::fromPlainText(title);

    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(absoluteString(url));
    format.setForeground(colour);
    if (underline)
        format.setUnderlineStyle(QTextCharFormat::SingleUnderline);

    QTextDocument doc;
    QTextCursor cursor(&doc);
    cursor.insertText(title, format);
    return QTextDocumentFragment(&doc);
}

} // namespace

QTextDocumentFragment hyperlinkFromString(const QString& title, const QUrl& url) {
    return buildLink(title, url, Qt::blue, true);
}

QTextDocumentFragment highlightedHyperlinkFromString(const QString& title, const QUrl& url) {
    return buildLink(title, url, Qt::white, false);
}

QString absoluteString(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded);
}

QVariant linkAttribute(const QTextCharFormat& format) {
    const QVariant object = format.property(LinkURLProperty);
    if (object.isValid())
        return object;
    if (format.isAnchor() && !format.anchorHref().isEmpty())
        return format.anchorHref();
    return {};
}

QUrl urlFromLinkAttribute(const QVariant& value) {
    if (value.userType() == QMetaType::QUrl)
        return value.toUrl();
    if (value.userType() == QMetaType::QString)
        return QUrl(value.toString(), QUrl::StrictMode);
    return {};
}

void setLinkURL(QTextCharFormat& format, const QUrl& url) {
    format.setProperty(LinkURLProperty, url);
}

void appendAttributedString(QTextDocumentFragment& target, const QTextDocumentFragment& tail) {
    QTextDocument doc;
    QTextCursor cursor(&doc);
    cursor.insertFragment(target);
    cursor.movePosition(QTextCursor::End);
    // A fragment made from plain text takes the cursor's format, which would continue a link.
    cursor.setCharFormat(QTextCharFormat());
    cursor.insertFragment(tail);
    target = QTextDocumentFragment(&doc);
}
