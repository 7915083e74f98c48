#include "settings/Ini.h"
#include "support/TestFiles.h"
#include "support/TestWindow.h"
#include "ui/CommonDialog.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstStartWritesNoOption();
    void check1GreysTheSoundControls();
    void check2StopsAndResumesTheScan();
    void check4OnlyWritesItsKey();
    void storedStatesAreLoadedWithTheirEffects_data();
    void storedStatesAreLoadedWithTheirEffects();
    void greyedStateShowsPartlyTickedAndClicksGiveOnlyZeroOrOne();
    void soundPathIsLoadedOrDefaulted_data();
    void soundPathIsLoadedOrDefaulted();
    void choosingASoundFileWritesItAtOnce();
    void cancelBeforeAnyChoiceChangesNothing();
    void cancelAfterAnEarlierChoicePutsItBack();
    void optionsAreAsLeftAfterARestart();

private:
    QString config() const { return m_window->path("config.ini"); }
    QString stored(const QString &key) const
    {
        return ReadIniFrom(config(), "Config", key, "<none>");
    }

    std::unique_ptr<TestWindow> m_window;
};

void TestOptions::init()
{
    m_window = std::make_unique<TestWindow>();
}

void TestOptions::cleanup()
{
    QVERIFY(m_window->dialogs.allAnswered());
    m_window.reset();
}

void TestOptions::firstStartWritesNoOption()
{
    Form1 &form = m_window->start();
    QCOMPARE(form.Check1->checkState(), Qt::Checked);
    QCOMPARE(form.Check2->checkState(), Qt::Checked);
    QCOMPARE(form.Check3->checkState(), Qt::Unchecked);
    QCOMPARE(form.Check4->checkState(), Qt::Unchecked);
    QVERIFY(form.Timer1->isActive());
    QVERIFY(form.Text1->isEnabled());
    QCOMPARE(form.Text1->text(), m_window->path("sound.wav"));
    QVERIFY(!QFile::exists(config()));
}

void TestOptions::check1GreysTheSoundControls()
{
    Form1 &form = m_window->start();
    form.Check1->click();
    QCOMPARE(form.Check1->checkState(), Qt::Unchecked);
    QVERIFY(!form.FramePlus5->isEnabled());
    QVERIFY(!form.Text1->isEnabled());
    QVERIFY(!form.Command2->isEnabled());
    QCOMPARE(readBytes(config()), QByteArray("[Config]\nCheck1=0\n"));
    form.Check1->click();
    QVERIFY(form.FramePlus5->isEnabled());
    QVERIFY(form.Text1->isEnabled());
    QVERIFY(form.Command2->isEnabled());
    QCOMPARE(readBytes(config()), QByteArray("[Config]\nCheck1=1\n"));
}

void TestOptions::check2StopsAndResumesTheScan()
{
    Form1 &form = m_window->start();
    form.Check2->click();
    QVERIFY(!form.Timer1->isActive());
    QCOMPARE(stored("Check2"), QString("0"));
    const int walks = m_window->source.m_walks;
    form.Check2->click();
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(stored("Check2"), QString("1"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->source.m_walks > walks, 5000);
}

void TestOptions::check4OnlyWritesItsKey()
{
    Form1 &form = m_window->start();
    form.Check4->click();
    QCOMPARE(readBytes(config()), QByteArray("[Config]\nCheck4=1\n"));
    QVERIFY(form.Timer1->isActive());
    QVERIFY(form.Text1->isEnabled());
    form.Check4->click();
    QCOMPARE(readBytes(config()), QByteArray("[Config]\nCheck4=0\n"));
}

void TestOptions::storedStatesAreLoadedWithTheirEffects_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("check1");
    QTest::addColumn<int>("check2");
    QTest::addColumn<bool>("soundControls");
    QTest::addColumn<bool>("timer");
    QTest::addColumn<QByteArray>("after"); // the file after start-up

    const QByteArray unchanged;
    QTest::newRow("stored 0 runs the clicks")
        << QByteArray("[Config]\nCheck1=0\nCheck2=0\n") << 0 << 0 << false << false << unchanged;
    QTest::newRow("keys in another case")
        << QByteArray("[config]\r\ncheck2 = 0\r\n") << 1 << 0 << true << false
        << QByteArray("[config]\r\ncheck2=0\r\n");
    QTest::newRow("built-in states write nothing")
        << QByteArray("[Config]\nCheck1= 1\nCheck2=1 \n") << 1 << 1 << true << true << unchanged;
    QTest::newRow("not a number") << QByteArray("[Config]\nCheck1=oui\nCheck2=\n") << 1 << 1 << true
                                  << true << unchanged;
    QTest::newRow("outside 0 to 2")
        << QByteArray("[Config]\nCheck1=3\nCheck2=-1\n") << 1 << 1 << true << true << unchanged;
    QTest::newRow("beyond 16 bits")
        << QByteArray("[Config]\nCheck1=65536\n") << 1 << 1 << true << true << unchanged;
    QTest::newRow("greyed") << QByteArray("[Config]\nCheck1=2\nCheck2=2\n") << 2 << 2 << true
                            << true << unchanged;
}

void TestOptions::storedStatesAreLoadedWithTheirEffects()
{
    QFETCH(QByteArray, file);
    QFETCH(int, check1);
    QFETCH(int, check2);
    QFETCH(bool, soundControls);
    QFETCH(bool, timer);
    QFETCH(QByteArray, after);
    const Qt::CheckState qtState[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};

    writeBytes(config(), file);
    Form1 &form = m_window->start();
    QCOMPARE(form.Check1->checkState(), qtState[check1]);
    QCOMPARE(form.Check2->checkState(), qtState[check2]);
    QCOMPARE(form.Text1->isEnabled(), soundControls);
    QCOMPARE(form.Command2->isEnabled(), soundControls);
    QCOMPARE(form.FramePlus5->isEnabled(), soundControls);
    QCOMPARE(form.Timer1->isActive(), timer);
    QCOMPARE(readBytes(config()), after.isNull() ? file : after);
}

void TestOptions::greyedStateShowsPartlyTickedAndClicksGiveOnlyZeroOrOne()
{
    writeBytes(config(), "[Config]\nCheck4=2\n");
    Form1 &form = m_window->start();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.Check4->checkState(), Qt::PartiallyChecked);
    QCOMPARE(stored("Check4"), QString("2")); // written back by the click behaviour
    form.Check4->click();
    QCOMPARE(form.Check4->checkState(), Qt::Checked);
    QCOMPARE(stored("Check4"), QString("1"));
    for (const char *expected : {"0", "1", "0", "1"}) {
        form.Check4->click();
        QCOMPARE(stored("Check4"), QString(expected));
        QVERIFY(form.Check4->checkState() != Qt::PartiallyChecked);
    }
    // The mouse gives the same, on the configuration panel in view.
    form.VexlorCmd2->click();
    form.ButtonPlus3->click();
    QTest::mouseClick(form.Check4, Qt::LeftButton, {}, QPoint(8, form.Check4->height() / 2));
    QCOMPARE(stored("Check4"), QString("0"));
    QTest::mouseClick(form.Check4, Qt::LeftButton, {}, QPoint(8, form.Check4->height() / 2));
    QCOMPARE(stored("Check4"), QString("1"));
}

void TestOptions::soundPathIsLoadedOrDefaulted_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected"); // relative to the program folder when it starts "@"
    QTest::newRow("no file") << QByteArray() << QString("@sound.wav");
    QTest::newRow("empty value") << QByteArray("[Config]\nText1=\n") << QString("@sound.wav");
    QTest::newRow("stored path") << QByteArray("[Config]\nText1=/home/léa/bip.wav\n")
                                 << QString("/home/léa/bip.wav");
    QTest::newRow("cut to 254") << QByteArray("[Config]\nText1=/") + QByteArray(300, 'a')
                                << QString("/") + QString(253, u'a');
}

void TestOptions::soundPathIsLoadedOrDefaulted()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    if (!file.isNull())
        writeBytes(config(), file);
    Form1 &form = m_window->start();
    if (expected.startsWith(u'@'))
        expected = m_window->path(expected.mid(1));
    QCOMPARE(form.Text1->text(), expected);
}

void TestOptions::choosingASoundFileWritesItAtOnce()
{
    Form1 &form = m_window->start();
    m_window->dialogs.answer(QString("/home/léa/sons/alarme.wav"));
    form.Command2->click();
    QCOMPARE(m_window->dialogs.m_shown.size(), 1);
    QCOMPARE(m_window->dialogs.m_shown[0].kind, QString("open"));
    QCOMPARE(m_window->dialogs.m_shown[0].text, QString("Fichier son Wav|*.wav"));
    QCOMPARE(m_window->dialogs.m_openFileNames, QStringList{QString()});
    QCOMPARE(form.CommonDialog1->Filter, QString("Fichier son Wav|*.wav"));
    QCOMPARE(form.Text1->text(), QString("/home/léa/sons/alarme.wav"));
    QCOMPARE(stored("Text1"), QString("/home/léa/sons/alarme.wav"));

    // A path typed by hand is not written at once.
    form.Text1->setText("/tmp/tapé.wav");
    QCOMPARE(stored("Text1"), QString("/home/léa/sons/alarme.wav"));
}

void TestOptions::cancelBeforeAnyChoiceChangesNothing()
{
    Form1 &form = m_window->start();
    form.Text1->setText("/tmp/typed.wav");
    m_window->dialogs.answer(std::nullopt);
    form.Command2->click();
    QCOMPARE(form.Text1->text(), QString("/tmp/typed.wav"));
    QVERIFY(!QFile::exists(config()));
}

void TestOptions::cancelAfterAnEarlierChoicePutsItBack()
{
    Form1 &form = m_window->start();
    m_window->dialogs.answer(QString("/sons/premier.wav"));
    form.Command2->click();
    form.Text1->setText("/tmp/typed.wav");
    WriteIniTo(config(), "Config", "Text1", "/somewhere/else.wav");
    m_window->dialogs.answer(std::nullopt);
    form.Command2->click();
    // The dialog opens on the earlier choice and, cancelled, still holds it.
    QCOMPARE(m_window->dialogs.m_openFileNames,
             (QStringList{QString(), QString("/sons/premier.wav")}));
    QCOMPARE(form.Text1->text(), QString("/sons/premier.wav"));
    QCOMPARE(stored("Text1"), QString("/sons/premier.wav"));
}

void TestOptions::optionsAreAsLeftAfterARestart()
{
    Form1 &first = m_window->start();
    m_window->dialogs.answer(QString("/sons/choisi.wav"));
    first.Command2->click();
    first.Check1->click();
    first.Check2->click();
    first.Check4->click();

    Form1 &second = m_window->start();
    QCOMPARE(second.Check1->checkState(), Qt::Unchecked);
    QVERIFY(!second.Text1->isEnabled());
    QCOMPARE(second.Check2->checkState(), Qt::Unchecked);
    QVERIFY(!second.Timer1->isActive());
    QCOMPARE(second.Check4->checkState(), Qt::Checked);
    QCOMPARE(second.Text1->text(), QString("/sons/choisi.wav"));
    // The remembered file name of the dialog lives only as long as the run.
    QCOMPARE(second.CommonDialog1->FileName, QString());
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
