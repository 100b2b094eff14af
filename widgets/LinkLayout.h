// Text layout queries shared by the link widgets: where a run of characters is drawn, which
// character lies under a point, and where a link run begins and ends.
#pragma once

#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QVariant>
#include <QVector>

// Horizontal inset of each line inside its layout area.
constexpr qreal LineFragmentPadding = 2.0;
// Stands for "unbounded" in a layout area size (the largest single-precision value).
constexpr qreal UnboundedExtent = 3.4028234663852886e38;

// Prepares a document for the widgets' layout: default font, the padding above, breaking at word
// boundaries (or anywhere for a word longer than a line) and the width of the layout area
// (unbounded width: lines break only at paragraph ends).
void configureLayout(QTextDocument& doc, const QFont& font, const QSizeF& containerSize);

// Changes the width of the layout area (the document lays out again only when it differs).
void setLayoutWidth(QTextDocument& doc, qreal containerWidth);

// Replaces the document's content, keeping its layout configuration.
void setLayoutText(QTextDocument& doc, const QTextDocumentFragment& text);

// Number of characters of the text (without the document's final paragraph end).
int textLength(const QTextDocument& doc);

// One rectangle per line the characters [start, end) occupy, in document coordinates.
QVector<QRectF> rectsForCharacterRange(const QTextDocument& doc, int start, int end);

// The character drawn nearest to the point (document coordinates), or -1 for an empty text.
int characterIndexForPoint(const QTextDocument& doc, const QPointF& point);

// A maximal run of characters sharing one link attribute value (invalid value: not a link).
struct LinkRun {
    int start = 0;
    int end = 0; // one past the last character
    QVariant value;
    bool isLink() const { return value.isValid(); }
};

// The run holding the character at pos, clipped to [pos, limit).
LinkRun linkRunAt(const QTextDocument& doc, int pos, int limit);
