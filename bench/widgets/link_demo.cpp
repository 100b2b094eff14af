// Shows a window holding a field with several links and saves a picture of it.
// Usage: link_demo [picture.png]   (no browser is ever started: clicks only print the link)
#include "DSClickableURLTextField.h"
#include "Hyperlink.h"
#include "URLOpener.h"
#include "URLTextFieldCell.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString picture = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "link_demo.png";
    URLOpener::setHandler([](const QUrl& url) {
        std::printf("open %s\n", qPrintable(url.toString()));
        return true;
    });

    QWidget window;
    window.setWindowTitle("Links");
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel("A clickable URL field with four links:"));

    QTextDocumentFragment text = QTextDocumentFragment::fromPlainText("Free dynamic DNS from ");
    auto add = [&text](const QString& title, const QString& url) {
        appendAttributedString(text, hyperlinkFromString(title, QUrl(url)));
    };
    add("http://dyn.example.org/services/managed_dns/free_dynamic_dns.html",
        "http://dyn.example.org/services/managed_dns/free_dynamic_dns.html");
    appendAttributedString(text, QTextDocumentFragment::fromPlainText(", "));
    add("http://www.example.net/", "http://www.example.net/");
    appendAttributedString(text, QTextDocumentFragment::fromPlainText(" or "));
    add("http://dns.example.com/", "http://dns.example.com/");
    appendAttributedString(text, QTextDocumentFragment::fromPlainText(". Network products: "));
    add("http://www.example.com/network-product.php",
        "safari://www.example.com/network-product.php");
    appendAttributedString(text, QTextDocumentFragment::fromPlainText("."));

    auto* field = new DSClickableURLTextField;
    field->setWordWrap(true);
    field->setCanCopyURLs(true);
    field->setAttributedStringValue(text);
    layout->addWidget(field);

    layout->addWidget(new QLabel("A link cell:"));
    auto* cell = new URLTextFieldCell;
    cell->setURL(QUrl("http://www.example.org/"), "http://www.example.org/");
    layout->addWidget(cell);

    window.resize(420, 200);
    window.show();
    QTimer::singleShot(500, [&] {
        const bool saved = window.grab().save(picture);
        std::printf("%s %s (%d link areas)\n", saved ? "saved" : "could not save",
                    qPrintable(picture), int(field->cursorRects().size()));
        app.exit(saved && !field->cursorRects().isEmpty() ? 0 : 1);
    });
    return app.exec();
}
