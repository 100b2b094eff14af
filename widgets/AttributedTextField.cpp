#include "AttributedTextField.h"

#include "LinkLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPainter>
#include <QTextDocument>
#include <cmath>

namespace {

// How many average characters a wrapping field asks for at most, before it wraps.
constexpr int PreferredWrapColumns = 60;

} // namespace

AttributedTextField::AttributedTextField(QWidget* parent)
    : QLabel(parent), value_(std::make_unique<QTextDocument>()) {
    configureLayout(*value_, font(), QSizeF(UnboundedExtent, UnboundedExtent));
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFocusPolicy(Qt::NoFocus);
}

AttributedTextField::~AttributedTextField() = default;

void AttributedTextField::setAttributedStringValue(const QTextDocumentFragment& value) {
    setLayoutText(*value_, value);
    // The label keeps the plain text for accessibility and for code reading text().
    QLabel::setText(value_->toPlainText());
    updateGeometry();
    update();
}

QTextDocumentFragment AttributedTextField::attributedStringValue() const {
    return QTextDocumentFragment(value_.get());
}

void AttributedTextField::setStringValue(const QString& text) {
    setAttributedStringValue(QTextDocumentFragment::fromPlainText(text));
}

QString AttributedTextField::stringValue() const {
    return value_->toPlainText();
}

void AttributedTextField::setText(const QString& text) {
    const Qt::TextFormat format = textFormat();
    const bool rich =
        format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich)
        setAttributedStringValue(QTextDocumentFragment::fromHtml(text));
    else
        setStringValue(text);
}

QRect AttributedTextField::drawingRect() const {
    const int m = margin();
    return contentsRect().adjusted(m, m, -m, -m);
}

void AttributedTextField::layOutFor(int drawingWidth) const {
    setLayoutWidth(*value_, isScrollable() ? UnboundedExtent : qreal(drawingWidth));
}

namespace {

QSize chrome(const AttributedTextField& field) {
    return field.size() - field.drawingRect().size();
}

} // namespace

QSize AttributedTextField::sizeHint() const {
    const QSize extra = chrome(*this);
    layOutFor(0);
    if (isScrollable()) {
        const QSizeF text = value_->size();
        return QSize(int(std::ceil(text.width())), int(std::ceil(text.height()))) + extra;
    }
    setLayoutWidth(*value_, UnboundedExtent);
    const int ideal = int(std::ceil(value_->idealWidth())) + 2 * int(LineFragmentPadding);
    const int width =
        std::min(ideal, fontMetrics().averageCharWidth() * PreferredWrapColumns) + extra.width();
    return QSize(width, heightForWidth(width));
}

QSize AttributedTextField::minimumSizeHint() const {
    if (isScrollable())
        return sizeHint();
    // Narrow enough to give way in a layout; the height stays that of the preferred width, so
    // that a window does not open tall enough for a text wrapped after every word.
    const int width = fontMetrics().averageCharWidth() * 8 + chrome(*this).width();
    return QSize(width, sizeHint().height());
}

bool AttributedTextField::hasHeightForWidth() const {
    return wordWrap();
}

int AttributedTextField::heightForWidth(int width) const {
    if (isScrollable())
        return QLabel::heightForWidth(width);
    const QSize extra = chrome(*this);
    layOutFor(std::max(1, width - extra.width()));
    return int(std::ceil(value_->size().height())) + extra.height();
}

void AttributedTextField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = drawingRect();
    layOutFor(area.width());
    painter.setClipRect(area);
    painter.translate(area.topLeft());
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.palette.setColor(QPalette::Text, palette().color(foregroundRole()));
    context.clip = QRectF(0, 0, area.width(), area.height());
    value_->documentLayout()->draw(&painter, context);
}

void AttributedTextField::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        value_->setDefaultFont(font());
        updateGeometry();
    }
    QLabel::changeEvent(event);
}
