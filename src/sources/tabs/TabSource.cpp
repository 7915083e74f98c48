#include "sources/tabs/TabSource.h"

TabSource::TabSource(DebugEndpoint::Kind kind, TabWatcher::ClientFactory factory,
                     const TabSourceSettings &settings)
    : m_watcher(new TabWatcher(kind, m_snapshot, settings, std::move(factory)))
{
    // One queued call stands for every change published until it runs.
    m_snapshot.setChangeListener([this] {
        QMetaObject::invokeMethod(
            &m_reports, [this] { reportPages(m_snapshot.takeChanged()); }, Qt::QueuedConnection);
    });
    m_watcher->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::started, m_watcher, &TabWatcher::start);
    QObject::connect(&m_thread, &QThread::finished, m_watcher, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("tab source"));
    m_thread.start();
}

TabSource::~TabSource()
{
    QMetaObject::invokeMethod(m_watcher, &TabWatcher::stop, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QList<BrowserPage> TabSource::walk()
{
    return m_snapshot.pages();
}

void TabSource::requestClose(const WindowHandle &handle)
{
    closeTab(handle.id);
}

bool TabSource::covers(qint64 pid) const
{
    return m_snapshot.covers(pid);
}

void TabSource::closeTab(const QByteArray &handleId)
{
    m_snapshot.hide(handleId);
    TabWatcher *watcher = m_watcher;
    QMetaObject::invokeMethod(
        m_watcher, [watcher, handleId] { watcher->closeTab(handleId); }, Qt::QueuedConnection);
}
