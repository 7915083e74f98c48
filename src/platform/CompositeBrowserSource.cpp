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
    QList<BrowserPage> pages;
    for (std::size_t i = 0; i < m_backends.size(); ++i) {
        for (BrowserPage &page : m_backends[i]->walk()) {
            page.handle.backend = static_cast<int>(i);
            pages.append(std::move(page));
        }
    }
    return pages;
}

void CompositeBrowserSource::requestClose(const WindowHandle &handle)
{
    if (handle.backend < 0 || static_cast<std::size_t>(handle.backend) >= m_backends.size())
        return;
    WindowHandle own = handle;
    own.backend = 0;
    m_backends[static_cast<std::size_t>(handle.backend)]->requestClose(own);
}
