#include "app/BrowserBackends.h"
#include "app/StartUp.h"
#include "filter/DataFiles.h"
#include "platform/CompositeBrowserSource.h"
#include "sources/x11/X11BrowserSource.h"
#include "support/BrowserProcess.h"
#include "support/ListRows.h"
#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "support/X11TestDisplay.h"
#include "ui/Form1.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>

namespace {

// A page that runs the script; the page refuses to be left, as pop-ups that fight back do.
QString scriptedPage(const QString &script)
{
    const QString html = u"<script>onbeforeunload = e => { e.preventDefault(); "
                         u"return e.returnValue = 'rester'; };"_qs +
                         script + u"</script><p>Vexlor test page"_qs;
    return u"data:text/html;charset=utf-8,"_qs +
           QString::fromLatin1(html.toUtf8().toPercentEncoding());
}

QSet<QString> pageNames(const QTreeWidget *list)
{
    const QStringList names = column(list, 0);
    return QSet<QString>(names.begin(), names.end());
}

enum class Backends
{
    Windows, // the X11 windows only
    All,     // the program's own set, tab-level backends included
};

// The program's window over the real browsers of the display, with the keywords of mtrl.dll.
struct ScanningWindow
{
    ScanningWindow(const QByteArray &keywordFile, Backends backends)
    {
        writeBytes(appFolder.filePath("mtrl.dll"), keywordFile);
        if (backends == Backends::All)
            addBrowserBackends(source);
        else
            source.addBackend(std::make_unique<X11BrowserSource>());
        form = std::make_unique<Form1>(
            Form1Services{source, sound, dialogs, opener, appFolder.path()});
        runStartUp(*form);
    }

    QTemporaryDir appFolder;
    CompositeBrowserSource source;
    RecordingSoundPlayer sound;
    ScriptedDialogs dialogs;
    RecordingOpener opener;
    std::unique_ptr<Form1> form;
};

} // namespace

// Pages whose titles are made to hurt, scanned by the program's own window through real
// browser windows: the scan goes on, markup stays plain characters, and the files stay whole.
class TestHostilePages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileTitlesAreScannedAndShownAsText();
    void browserKilledWhileScanned();
    void pageThatRefusesToCloseIsMatchedAgain();

private:
    std::unique_ptr<X11TestDisplay> m_keepDisplay;
};

void TestHostilePages::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "this test needs an X display in $DISPLAY");
}

void TestHostilePages::hostileTitlesAreScannedAndShownAsText()
{
    if (!QFileInfo(BrowserProcess::kChromium).isExecutable())
        QSKIP("chromium is not installed");
    // Anything that the program would fetch because of a title would knock here.
    QTcpServer trap;
    QVERIFY(trap.listen(QHostAddress::LocalHost));
    const QString address = u"http://127.0.0.1:%1/"_qs.arg(trap.serverPort());

    ScanningWindow window("\"pub\"\r\n", Backends::Windows);
    Form1 &form = *window.form;
    // A keyword with a comma and a blank, which the closing of a hostile page writes to the
    // statistics file.
    window.dialogs.answer(u", la pub"_qs);
    form.Command5->click();

    // A title that changes every 10 ms among 100,000 characters, control characters,
    // right-to-left marks, a lone surrogate and markup; none of them holds the keyword.
    const QString churn = u"const titles = ['x'.repeat(100000), 'a\\u0001\\u0007\\u001b[31mb', "
                          u"'\\u202eenilno\\u200f \\u061c', 'half \\ud800 pair', "
                          u"'<a href=\"%1a\">lien</a>'];"
                          u"let n = 0; setInterval(() => { document.title = 'churn ' + n + ' ' + "
                          u"titles[n++ % titles.length]; }, 10);"_qs.arg(address);
    BrowserProcess churning(BrowserProcess::kChromium,
                            BrowserProcess::chromiumArguments() << scriptedPage(churn), {});
    // The scan keeps up with it: the list shows title after title.
    QSet<QString> seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += pageNames(form.ListView1), seen.size() > 5), 120000);
    for (const QString &name : std::as_const(seen))
        QVERIFY2(!name.endsWith(u"Chromium\u202C\u200E"_qs), qPrintable(name));

    const QString hostile =
        u"Le \"pub\", \r\nla pub <img src=\"%1img\"> <b>gras</b>"_qs.arg(address);
    BrowserProcess matching(BrowserProcess::kChromium,
                            BrowserProcess::chromiumArguments() << scriptedPage(
                                u"document.title = %1;"_qs.arg(u"'"_qs +
                                                               QString(hostile)
                                                                   .replace(u"\""_qs, u"\\\""_qs)
                                                                   .replace(u"\r"_qs, u"\\r"_qs)
                                                                   .replace(u"\n"_qs, u"\\n"_qs) +
                                                               u"'"_qs)),
                            {});
    QTRY_VERIFY_WITH_TIMEOUT(form.ListView4->topLevelItemCount() > 0, 120000);
    QTRY_VERIFY_WITH_TIMEOUT(!matching.isRunning(), 60000);

    // The markup shows as the characters it is made of.
    QVERIFY2(form.sb->text().contains(u"<img src="_qs), qPrintable(form.sb->text()));
    QCOMPARE(form.sb->textFormat(), Qt::PlainText);
    // The browser collapses the CR LF of a title into one blank, so both keywords match.
    const auto journalKeywords = [&form] {
        const QStringList keywords = column(form.ListView4, 1);
        return QSet<QString>(keywords.begin(), keywords.end());
    };
    QTRY_COMPARE_WITH_TIMEOUT(journalKeywords(), (QSet<QString>{u"pub"_qs, u", la pub"_qs}), 30000);
    QVERIFY(churning.isRunning());
    QCOMPARE(column(form.ListView2, 1), (QStringList{u"pub"_qs, u", la pub"_qs}));
    int counted = 0;
    for (const QString &count : column(form.ListView2, 0))
        counted += count.toInt();
    QCOMPARE(counted, form.ListView4->topLevelItemCount());

    // The files the program writes load back as they were.
    QVERIFY(DataFiles::SaveStatisticsFile(window.appFolder.path(), form.ListView2));
    QVERIFY(DataFiles::SaveKeywordFile(window.appFolder.path(), form.ListView3));
    QTreeWidget statistics, keywords;
    QVERIFY(DataFiles::LoadStatisticsFile(window.appFolder.path(), &statistics));
    QVERIFY(DataFiles::LoadKeywordFile(window.appFolder.path(), &keywords));
    QCOMPARE(column(statistics, 0), column(form.ListView2, 0));
    QCOMPARE(column(statistics, 1), column(form.ListView2, 1));
    QStringList loaded = column(keywords, 0);
    loaded.sort();
    QCOMPARE(loaded, (QStringList{u", la pub"_qs, u"pub"_qs}));
    QVERIFY(!trap.hasPendingConnections());
}

// A browser that dies while the program reads it, through its windows and its tabs alike: the
// scan goes on, and sees the next browser.
void TestHostilePages::browserKilledWhileScanned()
{
    if (!QFileInfo(BrowserProcess::kChromium).isExecutable())
        QSKIP("chromium is not installed");
    ScanningWindow window("\"rien ne correspond\"\r\n", Backends::All);
    Form1 &form = *window.form;

    const QStringList arguments = BrowserProcess::chromiumArguments()
                                  << u"--remote-debugging-port=0"_qs;
    auto doomed = std::make_unique<BrowserProcess>(
        BrowserProcess::kChromium, QStringList(arguments) << titledPage("Condamnée"), QByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(pageNames(form.ListView1).contains(u"Condamnée"_qs), 120000);
    // Killed outright, as a crash would, while the ticks go on.
    ::kill(-pid_t(doomed->pid()), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(!pageNames(form.ListView1).contains(u"Condamnée"_qs), 30000);
    doomed.reset();

    BrowserProcess next(BrowserProcess::kChromium, QStringList(arguments) << titledPage("Suivante"),
                        QByteArray());
    QTRY_VERIFY_WITH_TIMEOUT(pageNames(form.ListView1).contains(u"Suivante"_qs), 120000);
    QVERIFY(form.Timer1->isActive());
    QVERIFY(form.ListView4->topLevelItemCount() == 0);
}

// A page the user touched may refuse to be left: Chromium then asks "Leave site?" and keeps the
// window. The program matches it again at every tick and goes on scanning.
void TestHostilePages::pageThatRefusesToCloseIsMatchedAgain()
{
    if (!QFileInfo(BrowserProcess::kChromium).isExecutable() ||
        QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
        QSKIP("needs chromium and xdotool");
    ScanningWindow window("", Backends::Windows);
    Form1 &form = *window.form;

    BrowserProcess stubborn(
        BrowserProcess::kChromium,
        BrowserProcess::chromiumArguments()
            << u"--window-position=0,0"_qs << u"--window-size=600,400"_qs
            << scriptedPage(u"document.title = 'Reste ici'; document.onclick = () => "
                            u"{ document.title = 'Reste ici touchée'; };"_qs),
        {});
    QTRY_VERIFY_WITH_TIMEOUT(pageNames(form.ListView1).contains(u"Reste ici"_qs), 120000);
    // A real click, through the X server, gives the page the user activation it needs to
    // hold the user back.
    const auto click = [] {
        QProcess xdotool;
        xdotool.start(u"xdotool"_qs, {u"mousemove"_qs, u"300"_qs, u"250"_qs, u"click"_qs, u"1"_qs});
        return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(click() && pageNames(form.ListView1).contains(u"Reste ici touchée"_qs),
                             30000);

    window.dialogs.answer(u"touchée"_qs);
    form.Command5->click();
    QTRY_VERIFY_WITH_TIMEOUT(form.ListView4->topLevelItemCount() >= 4, 30000);
    QVERIFY(stubborn.isRunning());
    QVERIFY(pageNames(form.ListView1).contains(u"Reste ici touchée"_qs));
    QCOMPARE(column(form.ListView2, 0),
             QStringList{QString::number(form.ListView4->topLevelItemCount())});
    QVERIFY(form.Timer1->isActive());
}

QTEST_MAIN(TestHostilePages)
#include "tst_hostilepages.moc"
