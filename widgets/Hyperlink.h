// Link strings: rich text whose characters carry a link target, and the reading of that target.
#pragma once

#include <QString>
#include <QTextCharFormat>
#include <QTextDocumentFragment>
#include <QTextFormat>
#include <QUrl>
#include <QVariant>

// A character's link target is carried in one of two forms, which readers treat alike:
// as text, in the anchor href of its format (what the builders write), or as a URL object,
// in this property (what code holding a QUrl may set with setLinkURL).
constexpr int LinkURLProperty = QTextFormat::UserProperty + 0x4c4b;

// The whole text as one link: the link target is the URL's absolute string, shown in blue with a
// single underline. An empty title gives an empty text without a link; so does a URL that is not
// valid, which has no absolute string (the title is then returned as plain text).
QTextDocumentFragment hyperlinkFromString(const QString& title, const QUrl& url);

// The same link in white, without underline, for links drawn on a highlighted background.
QTextDocumentFragment highlightedHyperlinkFromString(const QString& title, const QUrl& url);

// The URL as the link attribute writes it (percent-encoded, like an absolute string).
QString absoluteString(const QUrl& url);

// The link attribute of a format: a QString, a QUrl, or an invalid QVariant when there is no link.
QVariant linkAttribute(const QTextCharFormat& format);

// Turns a link attribute into a URL: text through QUrl's strict parsing, a QUrl as it is.
QUrl urlFromLinkAttribute(const QVariant& value);

// Marks a format as a link whose target is a URL object (rather than text).
void setLinkURL(QTextCharFormat& format, const QUrl& url);

// Appends one rich text to another (both may be empty).
void appendAttributedString(QTextDocumentFragment& target, const QTextDocumentFragment& tail);
