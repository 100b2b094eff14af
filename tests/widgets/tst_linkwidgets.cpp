// The link widgets: link strings, the URL opener, the link cell and the clickable URL field.
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

namespace {

const QUrl urlA("http://a.example/first"), urlB("http://b.example/second");
const QUrl urlVendor("safari://www.example.com/network product.php");
const QUrl vendorInBrowser("http://www.example.com/network product.php");
const QUrl notAURL("http://exa mple.org:port/", QUrl::StrictMode);

// Installed as the URL handler for its lifetime, so that no test starts a browser.
struct RecordingOpener {
    RecordingOpener() {
        URLOpener::setHandler([this](const QUrl& url) { return opened.append(url), true; });
    }
    ~RecordingOpener() { URLOpener::setHandler({}); }
    QList<QUrl> opened;
};

// Presses, releases where given, then releases again where pressed: a release is judged on its
// own press only, never on an earlier one. Without a button, the mouse only moves there.
void click(QWidget* widget, const QPointF& pressed, QPointF released = {-1, -1},
           Qt::MouseButton button = Qt::LeftButton) {
    const QPointF points[] = {pressed, released.x() < 0 ? pressed : released, pressed};
    for (int i = 0; i < 3; ++i) {
        const auto type = i ? QEvent::MouseButtonRelease : QEvent::MouseButtonPress;
        QMouseEvent event(button ? type : QEvent::MouseMove, points[i],
                          widget->mapToGlobal(points[i]), button, i ? Qt::NoButton : button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &event);
    }
}

// The first run of a rich text: its text, its link target and how it shows.
QString describe(const QTextDocumentFragment& fragment) {
    QTextDocument doc;
    QTextCursor(&doc).insertFragment(fragment);
    const QTextFragment run = doc.begin().begin().fragment();
    const QTextCharFormat f = run.charFormat();
    return run.text() + "|" + linkAttribute(f).toString() + "|" + f.foreground().color().name() +
           (f.fontUnderline() ? "|underlined" : "");
}

// Widths come from the fields' own font, so the tests hold whatever font the system supplies.
qreal advance(const QString& text) {
    return QFontMetricsF(QApplication::font()).horizontalAdvance(text);
}

// A point on the first line, one pixel into the character after `before`.
QPointF at(const QString& before) {
    return QPointF(2.0 + advance(before) + 1, QFontMetricsF(QApplication::font()).height() / 2);
}

// "alpha and beta or vendor": three links with plain text between them.
QTextDocumentFragment threeLinks() {
    QTextDocumentFragment text;
    const QString titles[] = {"alpha", " and ", "beta", " or ", "vendor"};
    const QUrl urls[] = {urlA, {}, urlB, {}, urlVendor};
    for (int i = 0; i < 5; ++i)
        appendAttributedString(text, hyperlinkFromString(titles[i], urls[i])); // no URL: plain
    return text;
}

// Fills a field and runs its first cursor pass.
void fill(DSClickableURLTextField& field, const QTextDocumentFragment& text = threeLinks(),
          QSize size = {400, 40}) {
    field.resize(size);
    field.setAttributedStringValue(text);
    field.resetCursorRects();
}

struct OpenDelegate : QObject {
    Q_OBJECT

  public:
    Q_INVOKABLE bool textFieldOpenURL(DSClickableURLTextField* field, const QUrl& url) {
        return asked += field && url == urlA, answer;
    }
    bool answer = false;
    int asked = 0;
};

} // namespace

class LinkWidgetsTest : public QObject {
    Q_OBJECT

  private slots:
    void linkStringsAndTheOpener() {
        const QUrl spaced("http://www.example.org/a path/?q=1 2");
        const QString target = "|http://www.example.org/a%20path/?q=1%202|";
        QCOMPARE(describe(hyperlinkFromString("D", spaced)), "D" + target + "#0000ff|underlined");
        QCOMPARE(describe(highlightedHyperlinkFromString("D", spaced)), "D" + target + "#ffffff");
        QVERIFY(hyperlinkFromString("", spaced).isEmpty());
        for (const QUrl& none : {QUrl(), notAURL}) // no valid URL: the title as plain text
            QCOMPARE(describe(highlightedHyperlinkFromString("none", none)), "none||#000000");
        QTextCharFormat format; // a URL object reads as a link target too
        setLinkURL(format, urlA);
        QCOMPARE(urlFromLinkAttribute(linkAttribute(format)), urlA);
        // "safari:" targets open as "http:"; empty or invalid ones open nothing.
        RecordingOpener opener;
        QVERIFY(!URLOpener::open(QUrl()) && !URLOpener::open(notAURL));
        QVERIFY(URLOpener::open(urlVendor) && URLOpener::open(urlA));
        QCOMPARE(opener.opened, (QList<QUrl>{vendorInBrowser, urlA}));
    }

    void cellOpensItsLinkFromAnywhereOnIt() {
        RecordingOpener opener;
        URLTextFieldCell cell;
        cell.resize(400, 60);
        cell.setStringValue("vendor"); // without a title, the current text is the link text
        cell.setURLString(absoluteString(urlVendor));
        QCOMPARE(describe(cell.attributedStringValue()),
                 "vendor|" + absoluteString(urlVendor) + "|#0000ff|underlined");
        QCOMPARE(cell.cursor().shape(), Qt::PointingHandCursor);
        click(&cell, {395, 55});          // far from the title too
        click(&cell, {3, 10}, {410, 10}); // released outside: nothing
        click(&cell, {3, 10}, {3, 10}, Qt::RightButton);
        cell.setURLString(notAURL.toString(), "broken"); // no link and nothing to open
        click(&cell, {3, 10});
        QCOMPARE(describe(cell.attributedStringValue()), "broken||#000000");
        QCOMPARE(opener.opened, QList<QUrl>{vendorInBrowser});
    }

    void pressAndReleaseOnTheSameLinkOpensIt() {
        const struct {
            QPointF pressed, released;
            QUrl opened; // empty: nothing opens
        } cases[] = {{at("alpha and "), at("alpha and be"), urlB},
                     {at("alpha and beta or v"), at("alpha and beta or ve"), vendorInBrowser},
                     {at("a"), at("alpha and b"), {}}, // one link to another
                     {at("a"), at("alpha a"), {}},
                     {{390, 8}, {390, 8}, {}}}; // past the text
        for (const auto& c : cases) {
            RecordingOpener opener;
            DSClickableURLTextField field;
            fill(field);
            click(&field, c.pressed, c.released);
            click(&field, at("a"), at("a"), Qt::RightButton);
            QCOMPARE(opener.opened, c.opened.isEmpty() ? QList<QUrl>{} : QList<QUrl>{c.opened});
        }
    }

    void delegateMayTakeTheLink() {
        // A delegate answering true has taken the link; any other leaves it to the field.
        RecordingOpener opener;
        OpenDelegate taker, decliner;
        taker.answer = true;
        QObject plain, *gone = new QObject;
        for (QObject* delegate : std::initializer_list<QObject*>{&taker, &decliner, &plain, gone}) {
            DSClickableURLTextField field;
            field.setDelegate(delegate);
            if (delegate == gone)
                delete gone;
            fill(field);
            click(&field, at("a"));
            QCOMPARE(taker.asked + decliner.asked, delegate == &taker ? 1 : 2);
        }
        QCOMPARE(opener.opened, QList<QUrl>(3, urlA));
    }

    void copyMenuOnlyOnALinkAndWhenAllowed() {
        DSClickableURLTextField field;
        fill(field);
        QVERIFY(!field.menuForEvent(at("a"))); // copying is off by default
        field.setCanCopyURLs(true);
        QVERIFY(!field.menuForEvent(at("alpha a")) && !field.menuForEvent(QPointF(395, 8)));
        // Without a menu the event is still taken: neither the label's menu nor the parent's shows.
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(395, 8), QPoint(395, 8));
        QVERIFY(QCoreApplication::sendEvent(&field, &event) && event.isAccepted());
        const std::unique_ptr<QMenu> menu = field.menuForEvent(at("alpha and beta or v"));
        QCOMPARE(menu->actions().size(), 1);
        menu->actions()[0]->trigger(); // the URL, and as text its absolute string
        QCOMPARE(QApplication::clipboard()->mimeData()->urls(), QList<QUrl>{urlVendor});
        QCOMPARE(QApplication::clipboard()->text(), absoluteString(urlVendor));
    }

    void areasAndHitsFollowTheDrawing() {
        DSClickableURLTextField field;
        field.setMargin(12);
        fill(field, threeLinks(), QSize(424, 64));
        const QVector<QRectF> areas = field.cursorRects();
        const QStringList titles{"alpha", "beta", "vendor"};
        QCOMPARE(areas.size(), titles.size());
        // Every link-blue pixel lies in an area; each area is as wide as its link and holds some.
        const QImage image = field.grab().toImage();
        QVector<int> blue(areas.size() + 1, 0); // the last counts those in no area
        for (int i = 0; i < image.width() * image.height(); ++i) {
            const QPoint p(i % image.width(), i / image.width());
            int a = 0;
            while (a < areas.size() && !areas[a].adjusted(-1, -1, 1, 1).contains(p))
                ++a;
            const QRgb pixel = image.pixel(p);
            blue[a] += qBlue(pixel) > 150 && qRed(pixel) < 110 && qGreen(pixel) < 110;
        }
        QCOMPARE(blue.last(), 0);
        for (int i = 0; i < areas.size(); ++i)
            QVERIFY(blue[i] > 20 && std::abs(areas[i].width() - advance(titles[i])) < 1.5);
        // A link's first pixels too: the point goes into layout coordinates before the hit test.
        const qreal low = 12 + QFontMetricsF(QApplication::font()).height() - 2;
        QCOMPARE(field.urlAtMouse(QPointF(14.5 + advance("alpha and "), low)), urlB);
        QCOMPARE(field.urlAtMouse(QPointF(14.5, 13)), urlA);
        QVERIFY(field.urlAtMouse(QPointF(12.5 + advance("alpha and "), low)).isEmpty());
    }

    void layoutCopyFollowsWrappingAndResizes() {
        QWidget window;
        auto* field = new DSClickableURLTextField(&window);
        // Room for "provider" but not for "provider page", whatever the glyphs' widths.
        const int narrow = int(4 + (advance("provider") + advance("provider page")) / 2);
        fill(*field, hyperlinkFromString("provider page", urlA), QSize(narrow, 60));
        field->setWordWrap(true);
        field->resetCursorRects();
        const QVector<QRectF> areas = field->cursorRects();
        QCOMPARE(areas.size(), 2);
        QVERIFY(areas[1].left() == 2.0 && std::abs(areas[1].width() - advance("page")) < 1.5);
        window.show(); // shown, a resize reaches the copy at once, before the next pass
        field->resize(400, 60);
        QCOMPARE(field->urlAtMouse(at("provider p")), urlA);
    }

    void partlyScrolledOutLinksGetAreasForTheirVisiblePartOnly() {
        // window > strip (scrolled left into "alpha") > field; the window ends within " and ".
        const int scrolled = int(2 + advance("al"));
        const qreal alphaEnd = 2 + advance("alpha");
        QWidget window;
        window.resize(int(alphaEnd + advance(" ")) - scrolled, 50);
        auto* strip = new QWidget(&window);
        strip->setGeometry(-scrolled, 0, 2000, 50);
        auto* field = new DSClickableURLTextField(strip);
        fill(*field, threeLinks(), QSize(2000, 40));
        const QVector<QRectF> areas = field->cursorRects();
        QCOMPARE(areas.size(), 1); // beta and vendor lie wholly right of the window
        QVERIFY(areas[0].left() == scrolled && std::abs(areas[0].right() - alphaEnd) < 1);
    }

    void passesRunByThemselvesAndValuesReachTheLayoutCopyAtOnce() {
        RecordingOpener opener;
        DSClickableURLTextField field;
        fill(field, QTextDocumentFragment()); // a pass that finds no text makes no layout
        field.setAttributedStringValue(threeLinks());
        click(&field, at("a")); // before the first pass: nothing to open
        field.show();
        QTRY_COMPARE(field.cursorRects().size(), 3);
        click(&field, at("a"));
        QCOMPARE(opener.opened, QList<QUrl>{urlA});
        click(&field, at("al"), at("al"), Qt::NoButton); // the hand follows without a button held
        QCOMPARE(field.cursor().shape(), Qt::PointingHandCursor);
        click(&field, at("alpha a"), at("alpha a"), Qt::NoButton);
        QCOMPARE(field.cursor().shape(), Qt::ArrowCursor);
        field.setStringValue("<a href=\"http://a.example/\">alpha</a>"); // plain text, never a link
        QVERIFY(field.urlAtMouse(at("a")).isEmpty());
        // What a form built for a label does: setText with rich text, here two adjacent links.
        field.setText("<a href=\"http://a.example/first\">alpha</a>"
                      "<a href=\"http://b.example/second\">beta</a> and more");
        QTRY_COMPARE(field.cursorRects().size(), 2); // adjacent links stay apart
        click(&field, at("alph"), at("alphab"));
        click(&field, at("alphab"));
        QCOMPARE(opener.opened, (QList<QUrl>{urlA, urlB}));
    }
};

QTEST_MAIN(LinkWidgetsTest)
#include "tst_linkwidgets.moc"
