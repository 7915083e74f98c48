#pragma once

#include "platform/BrowserWindowSource.h"
#include "platform/Limits.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <functional>
#include <optional>

// The tabs of the browsers of one tab-level backend as last read. The thread that reads them
// from the browsers replaces a browser's tabs in one go; the scan tick only copies them, so a
// tick never waits on a browser. A tab's handle id is "<port>/<the browser's tab id>".
class TabSnapshot
{
public:
    // Replaces the tabs of the browser that listens on the port. The handles of the pages
    // carry the browser's own tab ids. From now on the browser's process counts as covered.
    void publish(quint16 port, qint64 pid, QList<BrowserPage> pages);
    // Replaces the tabs the browser changed and adds those it opened (after the others, while it
    // lists fewer than kMaxRows), keeping the others and their order, and forgets the tabs it
    // closed, by their ids. Gives the changed tabs as pages() now lists them: with their
    // handles, less those hidden or beyond the cap. From now on the browser counts as covered.
    QList<BrowserPage> update(quint16 port, qint64 pid, QList<BrowserPage> changed,
                              const QList<QByteArray> &closedTabIds);
    // Forgets the browser: its tabs are no longer listed and its process is no longer covered.
    void drop(quint16 port);

    // Called on the publishing thread, outside the lock, when a publication adds a tab or
    // changes a tab's title or address; not again until takeChanged(), so that one call stands
    // for a whole burst. Set once, before the first publication.
    void setChangeListener(std::function<void()> listener);
    // The tabs added or changed since the last call, as pages() lists them now: a tab that went
    // or was hidden meanwhile is left out.
    QList<BrowserPage> takeChanged();

    // Every listed tab, browser after browser, in the order each browser was first published,
    // except the tabs asked to close less than closingGraceMs ago. While nothing changes, each
    // call gives the same list, shared, so that whoever walks it can tell it has not changed.
    QList<BrowserPage> pages() const;
    bool covers(qint64 pid) const;
    // A number that changes whenever the browsers or their tabs do.
    quint64 version() const;
    // How many readings have been published so far, for whoever waits for a fresh one.
    quint64 readings() const;

    // A tab asked to close may be listed for a few more milliseconds; hiding it meanwhile
    // keeps the next tick from matching it again. One that is still there after the grace
    // period ignored the request and is listed again.
    void hide(const QByteArray &handleId);
    static constexpr int closingGraceMs = 1000;

    // The process of the browser that lists the tab, and how many of its other tabs are
    // listed and not hidden.
    struct Owner
    {
        qint64 pid = 0;
        int otherVisibleTabs = 0;
    };
    std::optional<Owner> ownerOf(const QByteArray &handleId) const;

    // No title or address is kept longer than kMaxTextLength UTF-16 units, so that a hostile
    // page cannot make every tick test megabytes; clip() cuts a text to it.
    static QString clip(QString text);

    static QByteArray handleId(quint16 port, const QByteArray &tabId);
    // The port and the tab id of a handle id; nothing for one this class did not make.
    static std::optional<std::pair<quint16, QByteArray>> splitHandleId(const QByteArray &handleId);

private:
    struct Browser
    {
        quint16 port = 0;
        qint64 pid = 0;
        QList<BrowserPage> pages;
    };

    bool isHidden(const QByteArray &handleId) const;
    void newVersion() { ++m_version; }
    // Notes the pages of the browser that are new or differ from its earlier ones.
    void noteChanges(const QList<BrowserPage> &before, const QList<BrowserPage> &after);

    mutable QMutex m_mutex;
    QList<Browser> m_browsers;
    QHash<QByteArray, QDeadlineTimer> m_hidden;
    quint64 m_readings = 0;
    quint64 m_version = 0;
    // What pages() gave last, for the version it was made of, until a tab hidden then is listed
    // again.
    mutable QList<BrowserPage> m_listed;
    mutable std::optional<quint64> m_listedVersion;
    mutable QDeadlineTimer m_listedUntil;
    std::function<void()> m_changeListener;
    QSet<QByteArray> m_changed;
    bool m_changeNotified = false;
};
