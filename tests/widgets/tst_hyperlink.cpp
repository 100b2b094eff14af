// Link strings, the link attribute in its two forms, and the URL opener.
#include "Hyperlink.h"
#include "URLOpener.h"
#include "WidgetTestSupport.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {

struct Run {
    QString text;
    QTextCharFormat format;
};

// The formatted runs of a rich text, in order.
QList<Run> runsOf(const QTextDocumentFragment& fragment) {
    QTextDocument doc;
    QTextCursor(&doc).insertFragment(fragment);
    QList<Run> runs;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
            runs.append({it.fragment().text(), it.fragment().charFormat()});
    return runs;
}

} // namespace

class HyperlinkTest : public QObject {
    Q_OBJECT

  private slots:
    // The builders.
    void linkCoversTheWholeTextInBlueUnderlined();
    void linkAttributeIsTheAbsoluteString();
    void highlightedLinkIsWhiteWithoutUnderline();
    void emptyTitleGivesEmptyTextWithoutLink();
    void invalidURLGivesPlainText();
    void appendingKeepsEveryRun();

    // The link attribute.
    void textAndURLObjectFormsReadAlike();
    void formatWithoutTargetIsNoLink();
    void malformedTextTargetGivesNoURL();

    // The opener.
    void openerHandsTheURLToTheHandler();
    void safariTargetOpensAsHttp();
    void otherSchemesPassUnchanged();
    void emptyOrInvalidURLOpensNothing();
};

void HyperlinkTest::linkCoversTheWholeTextInBlueUnderlined() {
    const QUrl url("http://www.example.org/services/managed_dns/free_dynamic_dns.html");
    const QTextDocumentFragment link = hyperlinkFromString("free dynamic DNS here", url);
    QCOMPARE(link.toPlainText(), QString("free dynamic DNS here"));
    const QList<Run> runs = runsOf(link);
    QCOMPARE(runs.size(), 1);
    const QTextCharFormat& format = runs.first().format;
    QCOMPARE(runs.first().text, QString("free dynamic DNS here"));
    QVERIFY(format.isAnchor());
    QCOMPARE(format.foreground().color(), QColor(Qt::blue));
    QCOMPARE(format.underlineStyle(), QTextCharFormat::SingleUnderline);
    QVERIFY(format.fontUnderline());
}

void HyperlinkTest::linkAttributeIsTheAbsoluteString() {
    const QUrl url("http://www.example.org/a path/?q=1 2");
    const QList<Run> runs = runsOf(hyperlinkFromString("x", url));
    QCOMPARE(runs.size(), 1);
    const QVariant value = linkAttribute(runs.first().format);
    // Text, not a URL object, and percent-encoded like an absolute string.
    QCOMPARE(value.userType(), int(QMetaType::QString));
    QCOMPARE(value.toString(), QString("http://www.example.org/a%20path/?q=1%202"));
    QCOMPARE(urlFromLinkAttribute(value), url);
}

void HyperlinkTest::highlightedLinkIsWhiteWithoutUnderline() {
    const QUrl url("http://www.example.net/");
    const QList<Run> runs = runsOf(highlightedHyperlinkFromString("provider", url));
    QCOMPARE(runs.size(), 1);
    const QTextCharFormat& format = runs.first().format;
    QCOMPARE(linkAttribute(format).toString(), QString("http://www.example.net/"));
    QCOMPARE(format.foreground().color(), QColor(Qt::white));
    QCOMPARE(format.underlineStyle(), QTextCharFormat::NoUnderline);
    QVERIFY(!format.fontUnderline());
}

void HyperlinkTest::emptyTitleGivesEmptyTextWithoutLink() {
    const QTextDocumentFragment link = hyperlinkFromString("", QUrl("http://www.example.org/"));
    QVERIFY(link.isEmpty());
    QVERIFY(link.toPlainText().isEmpty());
    QVERIFY(runsOf(link).isEmpty());
    QVERIFY(highlightedHyperlinkFromString("", QUrl("http://www.example.org/")).isEmpty());
}

void HyperlinkTest::invalidURLGivesPlainText() {
    const QList<Run> runs = runsOf(hyperlinkFromString("no target", QUrl()));
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().text, QString("no target"));
    QVERIFY(!linkAttribute(runs.first().format).isValid());
    QVERIFY(!runs.first().format.fontUnderline());
}

void HyperlinkTest::appendingKeepsEveryRun() {
    QTextDocumentFragment text;
    appendAttributedString(text, hyperlinkFromString("one", QUrl("http://one.example/")));
    appendAttributedString(text, QTextDocumentFragment::fromPlainText(" and "));
    appendAttributedString(text, hyperlinkFromString("two", QUrl("http://two.example/")));
    QCOMPARE(text.toPlainText(), QString("one and two"));
    const QList<Run> runs = runsOf(text);
    QCOMPARE(runs.size(), 3);
    QCOMPARE(linkAttribute(runs[0].format).toString(), QString("http://one.example/"));
    QVERIFY(!linkAttribute(runs[1].format).isValid());
    QCOMPARE(linkAttribute(runs[2].format).toString(), QString("http://two.example/"));
}

void HyperlinkTest::textAndURLObjectFormsReadAlike() {
    const QUrl url("http://www.example.com/network-product.php");
    QTextCharFormat asText;
    asText.setAnchor(true);
    asText.setAnchorHref(url.toString());
    QTextCharFormat asObject;
    setLinkURL(asObject, url);
    QCOMPARE(linkAttribute(asObject).userType(), int(QMetaType::QUrl));
    QCOMPARE(urlFromLinkAttribute(linkAttribute(asText)), url);
    QCOMPARE(urlFromLinkAttribute(linkAttribute(asObject)), url);

    // A URL object set beside a text target is the one that counts.
    QTextCharFormat both = asText;
    setLinkURL(both, QUrl("http://other.example/"));
    QCOMPARE(urlFromLinkAttribute(linkAttribute(both)), QUrl("http://other.example/"));
}

void HyperlinkTest::formatWithoutTargetIsNoLink() {
    QTextCharFormat plain;
    QVERIFY(!linkAttribute(plain).isValid());
    QTextCharFormat namedAnchor;
    namedAnchor.setAnchor(true);
    namedAnchor.setAnchorNames({"top"});
    QVERIFY(!linkAttribute(namedAnchor).isValid());
    QVERIFY(urlFromLinkAttribute(QVariant()).isEmpty());
    QVERIFY(urlFromLinkAttribute(QVariant(42)).isEmpty());
}

void HyperlinkTest::malformedTextTargetGivesNoURL() {
    QVERIFY(!urlFromLinkAttribute(QString("http://exa mple.org:port/")).isValid());
}

void HyperlinkTest::openerHandsTheURLToTheHandler() {
    RecordingOpener opener;
    QVERIFY(URLOpener::open(QUrl("http://www.example.org/")));
    QCOMPARE(opener.opened, QList<QUrl>{QUrl("http://www.example.org/")});
}

void HyperlinkTest::safariTargetOpensAsHttp() {
    RecordingOpener opener;
    URLOpener::open(QUrl("safari://www.example.com/network-product.php"));
    URLOpener::open(QUrl("SAFARI://www.example.com/"));
    QCOMPARE(opener.opened, (QList<QUrl>{QUrl("http://www.example.com/network-product.php"),
                                         QUrl("http://www.example.com/")}));
}

void HyperlinkTest::otherSchemesPassUnchanged() {
    for (const char* text : {"https://www.example.org/x", "mailto:someone@example.org",
                             "http://safari.example/", "ftp://files.example/safari"}) {
        const QUrl url(text);
        QCOMPARE(URLOpener::browserTarget(url), url);
    }
}

void HyperlinkTest::emptyOrInvalidURLOpensNothing() {
    RecordingOpener opener;
    QVERIFY(!URLOpener::open(QUrl()));
    QVERIFY(!URLOpener::open(QUrl("http://exa mple.org:port/", QUrl::StrictMode)));
    QVERIFY(opener.opened.isEmpty());
}

QTEST_MAIN(HyperlinkTest)
#include "tst_hyperlink.moc"
