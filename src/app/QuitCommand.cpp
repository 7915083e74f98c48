#include "app/QuitCommand.h"

#include "filter/DataFiles.h"
#include "platform/Dialogs.h"
#include "ui/Form1.h"

#include <cstdio>

QuitCommand::QuitCommand(Form1 &form, Dialogs &dialogs, EndProgram endProgram)
    : m_form(form), m_dialogs(dialogs), m_endProgram(std::move(endProgram))
{}

bool QuitCommand::save()
{
    DataFiles::Failure failure;
    if (DataFiles::SaveStatisticsFile(m_form.appFolder(), m_form.ListView2, &failure) &&
        DataFiles::SaveKeywordFile(m_form.appFolder(), m_form.ListView3, &failure))
        return true;
    m_dialogs.messageBox(failure.message +
                             QStringLiteral("\nVexlor Popup reste ouvert et n'a rien perdu : "
                                            "corrigez le problème puis quittez à nouveau."),
                         m_form.windowTitle(), Dialogs::Icon::Critical);
    return false;
}

void QuitCommand::quit()
{
    if (!save())
        return;
    m_form.QuittingFlag = true;
    m_endProgram();
}

void QuitCommand::endSession()
{
    DataFiles::Failure failure;
    if (!DataFiles::SaveStatisticsFile(m_form.appFolder(), m_form.ListView2, &failure) ||
        !DataFiles::SaveKeywordFile(m_form.appFolder(), m_form.ListView3, &failure))
        std::fprintf(stderr, "Vexlor Popup : %s\n", qUtf8Printable(failure.message));
    m_form.QuittingFlag = true;
    m_endProgram();
}
