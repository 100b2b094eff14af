// A non-editable text field whose rich text holds any number of links. Each link shows a pointing
// hand over its visible part, opens when pressed and released on, and can be copied from a context
// menu when canCopyURLs is set.
//
// Delegate: any QObject. When it has the invokable
//     Q_INVOKABLE bool textFieldOpenURL(DSClickableURLTextField* field, const QUrl& url);
// a click on a link asks it first; answering true means it has handled the link and the field
// opens nothing. A delegate without that method, or none, leaves the opening to the field.
#pragma once

#include "AttributedTextField.h"

#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QUrl>
#include <QVector>
#include <memory>

class QAction;
class QMenu;
class QMouseEvent;
class QTextDocument;

class DSClickableURLTextField : public AttributedTextField {
    Q_OBJECT
    Q_PROPERTY(bool canCopyURLs READ canCopyURLs WRITE setCanCopyURLs)

  public:
    explicit DSClickableURLTextField(QWidget* parent = nullptr);
    ~DSClickableURLTextField() override;

    void setAttributedStringValue(const QTextDocumentFragment& value) override;
    // Plain text never holds a link, whatever the field held before.
    void setStringValue(const QString& text) override;

    void setCanCopyURLs(bool canCopy) { canCopyURLs_ = canCopy; }
    bool canCopyURLs() const { return canCopyURLs_; }

    void setDelegate(QObject* delegate) { delegate_ = delegate; }
    QObject* delegate() const { return delegate_; }

    // Rebuilds the pointing-hand areas. The first pass that finds text creates the field's own
    // copy of its layout; until then no link can be found under the mouse. The widget runs a pass
    // by itself when it is shown, moved or resized, when its value changes while shown, and when
    // the mouse enters it.
    void resetCursorRects();
    // Asks for a new pass (run from the event loop while the field is visible).
    void invalidateCursorRects();
    // The pointing-hand areas of the latest pass, in the field's coordinates.
    QVector<QRectF> cursorRects() const { return cursorRects_; }
    // Whether the layout copy exists.
    bool hasLinkLayout() const { return URLStorage != nullptr; }

    // The link under a point in the field's coordinates (an invalid URL when there is none).
    QUrl urlAtMouse(const QPointF& position) const;
    QUrl urlAtMouse(const QMouseEvent* event) const;

    // The context menu for a point in the field's coordinates: none unless canCopyURLs is set and
    // the point is on a link; otherwise one "Copy URL" item holding the URL as its data.
    std::unique_ptr<QMenu> menuForEvent(const QPointF& position);

  public slots:
    // Puts the item's URL (its data) on the clipboard, as a URL and as its absolute string.
    void copyURL(QAction* item);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void createLinkLayout();
    QSizeF containerSizeFor(const QRect& drawingArea) const;
    QVector<QRectF> linkRects(int start, int end, const QRect& drawingArea) const;
    QRectF visibleArea() const;
    void updateCursorShape(const QPointF& position);
    bool delegateTookURL(const QUrl& url);

    // The field's own copy of its text, laid out only to find its links. Its document layout
    // stands for the layout manager, URLContainer for the area it fills.
    std::unique_ptr<QTextDocument> URLStorage;
    QSizeF URLContainer;
    QUrl clickedURL;
    bool canCopyURLs_ = false;
    QPointer<QObject> delegate_;
    QVector<QRectF> cursorRects_;
    bool passPending_ = false;
};
