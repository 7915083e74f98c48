#include "sources/x11/X11TitleText.h"

#include <QRandomGenerator>
#include <QTest>

using X11TitleText::Encoding;

class TestX11TitleText : public QObject
{
    Q_OBJECT

private slots:
    void pageNameFromTitle_data();
    void pageNameFromTitle();
    void isKnownBrowser_data();
    void isKnownBrowser();
    void decode_data();
    void decode();
    void decodedTextIsCapped_data();
    void decodedTextIsCapped();
    void arbitraryBytesDecodeToValidText();
};

void TestX11TitleText::pageNameFromTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("pageName");

    // As Debian's chromium 156 and firefox-esr 153 write them.
    QTest::newRow("chromium") << u"One - Chromium"_qs << u"One"_qs;
    QTest::newRow("chromium incognito")
        << u"New Incognito Tab - Chromium"_qs << u"New Incognito Tab"_qs;
    QTest::newRow("chromium untitled page")
        << u"data:text/html,<p>no title</p> - Chromium"_qs << u"data:text/html,<p>no title</p>"_qs;
    QTest::newRow("chromium alone") << u"Chromium"_qs << QString();
    QTest::newRow("chromium right-to-left page")
        << u"\u200E\u202Bعربي \u202Eabc - Chromium\u202C\u200E"_qs << u"عربي \u202Eabc"_qs;
    QTest::newRow("firefox") << u"Café – ok — Mozilla Firefox"_qs << u"Café – ok"_qs;
    QTest::newRow("firefox private")
        << u"Secret — Mozilla Firefox Private Browsing"_qs << u"Secret"_qs;
    QTest::newRow("firefox alone") << u"Mozilla Firefox"_qs << QString();
    QTest::newRow("firefox private alone") << u"Mozilla Firefox Private Browsing"_qs << QString();
    QTest::newRow("firefox hidden window") << u"Firefox"_qs << QString();

    QTest::newRow("older firefox private")
        << u"Page - Mozilla Firefox (Private Browsing)"_qs << u"Page"_qs;
    QTest::newRow("chrome") << u"Inbox (3) - Google Chrome"_qs << u"Inbox (3)"_qs;
    QTest::newRow("librewolf private") << u"Page — LibreWolf Private Browsing"_qs << u"Page"_qs;
    QTest::newRow("konqueror") << u"Page – Konqueror"_qs << u"Page"_qs;
    QTest::newRow("qutebrowser loading") << u"[42%] Page - qutebrowser"_qs << u"Page"_qs;

    QTest::newRow("edge") << u"Page - Personal - Microsoft\u200B Edge"_qs << u"Page"_qs;
    QTest::newRow("edge more pages")
        << u"Bing and 3 more pages - Profile 1 - Microsoft\u200B Edge"_qs << u"Bing"_qs;
    QTest::newRow("edge page with dashes")
        << u"Report - Q3 - Microsoft\u200B Edge"_qs << u"Report - Q3"_qs;
    QTest::newRow("edge alone") << u"Microsoft\u200B Edge"_qs << QString();

    // Only the browser's own, last suffix goes.
    QTest::newRow("page with dashes") << u"A - B - Chromium"_qs << u"A - B"_qs;
    QTest::newRow("page naming the browser")
        << u"Title — Mozilla Firefox — Mozilla Firefox"_qs << u"Title — Mozilla Firefox"_qs;
    QTest::newRow("multi-line page") << u"Line 1\nLine 2 - Chromium"_qs << u"Line 1\nLine 2"_qs;
    QTest::newRow("browser name first") << u"Chromium tips - Wiki"_qs << u"Chromium tips - Wiki"_qs;
    QTest::newRow("no separator") << u"Page -Chromium"_qs << u"Page -Chromium"_qs;
    QTest::newRow("other case") << u"Page - chromium"_qs << u"Page - chromium"_qs;
    QTest::newRow("unknown suffix") << u"Page - Navigator"_qs << u"Page - Navigator"_qs;
    QTest::newRow("empty") << QString() << QString();
}

void TestX11TitleText::pageNameFromTitle()
{
    QFETCH(QString, title);
    QFETCH(QString, pageName);
    QCOMPARE(X11TitleText::pageNameFromTitle(title), pageName);
}

void TestX11TitleText::isKnownBrowser_data()
{
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("known");

    const auto row = [](const char *instance, const char *className, bool known) {
        QTest::addRow("%s / %s", instance, className)
            << QString::fromLatin1(instance) << QString::fromLatin1(className) << known;
    };
    // As Debian's browsers set WM_CLASS.
    row("chromium (/tmp/profile)", "Chromium", true);
    row("chromium", "Chromium", true);
    row("Navigator", "firefox-esr", true);
    row("firefox-esr", "Firefox-esr", true);

    row("google-chrome-beta", "Google-chrome-beta", true);
    row("microsoft-edge-dev", "Microsoft-edge-dev", true);
    row("Navigator", "firefox", true);
    // Case does not matter.
    row("Navigator", "LibreWolf", true);
    row("org.gnome.Epiphany", "org.gnome.Epiphany", true);

    row("Navigator", "Navigator", false);
    row("xterm", "XTerm", false);
    row("", "", false);
    row("chromium-helper", "Helper", false);
    row("(chromium)", "Other", false);
    row("firefox-esr-like", "Thing", false);
}

void TestX11TitleText::isKnownBrowser()
{
    QFETCH(QString, instance);
    QFETCH(QString, className);
    QFETCH(bool, known);
    QCOMPARE(X11TitleText::isKnownBrowser(instance, className), known);
}

void TestX11TitleText::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QString>("text");

    const QString lost(QChar::ReplacementCharacter);
    QTest::newRow("utf-8") << QByteArray("Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80")
                           << Encoding::Utf8 << u"Café — 😀"_qs;
    QTest::newRow("utf-8 invalid byte") << QByteArray("a\xff"
                                                      "b")
                                        << Encoding::Utf8 << u"a"_qs + lost + u"b"_qs;
    QTest::newRow("latin-1") << QByteArray("Gr\xfc\xdf"
                                           "e")
                             << Encoding::Latin1 << u"Grüße"_qs;
    QTest::newRow("unknown type, utf-8")
        << QByteArray("Caf\xc3\xa9") << Encoding::Unknown << u"Café"_qs;
    QTest::newRow("unknown type, not utf-8")
        << QByteArray("Caf\xe9") << Encoding::Unknown << u"Café"_qs;

    for (const Encoding encoding :
         {Encoding::Utf8, Encoding::Latin1, Encoding::CompoundText, Encoding::Unknown})
        QTest::addRow("stops at NUL, encoding %d", int(encoding))
            << QByteArray("before\0after", 12) << encoding << u"before"_qs;

    // firefox-esr's WM_NAME for "Café – ok — Mozilla Firefox".
    QTest::newRow("compound text with utf-8 runs")
        << QByteArray(
               "Caf\xe9 \x1b%G\xe2\x80\x93\x1b%@ ok \x1b%G\xe2\x80\x94\x1b%@ Mozilla Firefox")
        << Encoding::CompoundText << u"Café – ok — Mozilla Firefox"_qs;
    QTest::newRow("compound text utf-8 run not closed")
        << QByteArray("x\x1b%G\xc3\xa9") << Encoding::CompoundText << u"xé"_qs;
    QTest::newRow("compound text in an unknown double-byte set")
        << QByteArray("ab \x1b$(B\x30\x21\x30\x22\x1b(B cd") << Encoding::CompoundText
        << u"ab "_qs + lost + u" cd"_qs;
    QTest::newRow("compound text with latin-2 on the right")
        << QByteArray("\x1b-B\xb1\x1b-A\xe9") << Encoding::CompoundText << lost + u"é"_qs;
    QTest::newRow("compound text direction marks") << QByteArray("\x9b"
                                                                 "1]abc\x9b]")
                                                   << Encoding::CompoundText << u"abc"_qs;
    QTest::newRow("compound text extended segment")
        << QByteArray("a\x1b%/1\x80\x8ciso8859-15\x02\xa4"
                      "b")
        << Encoding::CompoundText << u"a"_qs + lost + u"b"_qs;
    QTest::newRow("compound text extended segment cut short")
        << QByteArray("a\x1b%/1\x80\xffiso") << Encoding::CompoundText << u"a"_qs + lost;
    QTest::newRow("compound text escape cut short")
        << QByteArray("ab\x1b$") << Encoding::CompoundText << u"ab"_qs;
    QTest::newRow("compound text control bytes")
        << QByteArray("a\x01\x7f\x85\tb\n") << Encoding::CompoundText << u"a\tb\n"_qs;
}

void TestX11TitleText::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Encoding, encoding);
    QFETCH(QString, text);
    QCOMPARE(X11TitleText::decode(bytes, encoding), text);
}

void TestX11TitleText::decodedTextIsCapped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Encoding>("encoding");

    const QByteArray huge(4 * 1024 * 1024, 'a');
    QTest::newRow("utf-8") << huge << Encoding::Utf8;
    QTest::newRow("latin-1") << huge << Encoding::Latin1;
    QTest::newRow("compound text") << huge << Encoding::CompoundText;
    QTest::newRow("compound text utf-8 run")
        << QByteArray("\x1b%G") + huge + QByteArray("\x1b%@") << Encoding::CompoundText;
    QTest::newRow("unknown") << huge << Encoding::Unknown;
    // One character, then pairs of surrogates: the cap falls inside a pair.
    QTest::newRow("cut between surrogates")
        << QByteArray("a") + QString(u"😀"_qs).repeated(40000).toUtf8() << Encoding::Utf8;
}

void TestX11TitleText::decodedTextIsCapped()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Encoding, encoding);
    const QString text = X11TitleText::decode(bytes, encoding);
    QVERIFY(text.size() >= X11TitleText::maxLength - 1);
    QVERIFY(text.size() <= X11TitleText::maxLength);
    QVERIFY(text.isValidUtf16());
}

// Titles come from any program on the display; whatever their bytes, decoding gives bounded,
// well-formed text.
void TestX11TitleText::arbitraryBytesDecodeToValidText()
{
    QRandomGenerator random(20070101);
    const QByteArray interesting("\x1b%G@/-$()AB\x9b\xc3\xa9\xe2\x80\x00\xff", 19);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes(random.bounded(1, 300), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = random.bounded(2) ? interesting[random.bounded(interesting.size())]
                                     : char(random.bounded(256));
        for (const Encoding encoding :
             {Encoding::Utf8, Encoding::Latin1, Encoding::CompoundText, Encoding::Unknown}) {
            const QString text = X11TitleText::decode(bytes, encoding);
            QVERIFY2(text.isValidUtf16(), bytes.toHex().constData());
            QVERIFY(text.size() <= bytes.size());
            QVERIFY(!text.contains(QChar(0)));
        }
    }
}

QTEST_APPLESS_MAIN(TestX11TitleText)
#include "tst_x11titletext.moc"
