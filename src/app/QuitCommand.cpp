#include "app/QuitCommand.h"

#include "filter/DataFiles.h"
#include "platform/Dialogs.h"
#include "ui/Form1.h"

#include <cstdio>

namespace {

void tellStandardError(const QString &message)
{
    std::fprintf(stderr, "Vexlor Popup : %s\n", qUtf8Printable(message));
}

} // namespace

QuitCommand::QuitCommand(Form1 &form, Dialogs &dialogs, EndProgram endProgram)
    : m_form(form), m_dialogs(dialogs), m_endProgram(std::move(endProgram))
{}

QStringList QuitCommand::saveFiles()
{
    QStringList failures;
    const auto note = [&](bool saved, const DataFiles::Failure &failure) {
        if (saved)
            return;
        if (failure.leftAlone)
            tellStandardError(failure.message);
        else
            failures.append(failure.message);
    };
    DataFiles::Failure failure;
    note(DataFiles::SaveStatisticsFile(m_form.appFolder(), m_form.ListView2, &failure), failure);
    failure = {};
    note(DataFiles::SaveKeywordFile(m_form.appFolder(), m_form.ListView3, &failure), failure);
    return failures;
}

bool QuitCommand::save()
{
    const QStringList failures = saveFiles();
    if (failures.isEmpty())
        return true;
    m_dialogs.messageBox(failures.join(u'\n') +
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

void QuitCommand::commitData()
{
    // Nobody may be there to answer a dialog.
    for (const QString &failure : saveFiles())
        tellStandardError(failure);
}

void QuitCommand::endSession()
{
    commitData();
    m_form.QuittingFlag = true;
    m_endProgram();
}
