#pragma once

#include "platform/Dialogs.h"

#include <QList>
#include <QQueue>
#include <QTest>

// Answers dialogs from a queue the test fills, and records every dialog shown. A dialog the
// test did not script fails the test.
class ScriptedDialogs : public Dialogs
{
public:
    struct Shown
    {
        QString text; // prompt, message text or filter
        QString title;
        Icon icon = Icon::None;
    };

    // The answer to the next input or open-file dialog; std::nullopt plays Cancel.
    void answer(std::optional<QString> text) { m_answers.enqueue(std::move(text)); }

    QString inputBox(const QString &prompt, const QString &title) override
    {
        m_shown.append({prompt, title});
        return next(QStringLiteral("input box \"%1\"").arg(prompt)).value_or(QString());
    }

    void messageBox(const QString &text, const QString &title, Icon icon) override
    {
        m_shown.append({text, title, icon});
    }

    QString openFile(const QString &filter, const QString &fileName) override
    {
        m_shown.append({filter, QString()});
        m_openFileNames.append(fileName);
        return next(QStringLiteral("open-file dialog")).value_or(fileName);
    }

    bool allAnswered() const { return m_answers.isEmpty(); }

    QList<Shown> m_shown;
    QStringList m_openFileNames; // the file name each open-file dialog started with

private:
    std::optional<QString> next(const QString &what)
    {
        if (m_answers.isEmpty()) {
            QTest::qFail(qPrintable(QStringLiteral("unexpected %1").arg(what)), __FILE__, __LINE__);
            return std::nullopt;
        }
        return m_answers.dequeue();
    }

    QQueue<std::optional<QString>> m_answers;
};
