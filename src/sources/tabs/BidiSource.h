#pragma once

#include "sources/tabs/TabSource.h"

#include <functional>

// Every tab of the Firefox browsers of this user that were started with
// --remote-debugging-port, through WebDriver BiDi.
class BidiSource : public TabSource
{
public:
    // Firefox ignores a request to close its last tab, so that tab's window is closed instead,
    // by whoever can close the windows of a process.
    using CloseProcessWindows = std::function<void(qint64 pid)>;

    explicit BidiSource(CloseProcessWindows closeLastTabWindow,
                        const TabSourceSettings &settings = {});

    void requestClose(const WindowHandle &handle) override;

private:
    CloseProcessWindows m_closeLastTabWindow;
};
