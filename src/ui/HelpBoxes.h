#pragma once

#include <QString>

class DesktopOpener;
class Dialogs;

// The help box, the about box and the web-site button. Their texts are fixed French texts that
// no language file changes.
namespace HelpBoxes {

inline const QString kWebSite = QStringLiteral("https://vexlor-popup.example/");
inline const QString kContact = QStringLiteral("contact@vexlor-popup.example");
inline const QString kDeveloper = QStringLiteral("l'équipe Vexlor Popup");
inline const QString kCompany = QStringLiteral("Vexlor Popup pour Linux - logiciel gratuit");

// Lines joined by a lone carriage return, no line feed, none after the last line.
QString helpText();
QString aboutText();

void showHelp(Dialogs &dialogs);
void showAbout(Dialogs &dialogs);
// A failure to open the site is ignored.
void openWebSite(DesktopOpener &opener);

} // namespace HelpBoxes
