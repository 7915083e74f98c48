#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// Identifies one page of one backend. Opaque to everyone but the backend that made it.
struct WindowHandle
{
    int backend = -1;
    QByteArray id;

    bool isValid() const { return backend >= 0; }
    friend bool operator==(const WindowHandle &, const WindowHandle &) = default;
};
Q_DECLARE_METATYPE(WindowHandle)

// One open browser page as a walk yields it. A read that failed (a window that is closing,
// say) is an empty optional.
struct BrowserPage
{
    std::optional<QString> pageName;
    std::optional<QString> address;
    WindowHandle handle;
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
};
