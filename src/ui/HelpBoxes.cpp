#include "ui/HelpBoxes.h"

#include "platform/DesktopOpener.h"
#include "platform/Dialogs.h"

#include <QStringList>

namespace HelpBoxes {

QString helpText()
{
    return QStringList{
        QStringLiteral(" L'utilisation de Vexlor Popup est très simple et facile mais aussi "
                       "fiable."),
        QString(),
        QStringLiteral("- Cliquez sur le boutton 'Navigateur' pour lancer votre navigateur web."),
        QStringLiteral("- Cliquez sur le boutton 'Options' pour afficher les différentes options "
                       "disponible."),
        QStringLiteral("- Cliquez sur le boutton 'Aide' pour afficher l'aide."),
        QStringLiteral("- Cliquez sur le boutton 'A propos' pour savoir plus sur ce logiciel."),
        QStringLiteral("- Cliquez sur le boutton 'Quitter' pour quitter l'application mais la "
                       "protection persiste"),
        QStringLiteral("toujours."),
        QString(),
        QStringLiteral("- Les fenetres d'Iexplorer ouvertes sont affichés dans une liste."),
        QStringLiteral("- Vous pouvez ajouter ou supprimer les mots clefs."),
        QStringLiteral("- Un journal détaillé sur les fenetres fermés et supprimées."),
        QStringLiteral("- Vous pouvez activer ou désactiver la protection comme vous pouvez"),
        QStringLiteral("activer ou désactiver le signal sonore."),
        QStringLiteral("- Une liste de statistiques affiche le nombre de fenetres fermées par mot "
                       "clef."),
        QString(54, u'_'),
        QStringLiteral("Si vous avez des questions ou des remarques rendez vous sur :"),
        kWebSite,
        kCompany,
    }
        .join(u'\r');
}

QString aboutText()
{
    return QStringList{
        QString(),
        QStringLiteral("   C'est un freeware qui élimine les popups envahissants le web de "
                       "manière automatique"),
        QStringLiteral("et transparente, vous permet aussi de personnaliser les mots clefs, "
                       "rendant ce logiciel"),
        QStringLiteral("un vrai filtre personnalisé."),
        QString(),
        QStringLiteral(" Developpeur: ") + kDeveloper,
        QStringLiteral(" ") + kContact,
        QStringLiteral(" ") + kWebSite,
        QString(51, u'_'),
        QStringLiteral("Si vous avez des questions ou des remarques rendez vous sur :"),
        kWebSite,
        kCompany,
    }
        .join(u'\r');
}

void showHelp(Dialogs &dialogs)
{
    dialogs.messageBox(helpText(), QStringLiteral("Aide de Vexlor Popup 2.0"),
                       Dialogs::Icon::Question);
}

void showAbout(Dialogs &dialogs)
{
    dialogs.messageBox(aboutText(), QStringLiteral("A Propos de Vexlor Popup 2007"),
                       Dialogs::Icon::Information);
}

void openWebSite(DesktopOpener &opener)
{
    opener.openAddress(kWebSite);
}

} // namespace HelpBoxes
