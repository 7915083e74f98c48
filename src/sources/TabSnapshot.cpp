#include "sources/TabSnapshot.h"

#include <QMutexLocker>
#include <QSet>

#include <algorithm>

void TabSnapshot::publish(quint16 port, qint64 pid, QList<BrowserPage> pages)
{
    QSet<QByteArray> listed;
    for (BrowserPage &page : pages) {
        page.handle = WindowHandle{0, handleId(port, page.handle.id)};
        listed.insert(page.handle.id);
    }

    QMutexLocker lock(&m_mutex);
    // A hidden tab that the browser no longer lists has gone for good; one whose grace
    // period is over is listed again.
    const QByteArray prefix = handleId(port, {});
    m_hidden.removeIf([&](const auto &entry) {
        return entry.key().startsWith(prefix) &&
               (!listed.contains(entry.key()) || entry.value().hasExpired());
    });

    const auto browser = std::find_if(m_browsers.begin(), m_browsers.end(),
                                      [&](const Browser &b) { return b.port == port; });
    if (m_changeListener)
        noteChanges(browser == m_browsers.end() ? QList<BrowserPage>() : browser->pages, pages);
    if (browser == m_browsers.end()) {
        m_browsers.append(Browser{port, pid, std::move(pages)});
        newVersion();
    } else if (browser->pid != pid || browser->pages != pages) {
        *browser = Browser{port, pid, std::move(pages)};
        newVersion();
    }
    ++m_readings;

    if (m_changed.isEmpty() || m_changeNotified)
        return;
    m_changeNotified = true;
    lock.unlock();
    m_changeListener();
}

void TabSnapshot::noteChanges(const QList<BrowserPage> &before, const QList<BrowserPage> &after)
{
    QHash<QByteArray, const BrowserPage *> earlier;
    earlier.reserve(before.size());
    for (const BrowserPage &page : before)
        earlier.insert(page.handle.id, &page);
    for (const BrowserPage &page : after) {
        const BrowserPage *old = earlier.value(page.handle.id);
        if (!old || old->pageName != page.pageName || old->address != page.address)
            m_changed.insert(page.handle.id);
    }
}

void TabSnapshot::setChangeListener(std::function<void()> listener)
{
    const QMutexLocker lock(&m_mutex);
    m_changeListener = std::move(listener);
}

QList<BrowserPage> TabSnapshot::takeChanged()
{
    const QMutexLocker lock(&m_mutex);
    QList<BrowserPage> changed;
    for (const Browser &browser : m_browsers) {
        for (const BrowserPage &page : browser.pages) {
            if (m_changed.contains(page.handle.id) && !isHidden(page.handle.id))
                changed.append(page);
        }
    }
    m_changed.clear();
    m_changeNotified = false;
    return changed;
}

QList<BrowserPage> TabSnapshot::update(quint16 port, qint64 pid, QList<BrowserPage> changed,
                                       const QList<QByteArray> &closedTabIds)
{
    const QMutexLocker lock(&m_mutex);
    auto browser = std::find_if(m_browsers.begin(), m_browsers.end(),
                                [&](const Browser &b) { return b.port == port; });
    if (browser == m_browsers.end())
        browser = m_browsers.insert(m_browsers.end(), Browser{port, pid, {}});
    QList<BrowserPage> &pages = browser->pages;
    for (const QByteArray &tabId : closedTabIds) {
        const QByteArray id = handleId(port, tabId);
        pages.removeIf([&](const BrowserPage &page) { return page.handle.id == id; });
        m_hidden.remove(id);
    }
    QList<BrowserPage> listed;
    for (BrowserPage &page : changed) {
        page.handle = WindowHandle{0, handleId(port, page.handle.id)};
        const auto same = std::find_if(pages.begin(), pages.end(), [&](const BrowserPage &p) {
            return p.handle.id == page.handle.id;
        });
        if (same != pages.end())
            *same = page;
        else if (pages.size() < kMaxRows)
            pages.append(page);
        else
            continue;
        if (!isHidden(page.handle.id))
            listed.append(std::move(page));
    }
    ++m_readings;
    newVersion();
    return listed;
}

void TabSnapshot::drop(quint16 port)
{
    const QMutexLocker lock(&m_mutex);
    if (m_browsers.removeIf([&](const Browser &b) { return b.port == port; }) > 0)
        newVersion();
    const QByteArray prefix = handleId(port, {});
    m_hidden.removeIf([&](const auto &entry) { return entry.key().startsWith(prefix); });
}

QList<BrowserPage> TabSnapshot::pages() const
{
    const QMutexLocker lock(&m_mutex);
    if (m_listedVersion == m_version && !m_listedUntil.hasExpired())
        return m_listed;
    QList<BrowserPage> all;
    m_listedUntil = QDeadlineTimer(QDeadlineTimer::Forever);
    for (const Browser &browser : m_browsers) {
        if (m_hidden.isEmpty()) {
            all.append(browser.pages);
            continue;
        }
        for (const BrowserPage &page : browser.pages) {
            const auto hidden = m_hidden.constFind(page.handle.id);
            if (hidden == m_hidden.cend() || hidden->hasExpired())
                all.append(page);
            else
                m_listedUntil = std::min(m_listedUntil, *hidden);
        }
    }
    m_listed = std::move(all);
    m_listedVersion = m_version;
    return m_listed;
}

bool TabSnapshot::covers(qint64 pid) const
{
    const QMutexLocker lock(&m_mutex);
    return std::any_of(m_browsers.cbegin(), m_browsers.cend(),
                       [&](const Browser &b) { return b.pid == pid; });
}

quint64 TabSnapshot::version() const
{
    const QMutexLocker lock(&m_mutex);
    return m_version;
}

quint64 TabSnapshot::readings() const
{
    const QMutexLocker lock(&m_mutex);
    return m_readings;
}

void TabSnapshot::hide(const QByteArray &handleId)
{
    const QMutexLocker lock(&m_mutex);
    for (const Browser &browser : std::as_const(m_browsers)) {
        for (const BrowserPage &page : browser.pages) {
            if (page.handle.id == handleId) {
                m_hidden.insert(handleId, QDeadlineTimer(closingGraceMs));
                newVersion();
                return;
            }
        }
    }
}

std::optional<TabSnapshot::Owner> TabSnapshot::ownerOf(const QByteArray &handleId) const
{
    const QMutexLocker lock(&m_mutex);
    for (const Browser &browser : m_browsers) {
        const bool lists =
            std::any_of(browser.pages.cbegin(), browser.pages.cend(),
                        [&](const BrowserPage &page) { return page.handle.id == handleId; });
        if (!lists)
            continue;
        Owner owner{browser.pid, 0};
        for (const BrowserPage &page : browser.pages) {
            if (page.handle.id != handleId && !isHidden(page.handle.id))
                ++owner.otherVisibleTabs;
        }
        return owner;
    }
    return std::nullopt;
}

QString TabSnapshot::clip(QString text)
{
    if (text.size() <= kMaxTextLength)
        return text;
    // Never leave half of a surrogate pair at the end.
    text.truncate(text.at(kMaxTextLength - 1).isHighSurrogate() ? kMaxTextLength - 1
                                                                : kMaxTextLength);
    return text;
}

QByteArray TabSnapshot::handleId(quint16 port, const QByteArray &tabId)
{
    return QByteArray::number(port) + '/' + tabId;
}

std::optional<std::pair<quint16, QByteArray>> TabSnapshot::splitHandleId(const QByteArray &handleId)
{
    const qsizetype slash = handleId.indexOf('/');
    bool ok = false;
    const uint port = handleId.left(slash).toUInt(&ok);
    if (slash <= 0 || !ok || port == 0 || port > 65535)
        return std::nullopt;
    return std::pair{static_cast<quint16>(port), handleId.mid(slash + 1)};
}

bool TabSnapshot::isHidden(const QByteArray &handleId) const
{
    const auto hidden = m_hidden.constFind(handleId);
    return hidden != m_hidden.cend() && !hidden->hasExpired();
}
