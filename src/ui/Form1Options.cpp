#include "ui/Form1.h"

#include "platform/Dialogs.h"
#include "settings/CheckStates.h"
#include "ui/CommonDialog.h"
#include "ui/FileListBox.h"
#include "ui/MenuDecoration.h"
#include "ui/PlainToolTips.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

QObjectList Form1::controls() const
{
    return {ctxHookMenu1, FramePlus1,  ListView1,   sb,          VexlorCmd1,    Timer1,
            VexlorCmd2,   VexlorCmd3,  VexlorCmd4,  VexlorCmd5,  Frame3,        FramePlus2,
            Check7,       File1,       ButtonPlus5, Check4,      Check3,        Check2,
            Check1,       FramePlus5,  Text1,       Command2,    CommonDialog1, Image1,
            Label2,       Label1,      Frame2,      ListView4,   Command1,      Frame1,
            ListView3,    Command5,    Command7,    Command8,    Frame4,        ListView2,
            ButtonPlus3,  ButtonPlus4, VexlorCmd6,  ButtonPlus2, ButtonPlus1,   contex,
            affich,       kj,          cle,         journal,     option,        stat,
            jk,           quit};
}

// The options panel and the language frame.
void Form1::connectOptions()
{
    m_options = std::make_unique<OptionsPanel>(
        OptionControls{Check1, Check2, Check3, Check4, FramePlus5, Text1, Command2, Timer1},
        appFolder(), m_services.configFolders, programFolder());
    m_languages = std::make_unique<LanguagePanel>(
        LanguageControls{Check7, File1, ButtonPlus5}, LanguageWindow{this, controls()}, appFolder(),
        UserStore(m_services.configFolders.user), m_services.dialogs, programFolder());

    connect(Check1, &QCheckBox::clicked, this, [this] {
        CheckStates::endGreyed(Check1);
        m_options->Check1Click();
    });
    connect(Check2, &QCheckBox::clicked, this, [this] {
        CheckStates::endGreyed(Check2);
        m_options->Check2Click();
    });
    connect(Check3, &QCheckBox::clicked, this, [this] {
        CheckStates::endGreyed(Check3);
        if (m_options->Check3Click())
            return;
        // The box keeps the user's choice; the user learns that the session will not follow it.
        m_services.dialogs.messageBox(
            Check3->checkState() == Qt::Unchecked
                ? QStringLiteral("Vexlor Popup n'a pas pu être retiré du démarrage de la session.")
                : QStringLiteral(
                      "Vexlor Popup n'a pas pu être inscrit au démarrage de la session."),
            QStringLiteral("Vexlor Popup"), Dialogs::Icon::Warning);
    });
    connect(Check4, &QCheckBox::clicked, this, [this] {
        CheckStates::endGreyed(Check4);
        m_options->Check4Click();
    });
    connect(Command2, &QPushButton::clicked, this, [this] {
        m_options->Command2Click(m_services.dialogs, CommonDialog1->Filter,
                                 CommonDialog1->FileName);
    });
    connect(Check7, &QCheckBox::clicked, this, [this] { m_languages->Check7Click(); });
    connect(ButtonPlus5, &QPushButton::clicked, this, [this] { m_languages->ButtonPlus5Click(); });

    PlainToolTips::install(this);
}
