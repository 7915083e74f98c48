#include "ui/Form1.h"

#include "filter/ReopenCommand.h"
#include "ui/HelpBoxes.h"

#include <QPushButton>

// The keyword buttons, the reopen button, and the help, about and web-site buttons.
void Form1::connectCommands()
{
    m_keywordCommands = std::make_unique<KeywordCommands>(ListView2, ListView3, this,
                                                          m_services.dialogs, appFolder());
    connect(Command5, &QPushButton::clicked, this, [this] { m_keywordCommands->add(); });
    connect(Command7, &QPushButton::clicked, this, [this] { m_keywordCommands->modify(); });
    connect(Command8, &QPushButton::clicked, this, [this] { m_keywordCommands->remove(); });
    connect(Command1, &QPushButton::clicked, this, [this] {
        reopenClosedPage(ListView3, ListView4, m_services.opener, m_services.dialogs);
    });
    connect(VexlorCmd1, &QPushButton::clicked, this,
            [this] { HelpBoxes::openWebSite(m_services.opener); });
    connect(VexlorCmd3, &QPushButton::clicked, this,
            [this] { HelpBoxes::showHelp(m_services.dialogs); });
    connect(VexlorCmd4, &QPushButton::clicked, this,
            [this] { HelpBoxes::showAbout(m_services.dialogs); });
}
