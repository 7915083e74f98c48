#pragma once

#include "platform/BrowserWindowSource.h"

#include <memory>
#include <vector>

// Walks several backends one after another, in the order they were added. Each page's handle
// is stamped with the position of its backend, so a close request reaches the backend that
// listed the page. Pages a backend reports are stamped the same way. While every backend gives
// the list it gave last, shared, so does the walk.
class CompositeBrowserSource : public BrowserWindowSource
{
public:
    void addBackend(std::unique_ptr<BrowserWindowSource> backend);

    QList<BrowserPage> walk() override;
    void requestClose(const WindowHandle &handle) override;

private:
    std::vector<std::unique_ptr<BrowserWindowSource>> m_backends;
    std::vector<QList<BrowserPage>> m_lastWalks;
    QList<BrowserPage> m_lastWalk;
};
