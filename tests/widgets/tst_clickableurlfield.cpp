// The clickable URL text field: clicks, the delegate, the copy menu, the pointing-hand areas and
// the field's values.
#include "DSClickableURLTextField.h"
#include "Hyperlink.h"
#include "WidgetTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>
#include <memory>

namespace {

const QUrl urlA("http://a.example/first");
const QUrl urlB("http://b.example/second");
const QUrl urlVendor("safari://www.example.com/network-product.php");

QFont testFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    return font;
}

QTextDocumentFragment plain(const QString& text) {
    return QTextDocumentFragment::fromPlainText(text);
}

// "alpha and beta or vendor": three links with plain text between them.
QTextDocumentFragment threeLinks() {
    QTextDocumentFragment text = hyperlinkFromString("alpha", urlA);
    appendAttributedString(text, plain(" and "));
    appendAttributedString(text, hyperlinkFromString("beta", urlB));
    appendAttributedString(text, plain(" or "));
    appendAttributedString(text, hyperlinkFromString("vendor", urlVendor));
    return text;
}

// The same text with the link targets held as URL objects instead of text.
QTextDocumentFragment threeLinksAsURLObjects() {
    QTextDocument doc;
    QTextCursor cursor(&doc);
    auto link = [&](const QString& title, const QUrl& url) {
        QTextCharFormat format;
        setLinkURL(format, url);
        format.setForeground(Qt::blue);
        format.setFontUnderline(true);
        cursor.insertText(title, format);
    };
    link("alpha", urlA);
    cursor.insertText(" and ", QTextCharFormat());
    link("beta", urlB);
    cursor.insertText(" or ", QTextCharFormat());
    link("vendor", urlVendor);
    return QTextDocumentFragment(&doc);
}

std::unique_ptr<DSClickableURLTextField> makeField(const QTextDocumentFragment& text,
                                                   QSize size = QSize(400, 40)) {
    auto field = std::make_unique<DSClickableURLTextField>();
    field->setFont(testFont());
    field->resize(size);
    field->setAttributedStringValue(text);
    return field;
}

// Where a character of the text begins on the first line, from the font alone.
qreal xOf(const DSClickableURLTextField& field, const QString& before) {
    return field.drawingRect().left() + 2.0 + QFontMetricsF(testFont()).horizontalAdvance(before);
}

qreal midLine(const DSClickableURLTextField& field) {
    return field.drawingRect().top() + QFontMetricsF(testFont()).height() / 2;
}

// Points of the unmargined test field, named by the text before them on the line.
QPointF at(const QString& before) {
    const QFontMetricsF metrics(testFont());
    return QPointF(2.0 + metrics.horizontalAdvance(before) + 1, metrics.height() / 2);
}

bool isLinkBlue(QRgb pixel) {
    return qBlue(pixel) > 150 && qRed(pixel) < 110 && qGreen(pixel) < 110;
}

class OpenDelegate : public QObject {
    Q_OBJECT

  public:
    explicit OpenDelegate(bool answer) : answer_(answer) {}
    Q_INVOKABLE bool textFieldOpenURL(DSClickableURLTextField* field, const QUrl& url) {
        fields.append(field);
        asked.append(url);
        return answer_;
    }
    QList<DSClickableURLTextField*> fields;
    QList<QUrl> asked;

  private:
    bool answer_;
};

class GermanMenu : public QTranslator {
  public:
    QString translate(const char* context, const char* source, const char*, int) const override {
        if (QByteArray(context) == "DSClickableURLTextField" && QByteArray(source) == "Copy URL")
            return QStringLiteral("URL kopieren");
        return {};
    }
    bool isEmpty() const override { return false; }
};

// Records context menu events that reach it (that is, that the field let through).
class MenuWatcher : public QWidget {
  public:
    int menus = 0;

  protected:
    void contextMenuEvent(QContextMenuEvent*) override { ++menus; }
};

} // namespace

class ClickableURLFieldTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { QApplication::clipboard()->clear(); }

    // Clicks.
    void pressAndRelease_data();
    void pressAndRelease();
    void adjacentLinksAreSeparateLinks();
    void clicksBeforeTheFirstPassOpenNothing();
    void firstCharacterOfALinkIsFoundInsideAMargin();
    void pointOutsideTheDrawingAreaIsNoLink();

    // The delegate.
    void delegate_data();
    void delegate();

    // The copy menu and the clipboard.
    void noMenuWhileCopyingIsOff();
    void copyURLMenuOnALink();
    void noMenuBesideTheLinks();
    void menuTitleIsTranslated();
    void copyingPutsURLAndTextOnTheClipboard();
    void contextMenuEventsNeverReachTheParent();
    void contextMenuOnALinkShowsCopyURL();

    // Pointing-hand areas.
    void oneAreaPerLinkWhereTheTextIsDrawn();
    void areasCoverTheBluePixels();
    void wrappingLinkGetsTwoAreas();
    void partlyScrolledOutLinkGetsAreasForItsVisiblePartOnly();
    void pointerShowsAHandOverLinksOnly();
    void shownFieldRunsItsFirstPassByItself();
    void areasFollowAResize();

    // Values.
    void plainTextHasNoLinks();
    void textAndURLObjectTargetsBehaveAlike();
    void labelTextWithALinkIsClickable();
    void emptyFieldHasNoAreasAndNoLayout();
    void newValueAfterTheFirstPassIsFollowed();
    void fieldStartsNotSelectableAndWithoutCopying();
};

void ClickableURLFieldTest::pressAndRelease_data() {
    QTest::addColumn<QPointF>("pressed");
    QTest::addColumn<QPointF>("released");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<QUrl>>("opened");
    const Qt::MouseButton left = Qt::LeftButton;
    QTest::newRow("same link") << at("alpha and ") << at("alpha and be") << left
                               << QList<QUrl>{urlB};
    QTest::newRow("safari target")
        << at("alpha and beta or v") << at("alpha and beta or v") << left
        << QList<QUrl>{QUrl("http://www.example.com/network-product.php")};
    QTest::newRow("one link to another") << at("a") << at("alpha and b") << left << QList<QUrl>{};
    QTest::newRow("link to plain text") << at("a") << at("alpha a") << left << QList<QUrl>{};
    QTest::newRow("link to past the text") << at("a") << QPointF(390, 8) << left << QList<QUrl>{};
    QTest::newRow("link to below the line")
        << at("a") << QPointF(at("a").x(), 38) << left << QList<QUrl>{};
    QTest::newRow("plain text to link") << at("alpha a") << at("a") << left << QList<QUrl>{};
    QTest::newRow("right button") << at("a") << at("a") << Qt::RightButton << QList<QUrl>{};
    QTest::newRow("middle button") << at("a") << at("a") << Qt::MiddleButton << QList<QUrl>{};
}

void ClickableURLFieldTest::pressAndRelease() {
    QFETCH(QPointF, pressed);
    QFETCH(QPointF, released);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<QUrl>, opened);
    RecordingOpener opener;
    auto field = makeField(threeLinks());
    field->resetCursorRects();
    press(field.get(), pressed, button);
    release(field.get(), released, button);
    // A release is judged on its own press only, never on an earlier one.
    release(field.get(), pressed, button);
    QCOMPARE(opener.opened, opened);
}

void ClickableURLFieldTest::adjacentLinksAreSeparateLinks() {
    RecordingOpener opener;
    QTextDocumentFragment text = hyperlinkFromString("alpha", urlA);
    appendAttributedString(text, hyperlinkFromString("beta", urlB));
    auto field = makeField(text);
    field->resetCursorRects();
    QCOMPARE(field->cursorRects().size(), 2);
    const qreal y = midLine(*field);
    QCOMPARE(field->urlAtMouse(QPointF(xOf(*field, "alph"), y)), urlA);
    QCOMPARE(field->urlAtMouse(QPointF(xOf(*field, "alphab"), y)), urlB);
    press(field.get(), QPointF(xOf(*field, "alph"), y));
    release(field.get(), QPointF(xOf(*field, "alphab"), y));
    QVERIFY(opener.opened.isEmpty());
}

void ClickableURLFieldTest::clicksBeforeTheFirstPassOpenNothing() {
    RecordingOpener opener;
    auto field = makeField(threeLinks());
    const QPointF onLink(xOf(*field, "a"), midLine(*field));
    QVERIFY(!field->hasLinkLayout());
    QVERIFY(field->urlAtMouse(onLink).isEmpty());
    click(field.get(), onLink);
    QVERIFY(opener.opened.isEmpty());

    field->resetCursorRects();
    QVERIFY(field->hasLinkLayout());
    click(field.get(), onLink);
    QCOMPARE(opener.opened, QList<QUrl>{urlA});
}

void ClickableURLFieldTest::firstCharacterOfALinkIsFoundInsideAMargin() {
    // With the text drawn well inside the field, a point on the very first pixels of a link must
    // still find it: the point is taken into the layout's coordinates before the hit test.
    auto field = makeField(threeLinks(), QSize(420, 60));
    field->setMargin(12);
    field->resetCursorRects();
    const qreal y = field->drawingRect().top() + QFontMetricsF(testFont()).height() - 2;
    QCOMPARE(field->urlAtMouse(QPointF(xOf(*field, "alpha and ") + 0.5, y)), urlB);
    QCOMPARE(field->urlAtMouse(QPointF(xOf(*field, "") + 0.5, field->drawingRect().top() + 1)),
             urlA);
    QVERIFY(field->urlAtMouse(QPointF(xOf(*field, "alpha and ") - 1.5, y)).isEmpty());
}

void ClickableURLFieldTest::pointOutsideTheDrawingAreaIsNoLink() {
    auto field = makeField(threeLinks(), QSize(420, 60));
    field->setMargin(12);
    field->resetCursorRects();
    QCOMPARE(field->drawingRect(), QRect(12, 12, 396, 36));
    QVERIFY(field->urlAtMouse(QPointF(5, 5)).isEmpty());
    QVERIFY(field->urlAtMouse(QPointF(xOf(*field, "a"), 11)).isEmpty());
    QVERIFY(field->urlAtMouse(QPointF(-3, midLine(*field))).isEmpty());
}

void ClickableURLFieldTest::delegate_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("opens");
    QTest::newRow("answers true") << "true" << true << false;
    QTest::newRow("answers false") << "false" << true << true;
    QTest::newRow("without the method") << "plain" << false << true;
    QTest::newRow("destroyed") << "destroyed" << false << true;
}

void ClickableURLFieldTest::delegate() {
    QFETCH(QString, kind);
    QFETCH(bool, asked);
    QFETCH(bool, opens);
    RecordingOpener opener;
    auto field = makeField(threeLinks());
    auto delegate = std::make_unique<OpenDelegate>(kind == "true");
    QObject plainDelegate;
    field->setDelegate(kind == "plain" ? &plainDelegate : delegate.get());
    if (kind == "destroyed") {
        delegate.reset();
        QVERIFY(!field->delegate());
    }
    field->resetCursorRects();
    click(field.get(), at("a"));
    QCOMPARE(opener.opened, opens ? QList<QUrl>{urlA} : QList<QUrl>{});
    if (delegate) {
        QCOMPARE(delegate->asked, asked ? QList<QUrl>{urlA} : QList<QUrl>{});
        QCOMPARE(delegate->fields.size(), asked ? 1 : 0);
        if (asked)
            QCOMPARE(delegate->fields.first(), field.get());
    }
}

void ClickableURLFieldTest::noMenuWhileCopyingIsOff() {
    auto field = makeField(threeLinks());
    field->resetCursorRects();
    QVERIFY(!field->canCopyURLs());
    QVERIFY(!field->menuForEvent(at("a")));
}

void ClickableURLFieldTest::copyURLMenuOnALink() {
    auto field = makeField(threeLinks());
    field->setCanCopyURLs(true);
    field->resetCursorRects();
    const std::unique_ptr<QMenu> menu = field->menuForEvent(at("alpha and b"));
    QVERIFY(menu);
    QCOMPARE(menu->title(), QString("Copy URL"));
    QCOMPARE(menu->actions().size(), 1);
    QAction* item = menu->actions().first();
    QCOMPARE(item->text(), QString("Copy URL"));
    QVERIFY(item->shortcut().isEmpty());
    QCOMPARE(item->data().toUrl(), urlB);
}

void ClickableURLFieldTest::noMenuBesideTheLinks() {
    auto field = makeField(threeLinks());
    field->setCanCopyURLs(true);
    field->resetCursorRects();
    QVERIFY(!field->menuForEvent(at("alpha a")));
    QVERIFY(!field->menuForEvent(QPointF(395, midLine(*field))));
    QVERIFY(!field->menuForEvent(QPointF(xOf(*field, "a"), 38)));
}

void ClickableURLFieldTest::menuTitleIsTranslated() {
    GermanMenu german;
    QVERIFY(QCoreApplication::installTranslator(&german));
    auto field = makeField(threeLinks());
    field->setCanCopyURLs(true);
    field->resetCursorRects();
    const std::unique_ptr<QMenu> menu = field->menuForEvent(at("a"));
    QCoreApplication::removeTranslator(&german);
    QVERIFY(menu);
    QCOMPARE(menu->actions().first()->text(), QString("URL kopieren"));
}

void ClickableURLFieldTest::copyingPutsURLAndTextOnTheClipboard() {
    auto field = makeField(threeLinks());
    field->setCanCopyURLs(true);
    field->resetCursorRects();
    const std::unique_ptr<QMenu> menu = field->menuForEvent(at("alpha and beta or v"));
    QVERIFY(menu);
    menu->actions().first()->trigger();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->urls(), QList<QUrl>{urlVendor});
    QCOMPARE(data->text(), QString("safari://www.example.com/network-product.php"));

    // Straight through the slot, with a target that needs percent-encoding.
    QAction item;
    item.setData(QUrl("http://a.example/with space"));
    field->copyURL(&item);
    QCOMPARE(QApplication::clipboard()->text(), QString("http://a.example/with%20space"));
    QCOMPARE(QApplication::clipboard()->mimeData()->urls().value(0),
             QUrl("http://a.example/with space"));
}

void ClickableURLFieldTest::contextMenuEventsNeverReachTheParent() {
    MenuWatcher parent;
    auto* field = new DSClickableURLTextField(&parent);
    field->setFont(testFont());
    field->resize(400, 40);
    field->setAttributedStringValue(threeLinks());
    field->resetCursorRects();
    const QPoint onLink(int(xOf(*field, "a")), int(midLine(*field)));
    QContextMenuEvent onLinkEvent(QContextMenuEvent::Mouse, onLink, field->mapToGlobal(onLink));
    QCoreApplication::sendEvent(field, &onLinkEvent); // copying off: no menu at all
    field->setCanCopyURLs(true);
    const QPoint beside(int(xOf(*field, "alpha a")), int(midLine(*field)));
    QContextMenuEvent besideEvent(QContextMenuEvent::Mouse, beside, field->mapToGlobal(beside));
    QCoreApplication::sendEvent(field, &besideEvent);
    QCOMPARE(parent.menus, 0);
    QVERIFY(!QApplication::activePopupWidget());
}

void ClickableURLFieldTest::contextMenuOnALinkShowsCopyURL() {
    auto field = makeField(threeLinks());
    field->setCanCopyURLs(true);
    field->show();
    QVERIFY(QTest::qWaitForWindowExposed(field.get()));
    field->resetCursorRects();
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        if (QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions())
                shown.append(action->text());
            menu->actions().first()->trigger();
            menu->close();
        }
    });
    const QPoint onLink(int(xOf(*field, "a")), int(midLine(*field)));
    QContextMenuEvent event(QContextMenuEvent::Mouse, onLink, field->mapToGlobal(onLink));
    QCoreApplication::sendEvent(field.get(), &event);
    QCOMPARE(shown, QStringList{"Copy URL"});
    QCOMPARE(QApplication::clipboard()->text(), urlA.toString());
}

void ClickableURLFieldTest::oneAreaPerLinkWhereTheTextIsDrawn() {
    auto field = makeField(threeLinks());
    field->resetCursorRects();
    const QVector<QRectF> areas = field->cursorRects();
    QCOMPARE(areas.size(), 3);
    const QFontMetricsF metrics(testFont());
    const QStringList before{"", "alpha and ", "alpha and beta or "};
    const QStringList titles{"alpha", "beta", "vendor"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(std::abs(areas[i].left() - xOf(*field, before[i])) < 1.0, qPrintable(titles[i]));
        QVERIFY2(std::abs(areas[i].width() - metrics.horizontalAdvance(titles[i])) < 1.5,
                 qPrintable(titles[i]));
        QCOMPARE(areas[i].top(), 0.0);
        QVERIFY(areas[i].height() >= metrics.height() - 1);
    }
}

void ClickableURLFieldTest::areasCoverTheBluePixels() {
    auto field = makeField(threeLinks(), QSize(420, 60));
    field->setMargin(7);
    field->resetCursorRects();
    const QVector<QRectF> areas = field->cursorRects();
    QCOMPARE(areas.size(), 3);
    const QImage image = field->grab().toImage();
    QVector<int> bluePerArea(areas.size(), 0);
    int stray = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isLinkBlue(image.pixel(x, y)))
                continue;
            const QPointF centre(x + 0.5, y + 0.5);
            bool inside = false;
            for (int i = 0; i < areas.size(); ++i) {
                if (areas[i].adjusted(-1, -1, 1, 1).contains(centre)) {
                    ++bluePerArea[i];
                    inside = true;
                }
            }
            stray += inside ? 0 : 1;
        }
    }
    QCOMPARE(stray, 0);
    for (int i = 0; i < areas.size(); ++i)
        QVERIFY2(bluePerArea[i] > 20, qPrintable(QString::number(i)));
}

void ClickableURLFieldTest::wrappingLinkGetsTwoAreas() {
    const QFontMetricsF metrics(testFont());
    // Room for "provider " but not for "provider page".
    const int width = int(4 + metrics.horizontalAdvance("provider pa"));
    auto field = makeField(hyperlinkFromString("provider page", urlA), QSize(width, 60));
    field->setWordWrap(true);
    field->resetCursorRects();
    const QVector<QRectF> areas = field->cursorRects();
    QCOMPARE(areas.size(), 2);
    QCOMPARE(areas[0].left(), 2.0);
    QCOMPARE(areas[1].left(), 2.0);
    QVERIFY(areas[1].top() >= areas[0].bottom() - 0.5);
    QVERIFY(std::abs(areas[1].width() - metrics.horizontalAdvance("page")) < 1.5);
    // Both lines lead to the link, from any character of it.
    QCOMPARE(field->urlAtMouse(areas[0].center()), urlA);
    QCOMPARE(field->urlAtMouse(areas[1].center()), urlA);
    QCOMPARE(field->urlAtMouse(QPointF(areas[1].left() + 1, areas[1].center().y())), urlA);
}

void ClickableURLFieldTest::partlyScrolledOutLinkGetsAreasForItsVisiblePartOnly() {
    // window (300 wide) > strip (700 wide, scrolled 100 to the left) > field
    QWidget window;
    window.resize(300, 50);
    auto* strip = new QWidget(&window);
    strip->setGeometry(-100, 0, 700, 50);
    auto* field = new DSClickableURLTextField(strip);
    field->setFont(testFont());
    field->setGeometry(0, 0, 700, 40);
    QTextDocumentFragment text = hyperlinkFromString("www.example.org/a/long/link/text", urlA);
    appendAttributedString(text, plain(" then more plain text to push it "));
    appendAttributedString(text, hyperlinkFromString("out", urlB));
    field->setAttributedStringValue(text);
    field->resetCursorRects();

    const QVector<QRectF> areas = field->cursorRects();
    QCOMPARE(areas.size(), 1); // the second link lies wholly right of the window
    const qreal linkEnd = xOf(*field, "www.example.org/a/long/link/text");
    QVERIFY(linkEnd > 100);
    QCOMPARE(areas[0].left(), 100.0);
    QVERIFY(std::abs(areas[0].right() - linkEnd) < 1.0);

    // Scrolled further, the link's visible part shrinks from the left.
    strip->move(-200, 0);
    field->resetCursorRects();
    QVERIFY(!field->cursorRects().isEmpty());
    QCOMPARE(field->cursorRects()[0].left(), 200.0);
    for (const QRectF& area : field->cursorRects())
        QVERIFY(area.left() >= 200 && area.right() <= 500);

    // Scrolled right out, the link has no area left.
    strip->move(-int(linkEnd) - 5, 0);
    field->resetCursorRects();
    for (const QRectF& area : field->cursorRects())
        QVERIFY(area.left() >= linkEnd + 4);
}

void ClickableURLFieldTest::pointerShowsAHandOverLinksOnly() {
    QWidget window;
    auto* field = new DSClickableURLTextField(&window);
    field->setFont(testFont());
    field->resize(400, 40);
    field->setAttributedStringValue(threeLinks());
    field->resetCursorRects();
    sendMouse(field, QEvent::MouseMove, at("al"), Qt::NoButton);
    QCOMPARE(field->cursor().shape(), Qt::PointingHandCursor);
    sendMouse(field, QEvent::MouseMove, at("alpha a"), Qt::NoButton);
    QVERIFY(!field->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(field->cursor().shape(), Qt::ArrowCursor);
}

void ClickableURLFieldTest::shownFieldRunsItsFirstPassByItself() {
    RecordingOpener opener;
    auto field = makeField(threeLinks());
    field->show();
    QVERIFY(QTest::qWaitForWindowExposed(field.get()));
    QTRY_VERIFY(field->hasLinkLayout());
    QCOMPARE(field->cursorRects().size(), 3);
    click(field.get(), at("a"));
    QCOMPARE(opener.opened, QList<QUrl>{urlA});

    // A new value while shown brings new areas without being asked.
    field->setAttributedStringValue(hyperlinkFromString("only", urlB));
    QTRY_COMPARE(field->cursorRects().size(), 1);
}

void ClickableURLFieldTest::areasFollowAResize() {
    auto field = makeField(hyperlinkFromString("provider page", urlA), QSize(400, 60));
    field->setWordWrap(true);
    field->resetCursorRects();
    QCOMPARE(field->cursorRects().size(), 1);

    field->resize(int(4 + QFontMetricsF(testFont()).horizontalAdvance("provider pa")), 60);
    QCoreApplication::sendPostedEvents();
    field->resetCursorRects();
    QCOMPARE(field->cursorRects().size(), 2);
    // The drawing wraps the same way: the second line's area holds blue pixels.
    const QImage image = field->grab().toImage();
    const QRect second = field->cursorRects()[1].toRect();
    int blue = 0;
    for (int y = second.top(); y <= second.bottom(); ++y)
        for (int x = second.left(); x <= second.right(); ++x)
            blue += isLinkBlue(image.pixel(x, y)) ? 1 : 0;
    QVERIFY(blue > 20);
}

void ClickableURLFieldTest::plainTextHasNoLinks() {
    RecordingOpener opener;
    auto field = makeField(threeLinks());
    field->setCanCopyURLs(true);
    field->resetCursorRects();
    QCOMPARE(field->cursorRects().size(), 3);

    field->setStringValue("alpha and beta or vendor");
    field->resetCursorRects();
    QVERIFY(field->cursorRects().isEmpty());
    const QPointF where(xOf(*field, "a"), midLine(*field));
    QVERIFY(field->urlAtMouse(where).isEmpty());
    QVERIFY(!field->menuForEvent(where));
    click(field.get(), where);
    QVERIFY(opener.opened.isEmpty());

    // Even text that looks like a link stays plain.
    field->setStringValue("<a href=\"http://a.example/\">alpha</a>");
    field->resetCursorRects();
    QVERIFY(field->cursorRects().isEmpty());
    QCOMPARE(field->stringValue(), QString("<a href=\"http://a.example/\">alpha</a>"));
}

void ClickableURLFieldTest::textAndURLObjectTargetsBehaveAlike() {
    RecordingOpener opener;
    auto asText = makeField(threeLinks());
    auto asObject = makeField(threeLinksAsURLObjects());
    asText->setCanCopyURLs(true);
    asObject->setCanCopyURLs(true);
    asText->resetCursorRects();
    asObject->resetCursorRects();
    QCOMPARE(asObject->cursorRects(), asText->cursorRects());
    for (const char* before : {"a", "alpha and b", "alpha and beta or v", "alpha a"}) {
        const QPointF where(xOf(*asText, before), midLine(*asText));
        QCOMPARE(asObject->urlAtMouse(where), asText->urlAtMouse(where));
        QCOMPARE(bool(asObject->menuForEvent(where)), bool(asText->menuForEvent(where)));
        click(asText.get(), where);
        click(asObject.get(), where);
    }
    QCOMPARE(opener.opened.size(), 6);
    for (int i = 0; i < 6; i += 2)
        QCOMPARE(opener.opened[i + 1], opener.opened[i]);
}

void ClickableURLFieldTest::labelTextWithALinkIsClickable() {
    // What a form built for a label does: setText with rich text.
    RecordingOpener opener;
    DSClickableURLTextField field;
    field.setFont(testFont());
    field.resize(400, 40);
    field.setText("<a href=\"http://a.example/first\">alpha</a> and more");
    QCOMPARE(field.stringValue(), QString("alpha and more"));
    field.resetCursorRects();
    QCOMPARE(field.cursorRects().size(), 1);
    click(&field, QPointF(xOf(field, "al"), midLine(field)));
    QCOMPARE(opener.opened, QList<QUrl>{urlA});
}

void ClickableURLFieldTest::emptyFieldHasNoAreasAndNoLayout() {
    auto field = makeField(QTextDocumentFragment());
    field->resetCursorRects();
    QVERIFY(field->cursorRects().isEmpty());
    QVERIFY(!field->hasLinkLayout());
    QVERIFY(field->urlAtMouse(QPointF(5, 5)).isEmpty());
    auto titled = makeField(hyperlinkFromString("", urlA));
    titled->resetCursorRects();
    QVERIFY(titled->cursorRects().isEmpty());
}

void ClickableURLFieldTest::newValueAfterTheFirstPassIsFollowed() {
    RecordingOpener opener;
    auto field = makeField(threeLinks());
    field->resetCursorRects();
    QTextDocumentFragment swapped = plain("zz ");
    appendAttributedString(swapped, hyperlinkFromString("gamma", urlB));
    field->setAttributedStringValue(swapped);
    // The layout copy takes the new text at once; the areas at the next pass.
    QCOMPARE(field->urlAtMouse(at("zz g")), urlB);
    QVERIFY(field->urlAtMouse(at("a")).isEmpty());
    field->resetCursorRects();
    QCOMPARE(field->cursorRects().size(), 1);
}

void ClickableURLFieldTest::fieldStartsNotSelectableAndWithoutCopying() {
    DSClickableURLTextField field;
    QVERIFY(!field.canCopyURLs());
    QCOMPARE(field.textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(field.focusPolicy(), Qt::NoFocus);
    QVERIFY(field.hasMouseTracking());
}

QTEST_MAIN(ClickableURLFieldTest)
#include "tst_clickableurlfield.moc"
