#pragma once

#include "app/StartUp.h"
#include "settings/ConfigFolders.h"
#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedBrowserSource.h"
#include "support/ScriptedDialogs.h"
#include "ui/Form1.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

// A program folder in a temporary folder, the configuration folders of the machine and of the
// user beside it, and the main window over them, built with the doubles of the platform.
class TestWindow
{
    QTemporaryDir m_root;

public:
    TestWindow() { QDir(m_root.path()).mkpath(QStringLiteral("app/Lang")); }

    QString root() const { return m_root.path(); }
    QString appFolder() const { return m_root.filePath(QStringLiteral("app")); }
    QString path(const QString &relative) const { return appFolder() + u'/' + relative; }

    // A new run of the program: a new window, through the start-up sequence when asked.
    Form1 &start(bool withStartUp = true)
    {
        form.reset();
        form = std::make_unique<Form1>(
            Form1Services{source, sound, dialogs, opener, appFolder(), folders});
        if (withStartUp)
            runStartUp(*form);
        return *form;
    }

    ConfigFolders folders{m_root.filePath(QStringLiteral("etc-xdg")),
                          m_root.filePath(QStringLiteral("home-config"))};
    ScriptedBrowserSource source;
    RecordingSoundPlayer sound;
    ScriptedDialogs dialogs;
    RecordingOpener opener;
    std::unique_ptr<Form1> form;
};
