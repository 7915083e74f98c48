#pragma once

#include "platform/Dialogs.h"

class QWidget;

// The dialogs as Qt draws them, modal to the main window.
class QtDialogs : public Dialogs
{
public:
    void setParent(QWidget *parent) { m_parent = parent; }

    QString inputBox(const QString &prompt, const QString &title) override;
    void messageBox(const QString &text, const QString &title, Icon icon) override;
    QString openFile(const QString &filter, const QString &fileName) override;

    // "Fichier son Wav|*.wav" becomes Qt's "Fichier son Wav (*.wav)".
    static QString qtFilter(const QString &filter);

private:
    QWidget *m_parent = nullptr;
};
