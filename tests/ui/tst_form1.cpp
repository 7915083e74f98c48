#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"
#include "support/ScriptedDialogs.h"
#include "ui/FileListBox.h"
#include "ui/Form1.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

struct Control
{
    const char *name;
    const char *parent;
    const char *className;
    QString caption;
    int left, top, width, height;
};

// The control tree in design order, with rectangles in twips.
const QList<Control> kControls = {
    {"FramePlus1", "Form1", "QGroupBox", "Fenètres :", 120, 720, 7455, 2535},
    {"ListView1", "FramePlus1", "QTreeWidget", {}, 120, 360, 7215, 2055},
    {"VexlorCmd1", "Form1", "QPushButton", "&IE", 1320, 360, 975, 615},
    {"VexlorCmd2", "Form1", "QPushButton", "&Options", 2400, 360, 1215, 615},
    {"VexlorCmd3", "Form1", "QPushButton", "&Aide", 3720, 360, 1095, 615},
    {"VexlorCmd4", "Form1", "QPushButton", "A &Propos", 4920, 360, 1335, 615},
    {"VexlorCmd5", "Form1", "QPushButton", "&Quitter", 6360, 360, 1215, 615},
    {"Frame3", "Form1", "QGroupBox", "Configuration :", 120, 3840, 7455, 3735},
    {"FramePlus2", "Frame3", "QGroupBox", "Les Langues", 5760, 360, 1575, 2415},
    {"Check7", "FramePlus2", "QCheckBox", "Changer", 240, 360, 1095, 255},
    {"File1", "FramePlus2", "FileListBox", {}, 120, 720, 1335, 1200},
    {"ButtonPlus5", "FramePlus2", "QPushButton", "&OK", 360, 1980, 855, 345},
    {"Check4", "Frame3", "QCheckBox", "Lancer au systray", 360, 2160, 4935, 255},
    {"Check3", "Frame3", "QCheckBox", "Lancer au démarrage de Windows", 360, 1800, 5175, 255},
    {"Check2", "Frame3", "QCheckBox", "Activé Vexlor Popup", 360, 1080, 5175, 255},
    {"Check1", "Frame3", "QCheckBox", "Jouer un son a la fermeture", 360, 1440, 5175, 255},
    {"FramePlus5", "Frame3", "QGroupBox", "Chemin du son :", 120, 2640, 7215, 975},
    {"Text1", "FramePlus5", "QLineEdit", "Text1", 120, 480, 6135, 285},
    {"Command2", "FramePlus5", "QPushButton", "...", 6480, 480, 375, 255},
    {"Image1", "Frame3", "QLabel", {}, 360, 360, 480, 480},
    {"Label2", "Frame3", "QLabel", "Vexlor Popup Configuration", 1320, 480, 3975, 300},
    {"Label1", "Frame3", "QLabel", "Vexlor Popup Configuration", 1200, 510, 3405, 270},
    {"Frame2", "Form1", "QGroupBox", "Journal :", 120, 3840, 7455, 3735},
    {"ListView4", "Frame2", "QTreeWidget", {}, 120, 360, 7095, 2895},
    {"Command1", "Frame2", "QPushButton", "Relancer cette Url et Supprimer le mot clef", 2880, 3300,
     4335, 375},
    {"Frame1", "Form1", "QGroupBox", "Mots clés :", 120, 3840, 7455, 3735},
    {"ListView3", "Frame1", "QTreeWidget", {}, 120, 360, 7215, 2655},
    {"Command5", "Frame1", "QPushButton", "Ajouter", 1800, 3120, 1695, 495},
    {"Command7", "Frame1", "QPushButton", "Modifier", 3720, 3120, 1695, 495},
    {"Command8", "Frame1", "QPushButton", "Supprimer", 5640, 3120, 1695, 495},
    {"Frame4", "Form1", "QGroupBox", "Statistiques :", 120, 3840, 7455, 3735},
    {"ListView2", "Frame4", "QTreeWidget", {}, 120, 360, 7215, 3255},
    {"ButtonPlus3", "Form1", "QPushButton", "&Config", 4320, 3480, 1215, 615},
    {"ButtonPlus4", "Form1", "QPushButton", "&Stat", 5640, 3480, 1215, 615},
    {"VexlorCmd6", "Form1", "QPushButton", "", 6960, 3480, 495, 495},
    {"ButtonPlus2", "Form1", "QPushButton", "&Journal", 3000, 3480, 1215, 615},
    {"ButtonPlus1", "Form1", "QPushButton", "&Mots", 1800, 3480, 1095, 615},
};

QString captionOf(const QWidget *w)
{
    if (auto *box = qobject_cast<const QGroupBox *>(w))
        return box->title();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *edit = qobject_cast<const QLineEdit *>(w))
        return edit->text();
    return {};
}

QStringList headers(const QTreeWidget *list)
{
    QStringList texts;
    for (int c = 0; c < list->columnCount(); ++c)
        texts.append(list->headerItem()->text(c));
    return texts;
}

QList<int> widths(const QTreeWidget *list)
{
    QList<int> result;
    for (int c = 0; c < list->columnCount(); ++c)
        result.append(list->columnWidth(c));
    return result;
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void everyControlStandsInItsDesignPlace();
    void windowCaptionIconFontsAndDesignStates();
    void listsHaveTheirColumns();
    void trayMenuHasItsEightItemsWithPictures();
    void outsideTextShowsAsPlainCharacters();
    void panelButtonsShowOnePanel();
    void expandAndCollapseKeepTheWindowCentred();
    void timerScansTheSource();

private:
    ScriptedBrowserSource *m_source = nullptr;
    RecordingSoundPlayer *m_sound = nullptr;
    RecordingOpener m_opener;
    ScriptedDialogs *m_dialogs = nullptr;
    QTemporaryDir m_dir;
    Form1 *m_form = nullptr;
};

void TestForm1::init()
{
    m_source = new ScriptedBrowserSource;
    m_sound = new RecordingSoundPlayer;
    m_dialogs = new ScriptedDialogs;
    m_form = new Form1({*m_source, *m_sound, *m_dialogs, m_opener, m_dir.path()});
}

void TestForm1::cleanup()
{
    delete m_form;
    delete m_sound;
    delete m_dialogs;
    delete m_source;
}

void TestForm1::everyControlStandsInItsDesignPlace()
{
    for (const Control &c : kControls) {
        auto *w = m_form->findChild<QWidget *>(QLatin1String(c.name));
        QVERIFY2(w, c.name);
        QCOMPARE(w->parentWidget()->objectName(), QLatin1String(c.parent));
        QVERIFY2(w->inherits(c.className), c.name);
        if (!c.caption.isNull())
            QCOMPARE(captionOf(w), c.caption);
        QCOMPARE(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
    }
    // The window lists its controls in design order, the order language files follow.
    QStringList order;
    for (const QObject *control : m_form->controls())
        order.append(control->objectName());
    int previous = -1;
    for (const Control &c : kControls) {
        QVERIFY2(order.indexOf(QLatin1String(c.name)) > previous, c.name);
        previous = static_cast<int>(order.indexOf(QLatin1String(c.name)));
    }
    // The open-windows frame lies over the lower edge of the top bar, keeping the status text
    // in view.
    const QObjectList topLevel = m_form->children();
    QVERIFY(topLevel.indexOf(m_form->FramePlus1) > topLevel.indexOf(m_form->VexlorCmd5));
    QCOMPARE(m_form->sb->parentWidget(), m_form->FramePlus1);
    QCOMPARE(m_form->sb->pos(), QPoint(1200 / 15, 60 / 15));
    QCOMPARE(m_form->VexlorCmd6->toolTip(), QString("Fermer les options"));
    QCOMPARE(m_form->File1->toolTip(), QString("You can translate the lang files to others "
                                               "languages and send it to the author."));
    QCOMPARE(m_form->File1->pattern(), QString("*.lng"));
    QVERIFY(m_form->findChild<QObject *>("CommonDialog1"));
    QVERIFY(m_form->findChild<QObject *>("ctxHookMenu1"));
    QCOMPARE(m_form->size(), QSize(7680 / 15, 7665 / 15));
}

void TestForm1::windowCaptionIconFontsAndDesignStates()
{
    QCOMPARE(m_form->windowTitle(), QString(" Vexlor Popup  2007  - Protection totale"));
    QVERIFY(m_form->windowIcon().availableSizes().contains(QSize(32, 32)));
    // The pictures are really drawn: the window icon has opaque pixels of several colours.
    const QImage icon = m_form->windowIcon().pixmap(32, 32).toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            if (qAlpha(icon.pixel(x, y)) == 255)
                colours.insert(icon.pixel(x, y));
    QVERIFY(colours.size() >= 3);
    QCOMPARE(m_form->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(!m_form->VexlorCmd2->icon().isNull());
    QCOMPARE(m_form->Image1->pixmap().size(), QSize(32, 32));

    QCOMPARE(m_form->Check1->font().pointSizeF(), 9.75);
    QCOMPARE(m_form->Check7->font().pointSizeF(), 8.25);
    QCOMPARE(m_form->VexlorCmd1->font().pointSizeF(), 8.25);
    QCOMPARE(m_form->Label2->font().pointSizeF(), 12.75);
    QVERIFY(m_form->Label2->font().bold());
    QCOMPARE(m_form->Label1->font().pointSizeF(), 12.0);
    QVERIFY(m_form->Check1->font().families().startsWith("Verdana"));
    QVERIFY(m_form->FramePlus1->font().families().startsWith("MS Sans Serif"));
    QVERIFY(m_form->contex->font().families().startsWith("Tahoma"));

    QCOMPARE(m_form->Check1->checkState(), Qt::Checked);
    QCOMPARE(m_form->Check2->checkState(), Qt::Checked);
    QCOMPARE(m_form->Check3->checkState(), Qt::Unchecked);
    QCOMPARE(m_form->Check4->checkState(), Qt::Unchecked);
    for (QGroupBox *panel : {m_form->Frame1, m_form->Frame2, m_form->Frame3, m_form->Frame4})
        QVERIFY(panel->isVisibleTo(m_form));
}

void TestForm1::listsHaveTheirColumns()
{
    QCOMPARE(headers(m_form->ListView1), (QStringList{"Nom de la page", "Url"}));
    QCOMPARE(widths(m_form->ListView1), (QList<int>{qRound(3507.5 / 15), qRound(3607.5 / 15)}));
    QCOMPARE(headers(m_form->ListView2), (QStringList{"Fermer", "Mot clef"}));
    QCOMPARE(widths(m_form->ListView2), (QList<int>{100, 5615 / 15}));
    QCOMPARE(headers(m_form->ListView3), QStringList{"Filtre"});
    QCOMPARE(widths(m_form->ListView3), QList<int>{7115 / 15});
    QVERIFY(m_form->ListView3->isHeaderHidden());
    QCOMPARE(headers(m_form->ListView4), (QStringList{"Heure", "Mots clefs", "Url"}));
    QCOMPARE(widths(m_form->ListView4),
             (QList<int>{qRound(1000 / 15.0), qRound(2000 / 15.0), qRound(3995 / 15.0)}));
    for (QTreeWidget *list : {m_form->ListView1, m_form->ListView3, m_form->ListView4})
        QVERIFY(list->allColumnsShowFocus());
    QVERIFY(!m_form->ListView2->allColumnsShowFocus());
    for (QTreeWidget *list :
         {m_form->ListView1, m_form->ListView2, m_form->ListView3, m_form->ListView4}) {
        QVERIFY(!list->rootIsDecorated());
        QCOMPARE(list->topLevelItemCount(), 0);
    }
}

void TestForm1::trayMenuHasItsEightItemsWithPictures()
{
    QCOMPARE(m_form->contex->objectName(), QString("contex"));
    QCOMPARE(m_form->contex->title(), QString("Contex"));
    const QList<QAction *> actions = m_form->contex->actions();
    const QStringList names = {"affich", "kj", "cle", "journal", "option", "stat", "jk", "quit"};
    const QStringList captions = {"V&exlor Popup", "", "&Mots Cléfs", "Journal", "Options",
                                  "&Statistiques", "", "Quitter"};
    QCOMPARE(actions.size(), 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(actions[i]->objectName(), names[i]);
        QCOMPARE(actions[i]->isSeparator(), captions[i].isEmpty());
        QCOMPARE(actions[i]->text(), captions[i]);
        QCOMPARE(!actions[i]->icon().isNull(), !captions[i].isEmpty());
    }
    QCOMPARE(m_form->quit, actions[7]);
}

void TestForm1::outsideTextShowsAsPlainCharacters()
{
    m_form->ListView3->addTopLevelItem(new QTreeWidgetItem(QStringList{"img"}));
    const QString hostile = "<img src=\"file:///etc/passwd\"><b>gras</b> & <a href=x>lien</a>";
    m_source->addPage(hostile, "http://img.example/", "w");
    m_form->scan().tick();
    QCOMPARE(m_form->sb->textFormat(), Qt::PlainText);
    QCOMPARE(m_form->sb->text(), "Fermeture: " + hostile + "     (Total:1)");
    // A plain-text label lays its text out character for character: as wide as the markup.
    QLabel rich(m_form->sb->text());
    rich.setTextFormat(Qt::RichText);
    QVERIFY(m_form->sb->sizeHint().width() > rich.sizeHint().width());
    for (QLabel *label : m_form->findChildren<QLabel *>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
}

void TestForm1::panelButtonsShowOnePanel()
{
    QList<QPushButton *> buttons = {m_form->ButtonPlus1, m_form->ButtonPlus2, m_form->ButtonPlus3,
                                    m_form->ButtonPlus4};
    QList<QGroupBox *> panels = {m_form->Frame1, m_form->Frame2, m_form->Frame3, m_form->Frame4};
    for (int n = 0; n < 4; ++n) {
        const int height = m_form->heightTwips();
        for (int repeat = 0; repeat < 2; ++repeat) {
            buttons[n]->click();
            for (int p = 0; p < 4; ++p)
                QCOMPARE(panels[p]->isVisibleTo(m_form), p == n);
        }
        QCOMPARE(m_form->heightTwips(), height);
    }
}

void TestForm1::expandAndCollapseKeepTheWindowCentred()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const auto expectTopLeft = [&](int height) {
        QCOMPARE(m_form->pos().y(), qRound((screen.height() * 15 / 2.0f - height / 2.0f) / 15));
        QCOMPARE(m_form->pos().x(),
                 qRound((screen.width() * 15 / 2.0f - m_form->widthTwips() / 2.0f) / 15));
    };
    m_form->ButtonPlus2->click();
    m_form->VexlorCmd2->click();
    QCOMPARE(m_form->heightTwips(), 8145);
    QCOMPARE(m_form->height(), (8145 - 480) / 15);
    expectTopLeft(8145);
    QVERIFY(m_form->Frame1->isVisibleTo(m_form));
    QVERIFY(!m_form->Frame2->isVisibleTo(m_form));

    m_form->ButtonPlus2->click();
    m_form->VexlorCmd6->click();
    QCOMPARE(m_form->heightTwips(), 3810);
    expectTopLeft(3810);
    QVERIFY(m_form->Frame2->isVisibleTo(m_form));
    m_form->VexlorCmd2->click();
    QVERIFY(m_form->Frame1->isVisibleTo(m_form));
    QVERIFY(!m_form->Frame2->isVisibleTo(m_form));
}

void TestForm1::timerScansTheSource()
{
    QCOMPARE(m_form->Timer1->objectName(), QString("Timer1"));
    QCOMPARE(m_form->Timer1->interval(), 500);
    QVERIFY(m_form->Timer1->isActive());
    m_source->addPage("Listed by the timer", "", "w");
    QTRY_COMPARE_WITH_TIMEOUT(m_form->ListView1->topLevelItemCount(), 1, 5000);
    QCOMPARE(m_form->ListView1->topLevelItem(0)->text(0), QString("Listed by the timer"));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
