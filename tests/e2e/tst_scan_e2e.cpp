#include "app/StartUp.h"
#include "platform/CompositeBrowserSource.h"
#include "sources/x11/X11BrowserSource.h"
#include "support/BrowserProcess.h"
#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/X11TestDisplay.h"
#include "ui/Form1.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {

bool lists(const QTreeWidget *list, const QString &text)
{
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        if (list->topLevelItem(r)->text(0) == text)
            return true;
    }
    return false;
}

} // namespace

// The program's own window, with its keyword file, scanning real browser windows.
class TestScanEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchingBrowserWindowIsClosedOthersStay();

private:
    std::unique_ptr<X11TestDisplay> m_keepDisplay;
};

void TestScanEndToEnd::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "this test needs an X display in $DISPLAY");
}

void TestScanEndToEnd::matchingBrowserWindowIsClosedOthersStay()
{
    if (!QFileInfo(BrowserProcess::kChromium).isExecutable())
        QSKIP("chromium is not installed");
    QTemporaryDir appFolder;
    QFile keywords(appFolder.filePath("mtrl.dll"));
    QVERIFY(keywords.open(QIODevice::WriteOnly));
    keywords.write("\"CaSiNo\"\r\n");
    keywords.close();

    CompositeBrowserSource source;
    source.addBackend(std::make_unique<X11BrowserSource>());
    RecordingSoundPlayer sound;
    ScriptedDialogs dialogs;
    RecordingOpener opener;
    Form1 form({source, sound, dialogs, opener, appFolder.path()});
    runStartUp(form);

    const QString spared = "Recettes de cuisine";
    const QString closed = "Le meilleur CASINO du web";
    BrowserProcess keep(BrowserProcess::kChromium,
                        BrowserProcess::chromiumArguments() << titledPage(spared.toUtf8()), {});
    QTRY_VERIFY_WITH_TIMEOUT(lists(form.ListView1, spared), 90000);
    BrowserProcess gambling(BrowserProcess::kChromium,
                            BrowserProcess::chromiumArguments() << titledPage(closed.toUtf8()), {});

    // The timer's own ticks find the window and close it; its process ends with it.
    QTRY_VERIFY_WITH_TIMEOUT(form.ListView4->topLevelItemCount() > 0, 90000);
    QTRY_VERIFY_WITH_TIMEOUT(!gambling.isRunning(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!lists(form.ListView1, closed), 10000);

    QVERIFY(keep.isRunning());
    QVERIFY(lists(form.ListView1, spared));
    const QTreeWidgetItem *entry = form.ListView4->topLevelItem(0);
    QCOMPARE(entry->text(1), QString("CaSiNo"));
    QVERIFY(!entry->text(0).isEmpty());
    const int closings = form.ListView4->topLevelItemCount();
    QCOMPARE(form.ListView2->topLevelItem(0)->text(1), QString("CaSiNo"));
    QCOMPARE(form.ListView2->topLevelItem(0)->text(0), QString::number(closings));
    QCOMPARE(form.sb->text(), QString("Fermeture: %1     (Total:%2)").arg(closed).arg(closings));
    QCOMPARE(sound.m_played.size(), closings);
}

QTEST_MAIN(TestScanEndToEnd)
#include "tst_scan_e2e.moc"
