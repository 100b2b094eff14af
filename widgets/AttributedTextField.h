// A non-editable text field that shows rich text. It draws the text itself, so that the link
// widgets built on it lay out their text exactly as it is drawn.
#pragma once

#include <QLabel>
#include <QTextDocumentFragment>
#include <memory>

class QTextDocument;

class AttributedTextField : public QLabel {
    Q_OBJECT

  public:
    explicit AttributedTextField(QWidget* parent = nullptr);
    ~AttributedTextField() override;

    // The field's value as rich text.
    virtual void setAttributedStringValue(const QTextDocumentFragment& value);
    QTextDocumentFragment attributedStringValue() const;

    // The field's value as text without any attribute.
    virtual void setStringValue(const QString& text);
    QString stringValue() const;

    // Where the text is drawn: the contents rectangle less the label's margin.
    QRect drawingRect() const;
    // A field that does not wrap its lines scrolls them sideways instead.
    bool isScrollable() const { return !wordWrap(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

  public slots:
    // Hides QLabel::setText so that forms (uic) and code written for a label set the value: text
    // is taken as rich or plain following textFormat(), as a QLabel would.
    void setText(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Lays the shown document out for a drawing area of the given width.
    void layOutFor(int drawingWidth) const;

    std::unique_ptr<QTextDocument> value_;
};
