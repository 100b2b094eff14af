// The link widgets: link strings and the URL opener, the link cell, and the clickable URL field
// (clicks, delegate, copy menu, pointing-hand areas, values).
#include "DSClickableURLTextField.h"
#include "Hyperlink.h"
#include "URLOpener.h"
#include "URLTextFieldCell.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>
#include <memory>

namespace {

const QUrl urlA("http://a.example/first");
const QUrl urlB("http://b.example/second");
const QUrl urlVendor("safari://www.example.com/network product.php");
const QUrl vendorInBrowser("http://www.example.com/network product.php");

// Installed as the URL handler for its lifetime, so that no test starts a browser.
struct RecordingOpener {
    RecordingOpener() {
        URLOpener::setHandler([this](const QUrl& url) { return opened.append(url), true; });
    }
    ~RecordingOpener() { URLOpener::setHandler({}); }
    QList<QUrl> opened;
};

void mouse(QWidget* widget, QEvent::Type type, const QPointF& pos, Qt::MouseButton button) {
    const Qt::MouseButtons held(type == QEvent::MouseButtonPress ? button : Qt::NoButton);
    QMouseEvent event(type, pos, QPointF(widget->mapToGlobal(pos.toPoint())), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// Presses, releases where given, then releases again where pressed: a release is judged on its
// own press only, never on an earlier one.
void click(QWidget* widget, const QPointF& pressed, QPointF released = {-1, -1},
           Qt::MouseButton button = Qt::LeftButton) {
    mouse(widget, QEvent::MouseButtonPress, pressed, button);
    mouse(widget, QEvent::MouseButtonRelease, released.x() < 0 ? pressed : released, button);
    mouse(widget, QEvent::MouseButtonRelease, pressed, button);
}

// The formats of a rich text's runs, in order.
QList<QTextCharFormat> runsOf(const QTextDocumentFragment& fragment) {
    QTextDocument doc;
    QTextCursor(&doc).insertFragment(fragment);
    QList<QTextCharFormat> runs;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            runs.append(it.fragment().charFormat());
    return runs;
}

// One entry per run of a field's text: its target when it shows as a blue underlined link,
// an empty URL otherwise.
QList<QUrl> linkRuns(const AttributedTextField& field) {
    QList<QUrl> urls;
    for (const QTextCharFormat& f : runsOf(field.attributedStringValue())) {
        const bool shown = f.foreground().color() == QColor(Qt::blue) && f.fontUnderline();
        urls.append(shown ? urlFromLinkAttribute(linkAttribute(f)) : QUrl());
    }
    return urls;
}

QFont testFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    return font;
}

// Widths come from the field's own font, so the tests hold whatever font the system supplies.
qreal advance(const QString& text) {
    return QFontMetricsF(testFont()).horizontalAdvance(text);
}

// A point on the first line, one pixel into the character after `before`.
QPointF at(const QString& before, const QPointF& origin = QPointF()) {
    return origin + QPointF(2.0 + advance(before) + 1, QFontMetricsF(testFont()).height() / 2);
}

// "alpha and beta or vendor": three links with plain text between them, their targets held as
// text (as the builders write them) or as URL objects.
QTextDocumentFragment threeLinks(bool asURLObjects = false) {
    auto link = [asURLObjects](const QString& title, const QUrl& url) {
        if (!asURLObjects)
            return hyperlinkFromString(title, url);
        QTextCharFormat format;
        setLinkURL(format, url);
        format.setForeground(Qt::blue);
        format.setFontUnderline(true);
        QTextDocument doc;
        QTextCursor(&doc).insertText(title, format);
        return QTextDocumentFragment(&doc);
    };
    QTextDocumentFragment text = link("alpha", urlA);
    appendAttributedString(text, QTextDocumentFragment::fromPlainText(" and "));
    appendAttributedString(text, link("beta", urlB));
    appendAttributedString(text, QTextDocumentFragment::fromPlainText(" or "));
    appendAttributedString(text, link("vendor", urlVendor));
    return text;
}

// Fills a field and runs its first cursor pass.
void fill(DSClickableURLTextField& field, const QTextDocumentFragment& text,
          QSize size = {400, 40}) {
    field.setFont(testFont());
    field.resize(size);
    field.setAttributedStringValue(text);
    field.resetCursorRects();
}

// How many pixels drawn in link blue each area holds; the last count is of those in no area.
QVector<int> bluePerArea(QWidget& widget, const QVector<QRectF>& areas) {
    QVector<int> counts(areas.size() + 1, 0);
    const QImage image = widget.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qBlue(pixel) <= 150 || qRed(pixel) >= 110 || qGreen(pixel) >= 110)
                continue;
            int i = 0;
            while (i < areas.size() && !areas[i].adjusted(-1, -1, 1, 1).contains(QPointF(x, y)))
                ++i;
            ++counts[i];
        }
    }
    return counts;
}

class OpenDelegate : public QObject {
    Q_OBJECT

  public:
    explicit OpenDelegate(bool answer) : answer_(answer) {}
    Q_INVOKABLE bool textFieldOpenURL(DSClickableURLTextField* field, const QUrl& url) {
        asked.append({field, url});
        return answer_;
    }
    QList<std::pair<DSClickableURLTextField*, QUrl>> asked;

  private:
    bool answer_;
};

class GermanMenu : public QTranslator {
  public:
    QString translate(const char* context, const char* source, const char*, int) const override {
        const bool ours = QByteArray(context) == "DSClickableURLTextField";
        return ours && QByteArray(source) == "Copy URL" ? QStringLiteral("URL kopieren") : "";
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class LinkWidgetsTest : public QObject {
    Q_OBJECT

  private slots:
    // ---- Link strings and the opener.

    void builders() {
        const QUrl spaced("http://www.example.org/a path/?q=1 2");
        for (const bool highlighted : {false, true}) {
            const auto build = highlighted ? highlightedHyperlinkFromString : hyperlinkFromString;
            QVERIFY(build("", spaced).isEmpty());
            const QTextDocumentFragment text = build("free dynamic DNS", spaced);
            QCOMPARE(text.toPlainText(), QString("free dynamic DNS"));
            const QList<QTextCharFormat> runs = runsOf(text);
            QCOMPARE(runs.size(), 1); // one run over the whole text
            // Text, not a URL object, written like an absolute string.
            const QVariant link = linkAttribute(runs[0]);
            QCOMPARE(link.userType(), int(QMetaType::QString));
            QCOMPARE(link.toString(), QString("http://www.example.org/a%20path/?q=1%202"));
            QCOMPARE(runs[0].foreground().color(), QColor(highlighted ? Qt::white : Qt::blue));
            QCOMPARE(runs[0].underlineStyle(),
                     highlighted ? QTextCharFormat::NoUnderline : QTextCharFormat::SingleUnderline);
        }
        const QList<QTextCharFormat> runs = runsOf(hyperlinkFromString("no target", QUrl()));
        QCOMPARE(runs.size(), 1);
        QVERIFY(!linkAttribute(runs[0]).isValid());
        QVERIFY(!runs[0].fontUnderline());
        // A named anchor, or a target that is no URL, is no link.
        QTextCharFormat named;
        named.setAnchor(true);
        named.setAnchorNames({"top"});
        QVERIFY(!linkAttribute(named).isValid());
        QVERIFY(!urlFromLinkAttribute(QString("http://exa mple.org:port/")).isValid());
    }

    void opener_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QUrl>("opened"); // empty: nothing opens
        const auto row = [](const char* name, const QUrl& url, const QUrl& opened) {
            QTest::newRow(name) << url << opened;
        };
        row("safari", urlVendor, vendorInBrowser);
        row("SAFARI", QUrl("SAFARI://www.example.com/"), QUrl("http://www.example.com/"));
        for (const char* same :
             {"http://www.example.org/", "https://www.example.org/x", "mailto:a@example.org",
              "http://safari.example/", "ftp://f.example/safari"})
            row(same, QUrl(same), QUrl(same));
        row("empty", QUrl(), QUrl());
        row("invalid", QUrl("http://exa mple.org:port/", QUrl::StrictMode), QUrl());
    }

    void opener() {
        QFETCH(QUrl, url);
        QFETCH(QUrl, opened);
        RecordingOpener opener;
        QCOMPARE(URLOpener::open(url), !opened.isEmpty());
        QCOMPARE(opener.opened, opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{opened});
    }

    // ---- The link cell.

    void cellValues() {
        URLTextFieldCell cell;
        const QUrl dns("http://www.example.org/services/managed_dns/free_dynamic_dns.html");
        cell.setURLString(dns.toString(), "free dynamic DNS");
        QCOMPARE(cell.url(), dns);
        QCOMPARE(cell.stringValue(), QString("free dynamic DNS"));
        QCOMPARE(linkRuns(cell), QList<QUrl>{dns});
        // Without a title, the current plain text becomes the link text.
        cell.setStringValue("our vendor's network products");
        cell.setURLString(absoluteString(urlVendor));
        QCOMPARE(cell.stringValue(), QString("our vendor's network products"));
        QCOMPARE(linkRuns(cell), QList<QUrl>{urlVendor});

        cell.setURL(urlA, "");
        QVERIFY(cell.attributedStringValue().isEmpty());
        // Text that is no URL: the title shows as plain text and there is nothing to open.
        cell.setURLString("http://exa mple.org:port/", "broken");
        QVERIFY(cell.url().isEmpty());
        QCOMPARE(cell.stringValue(), QString("broken"));
        QCOMPARE(linkRuns(cell), QList<QUrl>{QUrl()});
    }

    void cellClick() {
        // Anywhere on the field (far from a short title too) opens the link; a release outside
        // the field, or another button, opens nothing.
        const struct {
            QPointF pressed, released;
            Qt::MouseButton button;
            bool opens;
        } cases[] = {{{3, 10}, {3, 10}, Qt::LeftButton, true},
                     {{395, 55}, {395, 55}, Qt::LeftButton, true},
                     {{3, 10}, {410, 10}, Qt::LeftButton, false},
                     {{3, 10}, {3, 10}, Qt::RightButton, false}};
        for (const auto& c : cases) {
            RecordingOpener opener;
            URLTextFieldCell cell;
            cell.resize(400, 60);
            cell.setURL(urlVendor, "x");
            // The hand is the field's own cursor: it covers the field, not just the title.
            QCOMPARE(cell.cursor().shape(), Qt::PointingHandCursor);
            click(&cell, c.pressed, c.released, c.button);
            QCOMPARE(opener.opened, c.opens ? QList<QUrl>{vendorInBrowser} : QList<QUrl>{});
        }
    }

    // ---- The clickable URL field: clicks, the delegate, the copy menu.

    void pressAndRelease_data() {
        QTest::addColumn<QPointF>("pressed");
        QTest::addColumn<QPointF>("released");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QUrl>("opened"); // empty: nothing opens
        const Qt::MouseButton left = Qt::LeftButton;
        QTest::newRow("same link") << at("alpha and ") << at("alpha and be") << left << urlB;
        QTest::newRow("safari target")
            << at("alpha and beta or v") << at("alpha and beta or v") << left << vendorInBrowser;
        QTest::newRow("one link to another") << at("a") << at("alpha and b") << left << QUrl();
        QTest::newRow("link to plain text") << at("a") << at("alpha a") << left << QUrl();
        QTest::newRow("past the text") << QPointF(390, 8) << QPointF(390, 8) << left << QUrl();
        QTest::newRow("plain text to link") << at("alpha a") << at("a") << left << QUrl();
        QTest::newRow("right button") << at("a") << at("a") << Qt::RightButton << QUrl();
    }

    void pressAndRelease() {
        QFETCH(QPointF, pressed);
        QFETCH(QPointF, released);
        QFETCH(Qt::MouseButton, button);
        QFETCH(QUrl, opened);
        for (const bool asURLObjects : {false, true}) { // the two forms behave alike
            RecordingOpener opener;
            DSClickableURLTextField field;
            fill(field, threeLinks(asURLObjects));
            click(&field, pressed, released, button);
            QCOMPARE(opener.opened, opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{opened});
        }
    }

    void delegate() {
        // A delegate answering true has handled the link; answering false, lacking the method or
        // gone, it leaves the opening to the field.
        for (const QString kind : {"true", "false", "plain", "destroyed"}) {
            RecordingOpener opener;
            DSClickableURLTextField field;
            auto delegate = std::make_unique<OpenDelegate>(kind == "true");
            QObject plainDelegate;
            field.setDelegate(kind == "plain" ? &plainDelegate : delegate.get());
            if (kind == "destroyed")
                delegate.reset();
            fill(field, threeLinks());
            click(&field, at("a"));
            QCOMPARE(opener.opened, kind == "true" ? QList<QUrl>{} : QList<QUrl>{urlA});
            if (kind == "true" || kind == "false")
                QCOMPARE(delegate->asked,
                         (QList<std::pair<DSClickableURLTextField*, QUrl>>{{&field, urlA}}));
        }
    }

    void contextMenuOnALinkCopiesItsURL() {
        GermanMenu german;
        QVERIFY(QCoreApplication::installTranslator(&german));
        DSClickableURLTextField field;
        fill(field, threeLinks());
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        // The texts of the menu the event brings up, whose first item is then chosen. The event
        // is accepted even without a menu: neither the label's menu nor the parent's shows.
        bool accepted = true;
        auto menuAt = [&field, &accepted](const QPointF& point) {
            QStringList shown;
            QTimer::singleShot(0, [&shown] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    for (QAction* action : menu->actions())
                        shown.append(action->text());
                    menu->actions()[0]->trigger();
                    menu->close();
                }
            });
            const QPoint where = point.toPoint();
            QContextMenuEvent event(QContextMenuEvent::Mouse, where, field.mapToGlobal(where));
            QCoreApplication::sendEvent(&field, &event);
            accepted = accepted && event.isAccepted();
            QCoreApplication::processEvents();
            return shown;
        };
        QVERIFY(menuAt(at("a")).isEmpty()); // copying is off by default
        field.setCanCopyURLs(true);
        for (const QPointF& beside : {at("alpha a"), QPointF(395, 8), QPointF(at("a").x(), 38)})
            QVERIFY(menuAt(beside).isEmpty());
        // One item, its title translated from "Copy URL".
        QCOMPARE(menuAt(at("alpha and beta or v")), QStringList{"URL kopieren"});
        QVERIFY(accepted);
        QCoreApplication::removeTranslator(&german);
        const QMimeData* data = QApplication::clipboard()->mimeData();
        // The URL, and as text its absolute string.
        QCOMPARE(data->urls(), QList<QUrl>{urlVendor});
        QCOMPARE(data->text(), QString("safari://www.example.com/network%20product.php"));
    }

    // ---- Pointing-hand areas.

    void areasAndHitsFollowTheDrawing() {
        DSClickableURLTextField field;
        field.setMargin(12);
        fill(field, threeLinks(), QSize(424, 64));
        QCOMPARE(field.drawingRect(), QRect(12, 12, 400, 40));
        const QVector<QRectF> areas = field.cursorRects();
        const QStringList titles{"alpha", "beta", "vendor"};
        QCOMPARE(areas.size(), titles.size());
        // Every blue pixel lies in an area; every area is as wide as its link and holds some.
        const QVector<int> blue = bluePerArea(field, areas);
        QCOMPARE(blue.last(), 0);
        for (int i = 0; i < areas.size(); ++i) {
            QVERIFY2(blue[i] > 20, qPrintable(titles[i]));
            QVERIFY2(std::abs(areas[i].width() - advance(titles[i])) < 1.5, qPrintable(titles[i]));
        }
        // Even a link's first pixels are found: the point is taken into the layout's coordinates
        // before the hit test. Outside the drawing area nothing is a link, however near one.
        const QPointF origin(12, 12);
        const qreal low = QFontMetricsF(testFont()).height() - 2;
        QCOMPARE(field.urlAtMouse(origin + QPointF(2.5 + advance("alpha and "), low)), urlB);
        QCOMPARE(field.urlAtMouse(origin + QPointF(2.5, 1)), urlA);
        QVERIFY(field.urlAtMouse(origin + QPointF(0.5 + advance("alpha and "), low)).isEmpty());
        QVERIFY(field.urlAtMouse(QPointF(at("a", origin).x(), 11)).isEmpty());
    }

    void wrappingLinkFollowsAResize() {
        DSClickableURLTextField field;
        field.setWordWrap(true);
        fill(field, hyperlinkFromString("provider page", urlA), QSize(400, 60));
        QCOMPARE(field.cursorRects().size(), 1);
        // Room for "provider" but not for "provider page", whatever the glyphs' widths.
        field.resize(int(4 + (advance("provider") + advance("provider page")) / 2), 60);
        field.resetCursorRects();
        const QVector<QRectF> areas = field.cursorRects();
        QCOMPARE(areas.size(), 2);
        QCOMPARE(areas[1].left(), 2.0); // the line-fragment padding
        QVERIFY(std::abs(areas[1].width() - advance("page")) < 1.5);
        QCOMPARE(field.urlAtMouse(areas[1].center()), urlA);
        // The drawing wraps the same way: the second line's area holds blue pixels.
        QVERIFY(bluePerArea(field, areas)[1] > 20);
    }

    void partlyScrolledOutLinkGetsAreasForItsVisiblePartOnly() {
        // window > strip (scrolled 100 to the left) > field; the window ends halfway between the
        // two links, whatever the font.
        const QString first = "www.example.org/a/long/link/text", between = " and plain text ";
        const qreal linkEnd = 2 + advance(first);
        QWidget window;
        window.resize(int(linkEnd - 100 + advance(between) / 2), 50);
        auto* strip = new QWidget(&window);
        strip->setGeometry(-100, 0, 2000, 50);
        auto* field = new DSClickableURLTextField(strip);
        QTextDocumentFragment text = hyperlinkFromString(first, urlA);
        appendAttributedString(text, QTextDocumentFragment::fromPlainText(between));
        appendAttributedString(text, hyperlinkFromString("out of sight", urlB));
        fill(*field, text, QSize(2000, 40));
        const QVector<QRectF> areas = field->cursorRects();
        QCOMPARE(areas.size(), 1); // the second link lies wholly right of the window
        QVERIFY(linkEnd > 100);
        QCOMPARE(areas[0].left(), 100.0);
        QVERIFY(std::abs(areas[0].right() - linkEnd) < 1.0);
        // Scrolled right out, the link has no area left.
        strip->move(-int(linkEnd) - 5, 0);
        field->resetCursorRects();
        for (const QRectF& area : field->cursorRects())
            QVERIFY(area.left() >= linkEnd + 4);
    }

    void cursorPasses() {
        RecordingOpener opener;
        DSClickableURLTextField field;
        fill(field, QTextDocumentFragment()); // a pass that finds no text makes no layout
        QVERIFY(!field.hasLinkLayout());
        field.setAttributedStringValue(threeLinks());
        QVERIFY(field.urlAtMouse(at("a")).isEmpty());
        click(&field, at("a")); // before the first pass: nothing to open
        QVERIFY(opener.opened.isEmpty());
        QCOMPARE(field.textInteractionFlags(), Qt::NoTextInteraction); // not selectable
        // Shown, the field runs its passes by itself.
        field.show();
        QVERIFY(QTest::qWaitForWindowExposed(&field));
        QTRY_VERIFY(field.hasLinkLayout());
        QCOMPARE(field.cursorRects().size(), 3);
        click(&field, at("a"));
        QCOMPARE(opener.opened, QList<QUrl>{urlA});
        // The hand follows the mouse without a button held.
        QVERIFY(field.hasMouseTracking());
        mouse(&field, QEvent::MouseMove, at("al"), Qt::NoButton);
        QCOMPARE(field.cursor().shape(), Qt::PointingHandCursor);
        mouse(&field, QEvent::MouseMove, at("alpha a"), Qt::NoButton);
        QCOMPARE(field.cursor().shape(), Qt::ArrowCursor);
        // A new value while shown brings new areas without being asked.
        field.setAttributedStringValue(hyperlinkFromString("only", urlB));
        QTRY_COMPARE(field.cursorRects().size(), 1);
    }

    // ---- Values.

    void plainTextHasNoLinksRichLabelTextHas() {
        RecordingOpener opener;
        DSClickableURLTextField field;
        fill(field, threeLinks());
        field.setStringValue("alpha and beta or vendor");
        // The layout copy takes the new value at once, before the next pass.
        QVERIFY(field.urlAtMouse(at("a")).isEmpty());
        field.resetCursorRects();
        QVERIFY(field.cursorRects().isEmpty());
        click(&field, at("a"));
        QVERIFY(opener.opened.isEmpty());
        // Even text that looks like a link stays plain.
        field.setStringValue("<a href=\"http://a.example/\">alpha</a>");
        field.resetCursorRects();
        QVERIFY(field.cursorRects().isEmpty());
        QCOMPARE(field.stringValue(), QString("<a href=\"http://a.example/\">alpha</a>"));

        // What a form built for a label does: setText with rich text, here two adjacent links.
        field.setText("<a href=\"http://a.example/first\">alpha</a>"
                      "<a href=\"http://b.example/second\">beta</a> and more");
        QCOMPARE(field.stringValue(), QString("alphabeta and more"));
        field.resetCursorRects();
        QCOMPARE(field.cursorRects().size(), 2); // adjacent links stay apart
        QCOMPARE(field.urlAtMouse(at("alph")), urlA);
        click(&field, at("alph"), at("alphab"));
        QVERIFY(opener.opened.isEmpty());
        click(&field, at("alphab"));
        QCOMPARE(opener.opened, QList<QUrl>{urlB});
    }
};

QTEST_MAIN(LinkWidgetsTest)
#include "tst_linkwidgets.moc"
