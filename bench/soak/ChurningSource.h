#pragma once

#include "platform/BrowserWindowSource.h"

#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>

#include <functional>

// Browser pages that come and go several times a second, as a busy desktop shows them. Some
// pages carry one keyword of the live list, in their title or their address and in any case;
// a page asked to close goes, as a browser's would. Every close request is counted against the
// keyword its page carries: a keyword is "kw" + five digits + "z", and the other texts have no
// digits, so a page can match no other keyword.
class ChurningSource : public QObject, public BrowserWindowSource
{
    Q_OBJECT

public:
    using LiveKeywords = std::function<QStringList()>;

    ChurningSource(LiveKeywords liveKeywords, quint32 seed);

    void start(int intervalMs, int pagesPerChange);

    QList<BrowserPage> walk() override;
    void requestClose(const WindowHandle &handle) override;

    // Close requests so far, by the keyword of the page, lower-cased.
    const QHash<QString, qint64> &closesByKeyword() const { return m_closes; }
    qint64 closeRequests() const { return m_closeRequests; }
    qint64 pagesShown() const { return m_pagesShown; }

    static constexpr int kPoolSize = 150;

private:
    struct Page
    {
        QString title;
        QString address;
        QString keyword; // lower-cased; empty for a page that should match nothing
    };

    void change(int pages);
    Page makePage();
    QString words(int count);

    LiveKeywords m_liveKeywords;
    QRandomGenerator m_random;
    QTimer m_timer;
    QHash<quint64, Page> m_pages;
    quint64 m_nextId = 1;
    QHash<QString, qint64> m_closes;
    qint64 m_closeRequests = 0;
    qint64 m_pagesShown = 0;
};
