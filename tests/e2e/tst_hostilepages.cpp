#include "app/BrowserBackends.h"
#include "sources/x11/X11BrowserSource.h"
#include "support/EndToEndRig.h"

#include <QLabel>
#include <QStandardPaths>
#include <QTest>

namespace {

// A page that runs the script, and refuses to be left as popups that fight back do.
QString scriptedPage(const QString &script)
{
    const QString html = u"<script>onbeforeunload = e => { e.preventDefault(); "
                         u"return e.returnValue = 'rester'; };"_qs +
                         script + u"</script><p>Vexlor test page"_qs;
    return u"data:text/html;charset=utf-8,"_qs +
           QString::fromLatin1(html.toUtf8().toPercentEncoding());
}

} // namespace

// Pages made to hurt the program that scans them in real Chromium windows and tabs.
class TestHostilePages : public QObject
{
    Q_OBJECT
    EndToEndRig m_rig;

private slots:
    void initTestCase() { m_rig.verifyReady(); }
    void init() { EndToEndRig::skipUnlessInstalled(); }
    void hostileTitlesAndAKilledBrowserLeaveTheScanGoing();
    void pageThatRefusesToBeLeftIsMatchedAgain();
};

// A tab whose title changes every 10 ms among 100,000 characters, control characters, direction
// marks, a lone surrogate and markup, read through DevTools until its browser is killed; then a
// window whose title holds Arabic, CR LF, markup and both keywords: the scan goes on, the markup
// shows as plain characters, and nothing in a title is fetched.
void TestHostilePages::hostileTitlesAndAKilledBrowserLeaveTheScanGoing()
{
    const QString trap = m_rig.pages.url(u"Piège"_qs, u"trap"_qs);
    ProgramRig program("\"pub\"\r\n", [this](CompositeBrowserSource &source) {
        addBrowserBackends(source, m_rig.tabs);
    });
    program.addKeyword(u", la pub"_qs);
    const QString churn = u"const titles = ['x'.repeat(100000), 'a\\u0001\\u0007\\u001b[31mb', "
                          u"'\\u202eenilno\\u200f \\u061c', 'half \\ud800 pair', "
                          u"'<a href=\"%1\">lien</a>'];"
                          u"let n = 0; setInterval(() => { document.title = 'churn ' + n + ' ' + "
                          u"titles[n++ % titles.length]; }, 10);"_qs.arg(trap);
    BrowserProcess churning(u"chromium"_qs, BrowserProcess::RemoteDebugging, {scriptedPage(churn)});
    m_rig.see(churning);
    QSet<QString> seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += program.pageNames(), seen.size() > 5), startTimeoutMs);
    churning.kill();
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().isEmpty(), scanTimeoutMs);

    // The browser collapses the CR LF into a blank, so both keywords match.
    const QString hostile = u"عربي \"pub\", \r\nla pub <img src=\"%1\"> <b>gras</b>"_qs.arg(trap);
    BrowserProcess matching(u"chromium"_qs, BrowserProcess::Windowed,
                            {m_rig.pages.url(hostile, u"hostile"_qs)});
    QTRY_VERIFY_WITH_TIMEOUT(!matching.isRunning(), startTimeoutMs);
    const Form1 &form = *program.form;
    // Chromium puts a title with right-to-left text, and its own name, between direction marks.
    QVERIFY2(form.sb->text().startsWith(u"Fermeture: عربي \"pub\", la pub <img src="_qs) &&
                 !form.sb->text().contains(u"Chromium"_qs),
             qPrintable(form.sb->text()));
    QCOMPARE(form.sb->textFormat(), Qt::PlainText);
    QCOMPARE(ProgramRig::set(column(form.ListView4, 1)), (QSet{u"pub"_qs, u", la pub"_qs}));
    QVERIFY(form.Timer1->isActive());
    QVERIFY(!m_rig.pages.wasServed(trap));
}

// A page the user touched may refuse to be left: Chromium then asks "Leave site?" and keeps the
// window. The program matches it again at every tick and goes on scanning.
void TestHostilePages::pageThatRefusesToBeLeftIsMatchedAgain()
{
    if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
        QSKIP("xdotool is not installed");
    ProgramRig program({}, [](CompositeBrowserSource &source) {
        source.addBackend(std::make_unique<X11BrowserSource>());
    });
    BrowserProcess stubborn(u"chromium"_qs, BrowserProcess::Windowed,
                            {u"--window-position=0,0"_qs, u"--window-size=600,400"_qs,
                             scriptedPage(u"document.title = 'Reste ici'; document.onclick = () => "
                                          u"{ document.title = 'Reste ici touchée'; };"_qs)});
    QTRY_VERIFY_WITH_TIMEOUT(program.pageNames().contains(u"Reste ici"_qs), startTimeoutMs);
    // A real click, through the X server, gives the page the user activation it needs to hold
    // the user back.
    const auto click = [] {
        QProcess xdotool;
        xdotool.start(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"250"_qs, u"click"_qs, u"1"_qs});
        return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(click() && program.pageNames().contains(u"Reste ici touchée"_qs),
                             scanTimeoutMs);

    program.addKeyword(u"touchée"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(program.closings() >= 4, scanTimeoutMs);
    QVERIFY(stubborn.isRunning());
    QVERIFY(program.pageNames().contains(u"Reste ici touchée"_qs));
    QCOMPARE(column(program.form->ListView2, 0), QStringList{QString::number(program.closings())});
    QVERIFY(program.form->Timer1->isActive());
}

QTEST_MAIN(TestHostilePages)
#include "tst_hostilepages.moc"
