#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>

#include <functional>
#include <optional>

// Identifies one page of one backend. Opaque to everyone but the backend that made it.
struct WindowHandle
{
    int backend = -1;
    QByteArray id;

    bool isValid() const { return backend >= 0; }
    friend bool operator==(const WindowHandle &, const WindowHandle &) = default;
    friend size_t qHash(const WindowHandle &handle, size_t seed = 0)
    {
        return qHashMulti(seed, handle.backend, handle.id);
    }
};
Q_DECLARE_METATYPE(WindowHandle)

// One open browser page as a walk yields it. A read that failed (a window that is closing,
// say) is an empty optional.
struct BrowserPage
{
    std::optional<QString> pageName;
    std::optional<QString> address;
    WindowHandle handle;

    friend bool operator==(const BrowserPage &, const BrowserPage &) = default;
};

// The open browser pages of the desktop, and a way to ask one of them to close.
class BrowserWindowSource
{
public:
    virtual ~BrowserWindowSource() = default;

    // Walks the open pages as they are now, in the source's own order. A walk that cannot be
    // started yields nothing; one that fails part-way yields what it had until then.
    virtual QList<BrowserPage> walk() = 0;

    // Posts a close request and returns at once; nothing waits for the page to go, and a
    // handle that no longer names a page is ignored.
    virtual void requestClose(const WindowHandle &handle) = 0;

    // Pages that opened or changed since the source last told of them, each as a walk would
    // list it now.
    using PagesReported = std::function<void(const QList<BrowserPage> &pages)>;
    // A source that learns of pages as they come tells them here, on the thread that made the
    // source, between walks, so that they are matched without waiting for the next walk. A
    // source that learns only when walked never calls it. Set once, before the first walk.
    virtual void setPagesReported(PagesReported reported) { m_reported = std::move(reported); }

protected:
    void reportPages(const QList<BrowserPage> &pages) const
    {
        if (m_reported && !pages.isEmpty())
            m_reported(pages);
    }

private:
    PagesReported m_reported;
};
