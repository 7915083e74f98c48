#include "desktop/QtDialogs.h"
#include "platform/Limits.h"
#include "support/ListRows.h"
#include "support/TestWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <optional>

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void topButtonsTakeClicksOverTheirWholeFaceAndStatusStaysInView();
    void keywordListSelectsOneRowAtATime();
    void keywordButtonsChangeTheListOrSayWhyNot_data();
    void keywordButtonsChangeTheListOrSayWhyNot();
    void reportedPagesAreMatchedOnlyWhileTheFilterRuns();
    void modifyDialogShowsTheKeywordAsPlainText();
    void reopenOpensOnlyWebAddresses_data();
    void reopenOpensOnlyWebAddresses();

private:
    std::unique_ptr<TestWindow> m_window;
    Form1 *m_form = nullptr;
};

void TestForm1::init()
{
    m_window = std::make_unique<TestWindow>();
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

void TestForm1::keywordListSelectsOneRowAtATime()
{
    setRows(m_form->ListView3, {{"a"}, {"b"}, {"c"}});
    m_form->VexlorCmd2->click();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QWidget *rows = m_form->ListView3->viewport();
    const auto rowCentre = [this](int row) {
        return m_form->ListView3->visualItemRect(m_form->ListView3->topLevelItem(row)).center();
    };
    QTest::mouseClick(rows, Qt::LeftButton, {}, rowCentre(2));
    QTest::mouseClick(rows, Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    QCOMPARE(m_form->ListView3->selectedItems(), {m_form->ListView3->topLevelItem(1)});
}

void TestForm1::keywordButtonsChangeTheListOrSayWhyNot_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("full");
    QTest::addColumn<std::optional<QString>>("answer"); // nothing plays Cancel
    QTest::addColumn<QStringList>("keywords");          // the last rows afterwards
    QTest::addColumn<int>("warnings");
    const QStringList kept{"a", "b"};
    QTest::newRow("add appends") << "Command5" << false << std::optional<QString>("pub")
                                 << QStringList{"a", "b", "pub"} << 0;
    QTest::newRow("add, no statistics folder: said, keyword kept")
        << "Command5" << false << std::optional<QString>("pub") << QStringList{"a", "b", "pub"}
        << 1;
    QTest::newRow("add cancelled") << "Command5" << false << std::optional<QString>() << kept << 0;
    QTest::newRow("add with a quote")
        << "Command5" << false << std::optional<QString>("a\"b") << kept << 1;
    QTest::newRow("add to a full list")
        << "Command5" << true << std::optional<QString>("pub") << kept << 1;
    QTest::newRow("modify renames the selected row")
        << "Command7" << false << std::optional<QString>("c") << QStringList{"a", "c"} << 0;
    QTest::newRow("modify to nothing")
        << "Command7" << false << std::optional<QString>("") << kept << 0;
    QTest::newRow("modify with a line break")
        << "Command7" << false << std::optional<QString>("c\nd") << kept << 1;
    QTest::newRow("delete removes the selected row")
        << "Command8" << false << std::optional<QString>() << QStringList{"a"} << 0;
}

void TestForm1::keywordButtonsChangeTheListOrSayWhyNot()
{
    QFETCH(QString, button);
    QFETCH(bool, full);
    QFETCH(std::optional<QString>, answer);
    QFETCH(QStringList, keywords);
    QFETCH(int, warnings);
    QList<QStringList> rows(full ? kMaxRows - 2 : 0, QStringList{"x"});
    rows.append({QStringList{"a"}, QStringList{"b"}});
    setRows(m_form->ListView3, rows);
    if (!QByteArray(QTest::currentDataTag()).contains("no statistics"))
        QDir(m_window->appFolder()).mkdir("stat");
    m_form->ListView3->setCurrentItem(m_form->ListView3->topLevelItem(rows.size() - 1));
    if (button != "Command8")
        m_window->dialogs.answer(answer);
    m_form->findChild<QPushButton *>(button)->click();
    const QStringList after = column(m_form->ListView3, 0);
    QCOMPARE(after.mid(rows.size() - 2), keywords);
    QCOMPARE(after.size(), rows.size() - 2 + keywords.size());
    QCOMPARE(m_window->dialogs.m_shown.size() - (button == "Command8" ? 0 : 1), warnings);
    const bool added = keywords.contains("pub") && warnings == 0;
    QCOMPARE(column(m_form->ListView2, 1), added ? QStringList{"pub"} : QStringList());
}

void TestForm1::reportedPagesAreMatchedOnlyWhileTheFilterRuns()
{
    setRows(m_form->ListView3, {{"pub"}});
    m_window->source.addPage("Pub", "", "w1");
    m_form->Check2->click();
    QVERIFY(!m_form->Timer1->isActive());
    m_window->source.report();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(m_window->source.m_closed.size(), 0);
    m_form->Check2->click();
    m_window->source.report();
    QTRY_COMPARE(m_window->source.m_closed, QList<QByteArray>{"w1"});
    QCOMPARE(m_form->ListView4->topLevelItemCount(), 1);
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
    QTest::newRow("empty") << "" << false;
}

void TestForm1::reopenOpensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);
    setRows(m_form->ListView3, {{"pub"}});
    setRows(m_form->ListView4, {{"10:00:01", "Pub", address}});
    m_form->ListView4->setCurrentItem(m_form->ListView4->topLevelItem(0));
    m_form->Command1->click();
    QCOMPARE(m_form->ListView3->topLevelItemCount() + m_form->ListView4->topLevelItemCount(), 0);
    QCOMPARE(m_window->opener.m_opened, opened ? QStringList{address} : QStringList());
    QCOMPARE(m_window->dialogs.m_shown.size(), opened || address.isEmpty() ? 0 : 1);
    if (!m_window->dialogs.m_shown.isEmpty())
        QVERIFY(m_window->dialogs.m_shown.last().text.endsWith('\r' + address));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
