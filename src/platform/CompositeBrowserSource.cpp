#include "platform/CompositeBrowserSource.h"

void CompositeBrowserSource::addBackend(std::unique_ptr<BrowserWindowSource> backend)
{
    const auto index = static_cast<int>(m_backends.size());
    backend->setPagesReported([this, index](QList<BrowserPage> pages) {
        for (BrowserPage &page : pages)
            page.handle.backend = index;
        reportPages(pages);
    });
    m_backends.push_back(std::move(backend));
}

QList<BrowserPage> CompositeBrowserSource::walk()
{
    bool unchanged = m_lastWalks.size() == m_backends.size();
    m_lastWalks.resize(m_backends.size());
    for (std::size_t i = 0; i < m_backends.size(); ++i) {
        QList<BrowserPage> walked = m_backends[i]->walk();
        unchanged = unchanged && walked.isSharedWith(m_lastWalks[i]);
        m_lastWalks[i] = std::move(walked);
    }
    if (unchanged)
        return m_lastWalk;
    m_lastWalk.clear();
    for (std::size_t i = 0; i < m_backends.size(); ++i) {
        for (BrowserPage page : std::as_const(m_lastWalks[i])) {
            page.handle.backend = static_cast<int>(i);
            m_lastWalk.append(std::move(page));
        }
    }
    return m_lastWalk;
}

void CompositeBrowserSource::requestClose(const WindowHandle &handle)
{
    if (handle.backend < 0 || static_cast<std::size_t>(handle.backend) >= m_backends.size())
        return;
    WindowHandle own = handle;
    own.backend = 0;
    m_backends[static_cast<std::size_t>(handle.backend)]->requestClose(own);
}
