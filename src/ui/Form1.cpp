#include "ui/Form1.h"

#include "ui/CommonDialog.h"
#include "ui/FileListBox.h"
#include "ui/Fonts.h"
#include "ui/ListColumns.h"
#include "ui/MenuDecoration.h"
#include "ui/PanelCommands.h"
#include "ui/Pictures.h"
#include "ui/Twips.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

const QString Form1::kCaption = QStringLiteral(" Vexlor Popup  2007  - Protection totale");

namespace {

template <typename Control>
Control *place(Control *control, const char *name, int left, int top, int width, int height)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(Twips::rect(left, top, width, height));
    return control;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, int left, int top,
                 int width, int height)
{
    auto *box = place(new QGroupBox(caption, parent), name, left, top, width, height);
    box->setFont(Fonts::verdana(8.25));
    return box;
}

QPushButton *pictureButton(QWidget *parent, const char *name, const QString &caption,
                           const QString &picture, int left, int top, int width, int height)
{
    auto *button = place(new QPushButton(caption, parent), name, left, top, width, height);
    button->setFont(Fonts::verdana(8.25));
    button->setIcon(Pictures::icon(picture));
    const int side = qBound(12, Twips::toPixels(height) - 12, 24);
    button->setIconSize(QSize(side, side));
    return button;
}

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &caption, double pointSize,
                    int left, int top, int width, int height)
{
    auto *box = place(new QCheckBox(caption, parent), name, left, top, width, height);
    box->setFont(Fonts::verdana(pointSize));
    return box;
}

QTreeWidget *list(QWidget *parent, const char *name, int left, int top, int width, int height)
{
    auto *view = place(new QTreeWidget(parent), name, left, top, width, height);
    view->setFont(Fonts::verdana(8.25));
    return view;
}

// Text that comes from web pages or files must never be read as markup.
QLabel *plainLabel(QWidget *parent, const char *name, const QString &text, int left, int top,
                   int width, int height)
{
    auto *label = place(new QLabel(text, parent), name, left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

Form1::Form1(const Form1Services &services, QWidget *parent) : QWidget(parent), m_services(services)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    setWindowIcon(Pictures::icon(QStringLiteral("app")));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    resize(Twips::toPixels(7680), Twips::toPixels(7665));

    // The top bar lies over the upper edge of the open-windows frame: its buttons take clicks
    // over their whole face.
    buildTopBar();
    buildConfigurationPanel();
    buildListPanels();
    buildPanelButtons();
    buildTrayMenu();
    ListColumns::create(ListView1, ListView2, ListView3, ListView4);

    m_scan = std::make_unique<ScanCycle>(
        ScanControls{ListView1, ListView2, ListView3, ListView4, sb, Check1, Text1},
        services.source, services.sound);
    connect(Timer1, &QTimer::timeout, this, [this] { m_scan->tick(); });
    // Pages a source reports are matched once the event that brought them is done with, so
    // that the close request never comes back into the source while it reads; and only while
    // the filter runs, as the tick.
    services.source.setPagesReported([this](const QList<BrowserPage> &pages) {
        QMetaObject::invokeMethod(
            this,
            [this, pages] {
                if (Timer1->isActive() && !QuittingFlag)
                    m_scan->pagesReported(pages);
            },
            Qt::QueuedConnection);
    });
    connectPanelCommands();
    connectCommands();
    connectOptions();
    Timer1->start();
}

Form1::~Form1()
{
    m_services.source.setPagesReported({});
}

void Form1::buildTopBar()
{
    FramePlus1 = frame(this, "FramePlus1", QStringLiteral("Fenètres :"), 120, 720, 7455, 2535);
    FramePlus1->setFont(Fonts::msSansSerif(8.25));
    // The status text sits between the top bar, which covers the frame down to 255 twips, and
    // the list, which starts a line lower than designed to make room for it. It is longer than
    // the label's design width of 60 twips: the label reaches to the right edge of its frame.
    ListView1 = list(FramePlus1, "ListView1", 120, 450, 7215, 2055 - 90);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    sb = plainLabel(FramePlus1, "sb", QString(), 1200, 255, 7455 - 1200 - 120, 195);
    VexlorCmd1 = pictureButton(this, "VexlorCmd1", QStringLiteral("&IE"), QStringLiteral("web"),
                               1320, 360, 975, 615);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    VexlorCmd2 = pictureButton(this, "VexlorCmd2", QStringLiteral("&Options"),
                               QStringLiteral("options"), 2400, 360, 1215, 615);
    VexlorCmd3 = pictureButton(this, "VexlorCmd3", QStringLiteral("&Aide"), QStringLiteral("help"),
                               3720, 360, 1095, 615);
    VexlorCmd4 = pictureButton(this, "VexlorCmd4", QStringLiteral("A &Propos"),
                               QStringLiteral("about"), 4920, 360, 1335, 615);
    VexlorCmd5 = pictureButton(this, "VexlorCmd5", QStringLiteral("&Quitter"),
                               QStringLiteral("quit"), 6360, 360, 1215, 615);
}

void Form1::buildConfigurationPanel()
{
    Frame3 = frame(this, "Frame3", QStringLiteral("Configuration :"), 120, 3840, 7455, 3735);
    FramePlus2 = frame(Frame3, "FramePlus2", QStringLiteral("Les Langues"), 5760, 360, 1575, 2415);
    Check7 = checkBox(FramePlus2, "Check7", QStringLiteral("Changer"), 8.25, 240, 360, 1095, 255);
    File1 =
        place(new FileListBox(QStringLiteral("*.lng"), FramePlus2), "File1", 120, 720, 1335, 1200);
    File1->setToolTip(QStringLiteral("You can translate the lang files to others languages and "
                                     "send it to the author."));
    ButtonPlus5 = pictureButton(FramePlus2, "ButtonPlus5", QStringLiteral("&OK"),
                                QStringLiteral("ok"), 360, 1980, 855, 345);
    Check4 =
        checkBox(Frame3, "Check4", QStringLiteral("Lancer au systray"), 9.75, 360, 2160, 4935, 255);
    Check3 = checkBox(Frame3, "Check3", QStringLiteral("Lancer au démarrage de Windows"), 9.75, 360,
                      1800, 5175, 255);
    Check2 = checkBox(Frame3, "Check2", QStringLiteral("Activé Vexlor Popup"), 9.75, 360, 1080,
                      5175, 255);
    Check2->setChecked(true);
    Check1 = checkBox(Frame3, "Check1", QStringLiteral("Jouer un son a la fermeture"), 9.75, 360,
                      1440, 5175, 255);
    Check1->setChecked(true);
    FramePlus5 =
        frame(Frame3, "FramePlus5", QStringLiteral("Chemin du son :"), 120, 2640, 7215, 975);
    Text1 = place(new QLineEdit(QStringLiteral("Text1"), FramePlus5), "Text1", 120, 480, 6135, 285);
    Command2 =
        place(new QPushButton(QStringLiteral("..."), FramePlus5), "Command2", 6480, 480, 375, 255);
    CommonDialog1 = new CommonDialog(Frame3);
    CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));
    Image1 = plainLabel(Frame3, "Image1", QString(), 360, 360, 480, 480);
    Image1->setPixmap(Pictures::pixmap(QStringLiteral("app"), 32));
    Label2 = plainLabel(Frame3, "Label2", QStringLiteral("Vexlor Popup Configuration"), 1320, 480,
                        3975, 300);
    Label2->setFont(Fonts::verdana(12.75, true));
    Label1 = plainLabel(Frame3, "Label1", QStringLiteral("Vexlor Popup Configuration"), 1200, 510,
                        3405, 270);
    Label1->setFont(Fonts::verdana(12));
    Label1->setStyleSheet(QStringLiteral("color: white"));
    // The white copy lies beneath the title, never across it.
    Label2->raise();
}

void Form1::buildListPanels()
{
    Frame2 = frame(this, "Frame2", QStringLiteral("Journal :"), 120, 3840, 7455, 3735);
    ListView4 = list(Frame2, "ListView4", 120, 360, 7095, 2895);
    Command1 = pictureButton(Frame2, "Command1",
                             QStringLiteral("Relancer cette Url et Supprimer le mot clef"),
                             QStringLiteral("reopen"), 2880, 3300, 4335, 375);

    Frame1 = frame(this, "Frame1", QStringLiteral("Mots clés :"), 120, 3840, 7455, 3735);
    ListView3 = list(Frame1, "ListView3", 120, 360, 7215, 2655);
    ListView3->setSelectionMode(QAbstractItemView::SingleSelection);
    Command5 = pictureButton(Frame1, "Command5", QStringLiteral("Ajouter"), QStringLiteral("add"),
                             1800, 3120, 1695, 495);
    Command7 = pictureButton(Frame1, "Command7", QStringLiteral("Modifier"),
                             QStringLiteral("modify"), 3720, 3120, 1695, 495);
    Command8 = pictureButton(Frame1, "Command8", QStringLiteral("Supprimer"),
                             QStringLiteral("delete"), 5640, 3120, 1695, 495);

    Frame4 = frame(this, "Frame4", QStringLiteral("Statistiques :"), 120, 3840, 7455, 3735);
    ListView2 = list(Frame4, "ListView2", 120, 360, 7215, 3255);
}

void Form1::buildPanelButtons()
{
    ButtonPlus3 = pictureButton(this, "ButtonPlus3", QStringLiteral("&Config"),
                                QStringLiteral("config"), 4320, 3480, 1215, 615);
    ButtonPlus4 = pictureButton(this, "ButtonPlus4", QStringLiteral("&Stat"),
                                QStringLiteral("stat"), 5640, 3480, 1215, 615);
    VexlorCmd6 = pictureButton(this, "VexlorCmd6", QString(), QStringLiteral("collapse"), 6960,
                               3480, 495, 495);
    VexlorCmd6->setToolTip(QStringLiteral("Fermer les options"));
    ButtonPlus2 = pictureButton(this, "ButtonPlus2", QStringLiteral("&Journal"),
                                QStringLiteral("journal"), 3000, 3480, 1215, 615);
    ButtonPlus1 = pictureButton(this, "ButtonPlus1", QStringLiteral("&Mots"),
                                QStringLiteral("keywords"), 1800, 3480, 1095, 615);
}

void Form1::buildTrayMenu()
{
    contex = new QMenu(QStringLiteral("Contex"), this);
    contex->setObjectName(QStringLiteral("contex"));
    contex->setFont(Fonts::tahoma(8.25));
    const auto item = [this](const char *name, const QString &caption) {
        QAction *action = contex->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    const auto separator = [this](const char *name) {
        QAction *action = contex->addSeparator();
        action->setObjectName(QLatin1String(name));
        return action;
    };
    affich = item("affich", QStringLiteral("V&exlor Popup"));
    kj = separator("kj");
    cle = item("cle", QStringLiteral("&Mots Cléfs"));
    journal = item("journal", QStringLiteral("Journal"));
    option = item("option", QStringLiteral("Options"));
    stat = item("stat", QStringLiteral("&Statistiques"));
    jk = separator("jk");
    quit = item("quit", QStringLiteral("Quitter"));

    ctxHookMenu1 = new MenuDecoration(contex,
                                      {{QStringLiteral("#affich"), QStringLiteral("app")},
                                       {QStringLiteral("#cle"), QStringLiteral("keywords")},
                                       {QStringLiteral("#journal"), QStringLiteral("journal")},
                                       {QStringLiteral("#option"), QStringLiteral("config")},
                                       {QStringLiteral("#stat"), QStringLiteral("stat")},
                                       {QStringLiteral("#quit"), QStringLiteral("quit")}},
                                      this);
    ctxHookMenu1->setObjectName(QStringLiteral("ctxHookMenu1"));
}

void Form1::connectPanelCommands()
{
    connect(ButtonPlus1, &QPushButton::clicked, this,
            [this] { PanelCommands::showPanel(*this, 1); });
    connect(ButtonPlus2, &QPushButton::clicked, this,
            [this] { PanelCommands::showPanel(*this, 2); });
    connect(ButtonPlus3, &QPushButton::clicked, this,
            [this] { PanelCommands::showPanel(*this, 3); });
    connect(ButtonPlus4, &QPushButton::clicked, this,
            [this] { PanelCommands::showPanel(*this, 4); });
    connect(VexlorCmd2, &QPushButton::clicked, this, [this] { PanelCommands::expand(*this); });
    connect(VexlorCmd6, &QPushButton::clicked, this, [this] { PanelCommands::collapse(*this); });
    connect(cle, &QAction::triggered, this, [this] { PanelCommands::openPanelFromMenu(*this, 1); });
    connect(journal, &QAction::triggered, this,
            [this] { PanelCommands::openPanelFromMenu(*this, 2); });
    connect(option, &QAction::triggered, this,
            [this] { PanelCommands::openPanelFromMenu(*this, 3); });
    connect(stat, &QAction::triggered, this,
            [this] { PanelCommands::openPanelFromMenu(*this, 4); });
    // The window's own "Quitter" asks it to close, as its close box does: it goes to the tray.
    connect(VexlorCmd5, &QPushButton::clicked, this, &QWidget::close);
}

// The title bar and borders, as the window manager tells them once the window has a frame;
// before that, or with no window manager, the 480 twips the design allows.
int Form1::frameHeightTwips() const
{
    const int frame = frameGeometry().height() - height();
    return frame > 0 ? Twips::fromPixels(frame) : kFrameHeightTwips;
}

int Form1::frameWidthTwips() const
{
    const int frame = frameGeometry().width() - width();
    return frame > 0 ? Twips::fromPixels(frame) : kFrameWidthTwips;
}

int Form1::heightTwips() const
{
    return Twips::fromPixels(height()) + frameHeightTwips();
}

void Form1::setHeightTwips(int height)
{
    resize(width(), Twips::toPixels(height - frameHeightTwips()));
}

int Form1::widthTwips() const
{
    return Twips::fromPixels(width()) + frameWidthTwips();
}

int Form1::topTwips() const
{
    return Twips::fromPixels(pos().y());
}

void Form1::setTopTwips(float top)
{
    move(pos().x(), Twips::toPixels(top));
}

int Form1::leftTwips() const
{
    return Twips::fromPixels(pos().x());
}

void Form1::setLeftTwips(float left)
{
    move(Twips::toPixels(left), pos().y());
}

int Form1::screenWidthTwips() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? Twips::fromPixels(screen->geometry().width()) : 0;
}

int Form1::screenHeightTwips() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? Twips::fromPixels(screen->geometry().height()) : 0;
}
