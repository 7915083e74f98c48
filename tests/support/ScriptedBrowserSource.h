#pragma once

#include "platform/BrowserWindowSource.h"

#include <QList>

// A browser source whose pages the test sets, and which records every close request.
class ScriptedBrowserSource : public BrowserWindowSource
{
public:
    // Adds a page whose handle id is the given text; an empty optional is a read that fails.
    void addPage(std::optional<QString> name, std::optional<QString> address, const QByteArray &id)
    {
        m_pages.append({std::move(name), std::move(address), WindowHandle{0, id}});
    }
    void clear() { m_pages.clear(); }

    QList<BrowserPage> walk() override
    {
        ++m_walks;
        return m_pages;
    }
    void requestClose(const WindowHandle &handle) override { m_closed.append(handle.id); }
    // Tells of the pages between walks, as a source that learns of them as they come.
    void report() { reportPages(m_pages); }

    QList<BrowserPage> m_pages;
    QList<QByteArray> m_closed;
    int m_walks = 0;
};
