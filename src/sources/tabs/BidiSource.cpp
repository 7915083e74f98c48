#include "sources/tabs/BidiSource.h"

#include "sources/tabs/BidiClient.h"

BidiSource::BidiSource(CloseProcessWindows closeLastTabWindow, const TabSourceSettings &settings)
    : TabSource(
          DebugEndpoint::Kind::Firefox,
          [](const DebugEndpoint &endpoint, TabSnapshot &snapshot,
             const TabSourceSettings &clientSettings) -> TabClient * {
              return new BidiClient(endpoint, snapshot, clientSettings);
          },
          settings),
      m_closeLastTabWindow(std::move(closeLastTabWindow))
{}

// Tabs asked to close a moment ago do not count: once they have gone, this one is the last.
void BidiSource::requestClose(const WindowHandle &handle)
{
    const std::optional<TabSnapshot::Owner> owner = snapshot().ownerOf(handle.id);
    if (owner && owner->otherVisibleTabs == 0 && m_closeLastTabWindow) {
        snapshot().hide(handle.id);
        m_closeLastTabWindow(owner->pid);
    } else {
        closeTab(handle.id);
    }
}
