#include "app/UnwatchedBrowsers.h"
#include "support/FakeProcTree.h"
#include "support/ScriptedTray.h"

#include <QLabel>
#include <QTest>

// Running browsers in a fake /proc, a source that sees the processes the test says, and what
// the user is told, through the tray icon and the status line.
class TestUnwatched : public QObject
{
    Q_OBJECT

private slots:
    void eachUnseenStartIsReportedOnce_data();
    void eachUnseenStartIsReportedOnce();
};

// Each story is FakeProcTree lines and steps, cut at "; ": "see <pid>" and "lose <pid>" (a
// source sees that process, or no longer), "check <n>" (n checks), "? <pids> / <n>" (the main
// processes reported, and the notifications so far), "said <text>" (the last notification holds
// it), "status <text>" (the status line holds it; "-" for empty).
void TestUnwatched::eachUnseenStartIsReportedOnce_data()
{
    QTest::addColumn<bool>("trayShown");
    QTest::addColumn<QByteArray>("story");
    QTest::newRow("once, after a grace")
        << true
        << QByteArray("100 firefox-esr; 101/100 firefox-esr "
                      "-contentproc; check 7; ? / 0; check 1; ? "
                      "100 / 1; said Firefox; said pont; check "
                      "30; ? 100 / 1; status Firefox non surveillé");
    QTest::newRow("seen through a helper") << true
                                           << QByteArray("400 chromium; 401/400 chromium "
                                                         "--type=zygote; 402/401 chromium "
                                                         "--type=renderer; see 402; check 30; ? / "
                                                         "0; status -");
    QTest::newRow("restarted") << true
                               << QByteArray("100 firefox-esr; check 8; ? 100 / 1; rm 100; 100 "
                                             "firefox-esr; check 7; ? / 1; check 1; ? 100 / 2");
    QTest::newRow("seen later, then lost")
        << true
        << QByteArray("100 firefox-esr; check 8; see 100; check 1; ? / 1; status -; lose 100; "
                      "check 7; ? / 1; check 1; ? 100 / 2; check 30; ? 100 / 2");
    QTest::newRow("no browser of the user's")
        << true
        << QByteArray("200:0 firefox-esr; 300 bash; 301/300 firefox-esr -contentproc; 400 "
                      "chromium --type=renderer; 500 firefox-esr; 501/500 chromium; see 500; "
                      "check 30; ? 501 / 1; said Chromium");
    QTest::newRow("a thread is no browser; one that ends is noticed with no listing")
        << true
        << QByteArray("newest 100; 100 firefox-esr; see 100; thread 102 100; newest 102; check "
                      "30; ? / 0; lose 100; check 8; ? 100 / 1; rm 100; check 1; ? / 1; status -");
    QTest::newRow("an id that comes back once ids wrap round is another start")
        << true
        << QByteArray("newest 100; 100 firefox-esr; check 8; ? 100 / 1; rm 100; 100 opera; newest "
                      "50; check 8; ? 100 / 2; said Opera");
    QTest::newRow("no tray") << false
                             << QByteArray("600 opera; check 8; ? 600 / 0; status Opera non "
                                           "surveillé : ses pages; rm 600; check 1; status -");
}

void TestUnwatched::eachUnseenStartIsReportedOnce()
{
    QFETCH(bool, trayShown);
    QFETCH(QByteArray, story);
    FakeProcTree proc;
    RunningBrowsers running(proc.root(), FakeProcTree::userId);
    QSet<qint64> seen;
    ScriptedTray tray;
    tray.m_shown = trayShown;
    QLabel status;
    UnwatchedBrowsers unwatched(
        running, [&seen](qint64 pid) { return seen.contains(pid); }, tray, &status);
    for (const QByteArray &step : story.split(';')) {
        const QByteArray line = step.trimmed();
        const QByteArray word = line.split(' ').first();
        const QString rest = QString::fromUtf8(line.mid(word.size() + 1));
        if (word == "see" || word == "lose") {
            word == "see" ? void(seen.insert(rest.toLongLong()))
                          : void(seen.remove(rest.toLongLong()));
        } else if (word == "check") {
            for (int i = rest.toInt(); i > 0; --i)
                unwatched.check();
        } else if (word == "?") {
            QSet<qint64> pids;
            for (const QString &pid : rest.section(u'/', 0, 0).split(u' ', Qt::SkipEmptyParts))
                pids.insert(pid.toLongLong());
            QCOMPARE(unwatched.reported(), pids);
            QCOMPARE(tray.m_messages.size(), rest.section(u'/', 1).trimmed().toInt());
        } else if (word == "said") {
            QVERIFY2(tray.m_messages.last().contains(rest), qPrintable(tray.m_messages.last()));
        } else if (word == "status") {
            QVERIFY2(rest == u"-" ? status.text().isEmpty() : status.text().contains(rest),
                     qPrintable(status.text()));
        } else {
            proc.apply(line);
        }
    }
}

QTEST_MAIN(TestUnwatched)
#include "tst_unwatched.moc"
