// A field whose whole text is one link: a click anywhere on it opens the link, and the mouse
// pointer shows a pointing hand over the whole field.
#pragma once

#include "AttributedTextField.h"

#include <QUrl>

class URLTextFieldCell : public AttributedTextField {
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url)

  public:
    explicit URLTextFieldCell(QWidget* parent = nullptr);
    ~URLTextFieldCell() override;

    QUrl url() const { return url_; }

    // Text that does not form a URL leaves the field without a link target: the title shows as
    // plain text and a click opens nothing.
    void setURLString(const QString& urlText, const QString& title);
    void setURLString(const QString& urlText);

    // Shows the title as one link to the URL and follows it on click.
    void setURL(const QUrl& url, const QString& title);
    // Without a title, the field's current plain text becomes the link text.
    void setURL(const QUrl& url);

    // Installs the pointing hand over the whole field, whatever the text's width.
    void resetCursorRect();

  public slots:
    void OnClick();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QUrl url_;
    bool pressed_ = false;
};
