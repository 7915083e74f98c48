#include "desktop/QtDialogs.h"
#include "support/ListRows.h"
#include "support/TestWindow.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void topButtonsTakeClicksOverTheirWholeFaceAndStatusStaysInView();
    void refusedAnswerChangesNothing_data();
    void refusedAnswerChangesNothing();
    void keywordListSelectsOneRowForModifyAndDelete();
    void modifyDialogShowsTheKeywordAsPlainText();
    void reopenOpensOnlyWebAddresses_data();
    void reopenOpensOnlyWebAddresses();

private:
    std::unique_ptr<TestWindow> m_window;
    Form1 *m_form = nullptr;
    QList<ScriptedDialogs::Shown> &shown() { return m_window->dialogs.m_shown; }
};

void TestForm1::init()
{
    m_window = std::make_unique<TestWindow>();
    QVERIFY(QDir(m_window->appFolder()).mkdir("stat"));
    m_form = &m_window->start(false);
}

void TestForm1::cleanup()
{
    QVERIFY(m_window->dialogs.allAnswered());
    m_window.reset();
}

void TestForm1::topButtonsTakeClicksOverTheirWholeFaceAndStatusStaysInView()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    const QRect status(m_form->sb->mapTo(m_form, QPoint()), m_form->sb->size());
    for (const QPoint &p : {status.topLeft(), status.center(), status.bottomRight()})
        QCOMPARE(m_form->childAt(p), m_form->sb);
    // The last one sends the window away.
    for (QPushButton *button : {m_form->VexlorCmd1, m_form->VexlorCmd2, m_form->VexlorCmd3,
                                m_form->VexlorCmd4, m_form->VexlorCmd5}) {
        const QPoint nearBottom = button->geometry().bottomLeft() + QPoint(button->width() / 2, -2);
        QWidget *hit = m_form->childAt(nearBottom);
        QCOMPARE(hit, button);
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(m_form, nearBottom));
        QCOMPARE(clicked.count(), 1);
    }
}

void TestForm1::refusedAnswerChangesNothing_data()
{
    QTest::addColumn<bool>("modify");
    QTest::addColumn<QString>("answer"); // a null text plays Cancel
    QTest::addColumn<bool>("warned");
    QTest::newRow("add cancelled") << false << QString() << false;
    QTest::newRow("modify to empty") << true << QString("") << false;
    QTest::newRow("add a quote") << false << QString("say \"hi\"") << true;
    QTest::newRow("modify to two lines") << true << QString("a\nb") << true;
}

void TestForm1::refusedAnswerChangesNothing()
{
    QFETCH(bool, modify);
    QFETCH(QString, answer);
    QFETCH(bool, warned);
    setRows(m_form->ListView3, {{"pub"}});
    m_form->ListView3->setCurrentItem(m_form->ListView3->topLevelItem(0));
    m_window->dialogs.answer(answer.isNull() ? std::nullopt : std::optional(answer));
    (modify ? m_form->Command7 : m_form->Command5)->click();
    QCOMPARE(column(m_form->ListView3, 0), QStringList{"pub"});
    QCOMPARE(m_form->ListView2->topLevelItemCount(), 0);
    QVERIFY(!QFile::exists(m_window->path("stat/stat.txt")));
    QCOMPARE(shown().size(), warned ? 2 : 1);
    QCOMPARE(shown().last().text.contains("guillemet"), warned);
}

void TestForm1::keywordListSelectsOneRowForModifyAndDelete()
{
    setRows(m_form->ListView3, {{"a"}, {"b"}, {"c"}, {"d"}});
    setRows(m_form->ListView2, {{"3", "b"}});
    m_form->VexlorCmd2->click();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QWidget *rows = m_form->ListView3->viewport();
    const auto rowCentre = [this](int row) {
        return m_form->ListView3->visualItemRect(m_form->ListView3->topLevelItem(row)).center();
    };
    QTest::mouseClick(rows, Qt::LeftButton, {}, rowCentre(3));
    QTest::mouseClick(rows, Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    QCOMPARE(m_form->ListView3->selectedItems(), {m_form->ListView3->topLevelItem(1)});

    m_window->dialogs.answer("B2");
    m_form->Command7->click();
    QCOMPARE(shown().last().text, QString("Modification de b"));
    // The old keyword's statistics row stays as it was; none is made for the new one.
    QCOMPARE(column(m_form->ListView2, 1), QStringList{"b"});
    m_form->ListView3->setCurrentItem(m_form->ListView3->topLevelItem(2));
    m_form->Command8->click();
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"a", "B2", "d"}));
}

void TestForm1::modifyDialogShowsTheKeywordAsPlainText()
{
    QtDialogs dialogs;
    Form1 form(
        {m_window->source, m_window->sound, dialogs, m_window->opener, m_window->appFolder()});
    dialogs.setParent(&form);
    const QString keyword = "<b>x</b><img src=\"file:///etc/passwd\">";
    setRows(form.ListView3, {{keyword}});
    form.ListView3->setCurrentItem(form.ListView3->topLevelItem(0));
    QStringList plainLabels;
    QTimer::singleShot(0, &form, [&plainLabels] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            if (label->textFormat() == Qt::PlainText)
                plainLabels.append(label->text());
        dialog->reject();
    });
    form.Command7->click();
    QCOMPARE(plainLabels, QStringList{"Modification de " + keyword});
}

void TestForm1::reopenOpensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("opened"); // else shown to the user, unless empty
    QTest::newRow("HTTP with shell characters") << "HTTP://x.example/a b;rm -rf ~ \"q\"" << true;
    QTest::newRow("local file") << "file:///etc/passwd" << false;
    QTest::newRow("custom handler") << "steam://run/1" << false;
    QTest::newRow("no scheme") << "www.example.org" << false;
    QTest::newRow("empty") << "" << false;
}

void TestForm1::reopenOpensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);
    setRows(m_form->ListView3, {{"pubs"}, {"pub"}, {"PUB"}});
    setRows(m_form->ListView2, {{"4", "pub"}});
    setRows(m_form->ListView4, {{"10:00:00", "ads", "http://ads.example/"},
                                {"10:00:01", "Pub", address},
                                {"10:00:02", "pub", "http://second.example/"}});
    m_form->Command1->click();
    QCOMPARE(m_form->ListView4->topLevelItemCount(), 3); // nothing selected, nothing done
    m_form->ListView4->setCurrentItem(m_form->ListView4->topLevelItem(1));
    m_form->Command1->click();
    // The first keyword equal as a whole, ignoring case, goes; its statistics stay.
    QCOMPARE(column(m_form->ListView3, 0), (QStringList{"pubs", "PUB"}));
    QCOMPARE(column(m_form->ListView2, 0), QStringList{"4"});
    QCOMPARE(column(m_form->ListView4, 2),
             (QStringList{"http://ads.example/", "http://second.example/"}));
    QCOMPARE(m_window->opener.m_opened, opened ? QStringList{address} : QStringList());
    QCOMPARE(shown().size(), opened || address.isEmpty() ? 0 : 1);
    if (!shown().isEmpty())
        QVERIFY(shown().last().text.endsWith('\r' + address));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
