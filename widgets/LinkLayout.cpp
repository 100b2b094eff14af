#include "LinkLayout.h"

#include "Hyperlink.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextOption>
#include <algorithm>

namespace {

void applyPadding(QTextDocument& doc) {
    QTextFrameFormat frame = doc.rootFrame()->frameFormat();
    frame.setBorder(0);
    frame.setPadding(0);
    frame.setTopMargin(0);
    frame.setBottomMargin(0);
    frame.setLeftMargin(LineFragmentPadding);
    frame.setRightMargin(LineFragmentPadding);
    doc.rootFrame()->setFrameFormat(frame);
}

// Block layouts are filled lazily; every query needs the whole text laid out first.
void ensureLaidOut(const QTextDocument& doc) {
    (void)doc.size();
}

QPointF blockOrigin(const QTextDocument& doc, const QTextBlock& block) {
    return doc.documentLayout()->blockBoundingRect(block).topLeft();
}

struct Segment {
    QVariant value;
    int end;
};

// The link attribute at one character and where the stretch of text sharing its format ends.
Segment segmentAt(const QTextDocument& doc, int pos) {
    const QTextBlock block = doc.findBlock(pos);
    if (!block.isValid() || pos >= block.position() + block.length() - 1)
        return {QVariant(), pos + 1}; // a paragraph end carries no link
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.contains(pos))
            return {linkAttribute(fragment.charFormat()), fragment.position() + fragment.length()};
    }
    return {QVariant(), pos + 1};
}

} // namespace

void configureLayout(QTextDocument& doc, const QFont& font, const QSizeF& containerSize) {
    doc.setUndoRedoEnabled(false);
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    applyPadding(doc);
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
    setLayoutWidth(doc, containerSize.width());
}

void setLayoutWidth(QTextDocument& doc, qreal containerWidth) {
    const qreal width = containerWidth >= UnboundedExtent ? -1.0 : containerWidth;
    if (doc.textWidth() != width)
        doc.setTextWidth(width);
}

void setLayoutText(QTextDocument& doc, const QTextDocumentFragment& text) {
    doc.clear();
    QTextCursor cursor(&doc);
    cursor.insertFragment(text);
    applyPadding(doc);
}

int textLength(const QTextDocument& doc) {
    return std::max(0, doc.characterCount() - 1);
}

QVector<QRectF> rectsForCharacterRange(const QTextDocument& doc, int start, int end) {
    QVector<QRectF> rects;
    if (end <= start)
        return rects;
    ensureLaidOut(doc);
    for (QTextBlock block = doc.findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        const QTextLayout* layout = block.layout();
        if (!layout)
            continue;
        const QPointF origin = blockOrigin(doc, block);
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const int lineStart = block.position() + line.textStart();
            const int from = std::max(start, lineStart);
            const int to = std::min(end, lineStart + line.textLength());
            if (from >= to)
                continue;
            const qreal x1 = line.cursorToX(from - block.position());
            const qreal x2 = line.cursorToX(to - block.position());
            rects.append(QRectF(origin.x() + std::min(x1, x2), origin.y() + line.y(),
                                std::abs(x2 - x1), line.height()));
        }
    }
    return rects;
}

int characterIndexForPoint(const QTextDocument& doc, const QPointF& point) {
    const int length = textLength(doc);
    if (length == 0)
        return -1;
    ensureLaidOut(doc);

    // The line under the point, or failing that the nearest one.
    QTextBlock bestBlock;
    QTextLine bestLine;
    qreal bestDistance = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        if (!layout)
            continue;
        const qreal top = blockOrigin(doc, block).y();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const qreal lineTop = top + line.y();
            const qreal lineBottom = lineTop + line.height();
            const qreal distance = point.y() < lineTop       ? lineTop - point.y()
                                   : point.y() >= lineBottom ? point.y() - lineBottom
                                                             : 0;
            if (!bestLine.isValid() || distance < bestDistance) {
                bestBlock = block;
                bestLine = line;
                bestDistance = distance;
            }
        }
    }
    if (!bestLine.isValid())
        return -1;

    const qreal x = point.x() - blockOrigin(doc, bestBlock).x();
    int local = bestLine.xToCursor(x, QTextLine::CursorOnCharacter);
    const int lineEnd = bestLine.textStart() + std::max(1, bestLine.textLength());
    local = std::clamp(local, bestLine.textStart(), lineEnd - 1);
    return std::min(bestBlock.position() + local, length - 1);
}

LinkRun linkRunAt(const QTextDocument& doc, int pos, int limit) {
    LinkRun run;
    run.start = pos;
    run.end = pos;
    if (pos < 0 || pos >= limit)
        return run;
    Segment segment = segmentAt(doc, pos);
    run.value = segment.value;
    int end = segment.end;
    while (end < limit) {
        const Segment next = segmentAt(doc, end);
        if (next.value != run.value)
            break;
        end = next.end;
    }
    run.end = std::min(end, limit);
    return run;
}
