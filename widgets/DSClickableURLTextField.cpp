#include "DSClickableURLTextField.h"

#include "Hyperlink.h"
#include "LinkLayout.h"
#include "URLOpener.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextDocument>

namespace {

// A point on the lower or right edge belongs to the next rectangle, not to this one.
bool mouseInRect(const QPointF& point, const QRectF& rect) {
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top() &&
           point.y() < rect.bottom();
}

} // namespace

DSClickableURLTextField::DSClickableURLTextField(QWidget* parent) : AttributedTextField(parent) {
    // Cursor areas follow the mouse, so moves are wanted without a button held.
    setMouseTracking(true);
    canCopyURLs_ = false;
}

DSClickableURLTextField::~DSClickableURLTextField() = default;

void DSClickableURLTextField::setAttributedStringValue(const QTextDocumentFragment& value) {
    if (URLStorage)
        setLayoutText(*URLStorage, value);
    invalidateCursorRects();
    AttributedTextField::setAttributedStringValue(value);
}

void DSClickableURLTextField::setStringValue(const QString& text) {
    setAttributedStringValue(QTextDocumentFragment::fromPlainText(text));
}

QSizeF DSClickableURLTextField::containerSizeFor(const QRect& drawingArea) const {
    if (isScrollable())
        return QSizeF(UnboundedExtent, drawingArea.height());
    return QSizeF(drawingArea.width(), UnboundedExtent);
}

void DSClickableURLTextField::createLinkLayout() {
    URLContainer = containerSizeFor(drawingRect());
    URLStorage = std::make_unique<QTextDocument>();
    configureLayout(*URLStorage, font(), URLContainer);
    setLayoutText(*URLStorage, attributedStringValue());
}

QVector<QRectF> DSClickableURLTextField::linkRects(int start, int end,
                                                   const QRect& drawingArea) const {
    QVector<QRectF> rects;
    const QRectF area(drawingArea);
    for (QRectF rect : rectsForCharacterRange(*URLStorage, start, end)) {
        rect.translate(area.topLeft());
        rect = rect.intersected(area);
        if (!rect.isEmpty())
            rects.append(rect);
    }
    return rects;
}

QRectF DSClickableURLTextField::visibleArea() const {
    const QWidget* parent = parentWidget();
    if (!parent || isWindow())
        return QRectF(rect());
    QRectF area(QPointF(mapFrom(parent, QPoint(0, 0))), QSizeF(parent->size()));
    for (const QWidget* ancestor = parent; !ancestor->isWindow() && ancestor->parentWidget();) {
        ancestor = ancestor->parentWidget();
        area &= QRectF(QPointF(mapFrom(ancestor, QPoint(0, 0))), QSizeF(ancestor->size()));
    }
    return area;
}

void DSClickableURLTextField::invalidateCursorRects() {
    if (passPending_ || !isVisible())
        return;
    passPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            passPending_ = false;
            resetCursorRects();
        },
        Qt::QueuedConnection);
}

void DSClickableURLTextField::resetCursorRects() {
    cursorRects_.clear();
    if (stringValue().isEmpty()) {
        unsetCursor();
        return;
    }
    const QRect area = drawingRect();
    if (!URLStorage) {
        createLinkLayout();
    } else {
        // The copy follows the drawing area, so that links are found where they are drawn even
        // after the field has been resized or has changed its wrapping.
        URLContainer = containerSizeFor(area);
        setLayoutWidth(*URLStorage, URLContainer.width());
    }
    const int length = textLength(*URLStorage);
    const QRectF visible = visibleArea();
    for (int pos = 0; pos < length;) {
        const LinkRun run = linkRunAt(*URLStorage, pos, length);
        if (run.isLink()) {
            for (const QRectF& rect : linkRects(run.start, run.end, area)) {
                if (rect.intersects(visible))
                    cursorRects_.append(rect.intersected(visible));
            }
        }
        pos = std::max(run.end, pos + 1);
    }
    if (underMouse())
        updateCursorShape(mapFromGlobal(QCursor::pos()));
}

QUrl DSClickableURLTextField::urlAtMouse(const QPointF& position) const {
    if (!URLStorage)
        return {};
    const int length = textLength(*URLStorage);
    const QRect area = drawingRect();
    if (length == 0 || !mouseInRect(position, area))
        return {};
    // The layout knows container coordinates only: take the drawing area's origin off the point.
    const int index = characterIndexForPoint(*URLStorage, position - QPointF(area.topLeft()));
    if (index < 0)
        return {};
    const LinkRun run = linkRunAt(*URLStorage, index, length);
    if (!run.isLink())
        return {};
    for (const QRectF& rect : linkRects(run.start, run.end, area)) {
        if (mouseInRect(position, rect)) {
            const QUrl url = urlFromLinkAttribute(run.value);
            return url.isValid() ? url : QUrl();
        }
    }
    return {};
}

QUrl DSClickableURLTextField::urlAtMouse(const QMouseEvent* event) const {
    return event ? urlAtMouse(event->position()) : QUrl();
}

std::unique_ptr<QMenu> DSClickableURLTextField::menuForEvent(const QPointF& position) {
    if (!canCopyURLs_)
        return nullptr;
    const QUrl url = urlAtMouse(position);
    if (url.isEmpty())
        return nullptr;
    auto menu = std::make_unique<QMenu>(QStringLiteral("Copy URL"));
    QAction* item = menu->addAction(tr("Copy URL"));
    item->setData(url);
    connect(item, &QAction::triggered, this, [this, item] { copyURL(item); });
    return menu;
}

void DSClickableURLTextField::copyURL(QAction* item) {
    if (!item)
        return;
    const QUrl url = item->data().toUrl();
    if (url.isEmpty())
        return;
    auto* data = new QMimeData;
    data->setUrls({url});
    data->setText(absoluteString(url));
    QGuiApplication::clipboard()->setMimeData(data);
}

bool DSClickableURLTextField::delegateTookURL(const QUrl& url) {
    QObject* delegate = delegate_;
    if (!delegate)
        return false;
    const QMetaObject* meta = delegate->metaObject();
    const int index = meta->indexOfMethod("textFieldOpenURL(DSClickableURLTextField*,QUrl)");
    if (index < 0)
        return false;
    const QMetaMethod method = meta->method(index);
    if (method.returnMetaType() != QMetaType::fromType<bool>())
        return false;
    bool handled = false;
    method.invoke(delegate, Qt::DirectConnection, Q_RETURN_ARG(bool, handled),
                  Q_ARG(DSClickableURLTextField*, this), Q_ARG(QUrl, url));
    return handled;
}

void DSClickableURLTextField::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        AttributedTextField::mousePressEvent(event);
        return;
    }
    // The label's own handling is skipped: a press never starts a text selection.
    clickedURL = urlAtMouse(event);
    event->accept();
}

void DSClickableURLTextField::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QUrl url = urlAtMouse(event);
        const QUrl pressed = clickedURL;
        clickedURL = QUrl();
        if (!url.isEmpty() && url == pressed && !delegateTookURL(url))
            URLOpener::open(url);
    }
    AttributedTextField::mouseReleaseEvent(event);
}

void DSClickableURLTextField::mouseMoveEvent(QMouseEvent* event) {
    updateCursorShape(event->position());
    AttributedTextField::mouseMoveEvent(event);
}

void DSClickableURLTextField::enterEvent(QEnterEvent* event) {
    resetCursorRects();
    updateCursorShape(event->position());
    AttributedTextField::enterEvent(event);
}

void DSClickableURLTextField::updateCursorShape(const QPointF& position) {
    for (const QRectF& rect : cursorRects_) {
        if (mouseInRect(position, rect)) {
            setCursor(Qt::PointingHandCursor);
            return;
        }
    }
    unsetCursor();
}

void DSClickableURLTextField::contextMenuEvent(QContextMenuEvent* event) {
    // Beside the links, or with copying off, no menu at all: not even the label's own.
    event->accept();
    if (std::unique_ptr<QMenu> menu = menuForEvent(event->pos()))
        menu->exec(event->globalPos());
}

void DSClickableURLTextField::showEvent(QShowEvent* event) {
    AttributedTextField::showEvent(event);
    invalidateCursorRects();
}

void DSClickableURLTextField::resizeEvent(QResizeEvent* event) {
    AttributedTextField::resizeEvent(event);
    if (URLStorage) {
        URLContainer = containerSizeFor(drawingRect());
        setLayoutWidth(*URLStorage, URLContainer.width());
    }
    invalidateCursorRects();
}

void DSClickableURLTextField::moveEvent(QMoveEvent* event) {
    AttributedTextField::moveEvent(event);
    invalidateCursorRects();
}

void DSClickableURLTextField::changeEvent(QEvent* event) {
    AttributedTextField::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        if (URLStorage)
            URLStorage->setDefaultFont(font());
        invalidateCursorRects();
    }
}
