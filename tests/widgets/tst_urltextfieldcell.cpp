// The link cell: a field whose whole text is one link.
#include "Hyperlink.h"
#include "URLTextFieldCell.h"
#include "WidgetTestSupport.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {

// Every character of the field's value carries the link to url, in blue and underlined.
bool wholeTextLinksTo(const URLTextFieldCell& cell, const QUrl& url) {
    QTextDocument doc;
    QTextCursor(&doc).insertFragment(cell.attributedStringValue());
    int covered = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (urlFromLinkAttribute(linkAttribute(format)) != url ||
                format.foreground().color() != QColor(Qt::blue) || !format.fontUnderline())
                return false;
            covered += it.fragment().length();
        }
    }
    return covered > 0 && covered == cell.stringValue().length();
}

bool hasAnyLink(const URLTextFieldCell& cell) {
    QTextDocument doc;
    QTextCursor(&doc).insertFragment(cell.attributedStringValue());
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            if (linkAttribute(it.fragment().charFormat()).isValid())
                return true;
    return false;
}

} // namespace

class URLTextFieldCellTest : public QObject {
    Q_OBJECT

  private slots:
    // Setting the link.
    void startsWithoutURL();
    void titleBecomesOneLink();
    void withoutTitleTheCurrentTextBecomesTheLink();
    void urlStringIsParsed();
    void textThatIsNoURLLeavesNoLink();
    void newLinkReplacesTheOld();
    void emptyTitleGivesNothingToClick();

    // Clicking and the pointer.
    void clickOpensTheURL();
    void clickAnywhereOnTheFieldOpensIt();
    void releaseOutsideOrOtherButtonOpensNothing();
    void pointingHandCoversTheWholeField();
    void safariTargetOpensAsHttp();
};

void URLTextFieldCellTest::startsWithoutURL() {
    URLTextFieldCell cell;
    QVERIFY(cell.url().isEmpty());
    RecordingOpener opener;
    cell.OnClick();
    QVERIFY(opener.opened.isEmpty());
}

void URLTextFieldCellTest::titleBecomesOneLink() {
    URLTextFieldCell cell;
    const QUrl url("http://www.example.net/");
    cell.setURL(url, "http://www.example.net/");
    QCOMPARE(cell.url(), url);
    QCOMPARE(cell.stringValue(), QString("http://www.example.net/"));
    QCOMPARE(cell.property("url").toUrl(), url);
    QVERIFY(wholeTextLinksTo(cell, url));
}

void URLTextFieldCellTest::withoutTitleTheCurrentTextBecomesTheLink() {
    URLTextFieldCell cell;
    cell.setStringValue("our vendor's network products");
    const QUrl url("safari://www.example.com/network-product.php");
    cell.setURL(url);
    QCOMPARE(cell.stringValue(), QString("our vendor's network products"));
    QVERIFY(wholeTextLinksTo(cell, url));

    // The same through the text form.
    URLTextFieldCell other;
    other.setText("provider");
    other.setURLString("http://www.example.org/");
    QCOMPARE(other.stringValue(), QString("provider"));
    QVERIFY(wholeTextLinksTo(other, QUrl("http://www.example.org/")));
}

void URLTextFieldCellTest::urlStringIsParsed() {
    URLTextFieldCell cell;
    cell.setURLString("http://www.example.org/services/managed_dns/free_dynamic_dns.html",
                      "free dynamic DNS");
    QCOMPARE(cell.url(), QUrl("http://www.example.org/services/managed_dns/free_dynamic_dns.html"));
    QVERIFY(wholeTextLinksTo(cell, cell.url()));
}

void URLTextFieldCellTest::textThatIsNoURLLeavesNoLink() {
    RecordingOpener opener;
    URLTextFieldCell cell;
    cell.setURLString("http://exa mple.org:port/", "broken");
    QVERIFY(cell.url().isEmpty());
    QCOMPARE(cell.stringValue(), QString("broken"));
    QVERIFY(!hasAnyLink(cell));
    cell.resize(200, 30);
    click(&cell, QPointF(10, 10));
    QVERIFY(opener.opened.isEmpty());
}

void URLTextFieldCellTest::newLinkReplacesTheOld() {
    URLTextFieldCell cell;
    cell.setURL(QUrl("http://one.example/"), "one");
    cell.setURL(QUrl("http://two.example/"), "two");
    QCOMPARE(cell.url(), QUrl("http://two.example/"));
    QCOMPARE(cell.stringValue(), QString("two"));
    QVERIFY(wholeTextLinksTo(cell, QUrl("http://two.example/")));
}

void URLTextFieldCellTest::emptyTitleGivesNothingToClick() {
    URLTextFieldCell cell;
    cell.setURL(QUrl("http://www.example.org/"), "");
    QVERIFY(cell.stringValue().isEmpty());
    QVERIFY(cell.attributedStringValue().isEmpty());
    QVERIFY(!hasAnyLink(cell));
}

void URLTextFieldCellTest::clickOpensTheURL() {
    RecordingOpener opener;
    URLTextFieldCell cell;
    cell.resize(300, 30);
    cell.setURL(QUrl("http://www.example.org/"), "http://www.example.org/");
    click(&cell, QPointF(20, 12));
    QCOMPARE(opener.opened, QList<QUrl>{QUrl("http://www.example.org/")});
    cell.OnClick();
    QCOMPARE(opener.opened.size(), 2);
}

void URLTextFieldCellTest::clickAnywhereOnTheFieldOpensIt() {
    // Far right of a short title, below the text: still the link.
    RecordingOpener opener;
    URLTextFieldCell cell;
    cell.resize(400, 60);
    cell.setURL(QUrl("http://www.example.org/"), "x");
    click(&cell, QPointF(395, 55));
    QCOMPARE(opener.opened, QList<QUrl>{QUrl("http://www.example.org/")});
}

void URLTextFieldCellTest::releaseOutsideOrOtherButtonOpensNothing() {
    RecordingOpener opener;
    URLTextFieldCell cell;
    cell.resize(300, 30);
    cell.setURL(QUrl("http://www.example.org/"), "link");
    press(&cell, QPointF(10, 10));
    release(&cell, QPointF(310, 10));
    click(&cell, QPointF(10, 10), Qt::RightButton);
    release(&cell, QPointF(10, 10)); // a release without its press
    QVERIFY(opener.opened.isEmpty());
}

void URLTextFieldCellTest::pointingHandCoversTheWholeField() {
    URLTextFieldCell bare;
    QCOMPARE(bare.cursor().shape(), Qt::PointingHandCursor);

    // A title wider than the field: the link runs over every character, the hand over the field.
    URLTextFieldCell cell;
    cell.resize(40, 20);
    const QString title = "http://www.example.org/services/managed_dns/free_dynamic_dns.html";
    cell.setURL(QUrl(title), title);
    QVERIFY(wholeTextLinksTo(cell, QUrl(title)));
    QCOMPARE(cell.cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(cell.testAttribute(Qt::WA_SetCursor));
}

void URLTextFieldCellTest::safariTargetOpensAsHttp() {
    RecordingOpener opener;
    URLTextFieldCell cell;
    cell.setURLString("safari://www.example.com/network-product.php",
                      "http://www.example.com/network-product.php");
    cell.OnClick();
    QCOMPARE(opener.opened, QList<QUrl>{QUrl("http://www.example.com/network-product.php")});
}

QTEST_MAIN(URLTextFieldCellTest)
#include "tst_urltextfieldcell.moc"
