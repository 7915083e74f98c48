#include "app/UnwatchedBrowsers.h"

#include "platform/TrayIcon.h"
#include "sources/BrowserCatalogue.h"

#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace {

// "de Firefox", "d'Epiphany".
QString ofBrowser(const QString &name)
{
    static const QString vowels = QStringLiteral("AEIOUYÉaeiouyé");
    return (!name.isEmpty() && vowels.contains(name.front()) ? u"d'"_qs : u"de "_qs) + name;
}

// Only the browsers the bridge writes host manifests for can run its extension.
bool bridgeServes(const KnownBrowser &browser)
{
    return !browser.hosts.isEmpty();
}

QString notification(const KnownBrowser &browser)
{
    const QString unseen = u"Vexlor Popup ne voit pas les pages "_qs + ofBrowser(browser.name) +
                           u", qui échappent donc au filtre. "_qs;
    if (bridgeServes(browser))
        return unseen + u"Installez dans ce navigateur l'extension du pont : voir « Le pont "
                        u"navigateur » dans le README."_qs;
    return unseen + u"Le pont ne prend pas ce navigateur en charge : ouvrez-le dans une session "
                    u"X11, ou utilisez Firefox ou Chromium avec le pont (voir « Le pont "
                    u"navigateur » dans le README)."_qs;
}

// The status line is short: it has one line of the window's width.
QString statusLine(const KnownBrowser &browser)
{
    return browser.name +
           (bridgeServes(browser)
                ? u" non surveillé : installez le pont (voir le README)"_qs
                : u" non surveillé : ses pages échappent au filtre (voir le README)"_qs);
}

} // namespace

UnwatchedBrowsers::UnwatchedBrowsers(RunningBrowsers &running, Sight seen, TrayIcon &tray,
                                     QLabel *status, QObject *parent)
    : QObject(parent), m_running(running), m_seen(std::move(seen)), m_tray(tray), m_status(status)
{}

void UnwatchedBrowsers::follow(QTimer *scanTimer)
{
    connect(scanTimer, &QTimer::timeout, this, [this] {
        if (++m_ticks < kTicksPerCheck)
            return;
        m_ticks = 0;
        check();
    });
}

void UnwatchedBrowsers::check()
{
    QHash<Start, State> states;
    for (const RunningBrowser &browser : m_running.look()) {
        const Start start{browser.pid, browser.startTime};
        State state = m_states.value(start);
        if (std::any_of(browser.processes.cbegin(), browser.processes.cend(), m_seen)) {
            state.unseenChecks = 0;
            withdraw(state);
        } else if (state.unseenChecks < kUnseenChecks && ++state.unseenChecks == kUnseenChecks) {
            report(state, *browser.browser);
        }
        states.insert(start, state);
    }
    // A browser that has ended is no longer reported either.
    for (auto it = m_states.begin(); it != m_states.end(); ++it) {
        if (!states.contains(it.key()))
            withdraw(*it);
    }
    m_states = std::move(states);
}

QSet<qint64> UnwatchedBrowsers::reported() const
{
    QSet<qint64> pids;
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it) {
        if (it->reported)
            pids.insert(it.key().first);
    }
    return pids;
}

// The status line keeps the warning until something else is said there; the tray icon, shown
// while the window is hidden, also says it at once.
void UnwatchedBrowsers::report(State &state, const KnownBrowser &browser)
{
    state.reported = true;
    state.line = statusLine(browser);
    m_status->setText(state.line);
    if (m_tray.isShown())
        m_tray.showMessage(u"Navigateur non surveillé"_qs, notification(browser));
}

void UnwatchedBrowsers::withdraw(State &state)
{
    if (state.reported && m_status->text() == state.line)
        m_status->clear();
    state.reported = false;
}
