#pragma once

#include "sources/tabs/TabSourceSettings.h"

#include <functional>

class CompositeBrowserSource;

// Adds the desktop's browser backends to the source, in a fixed order: the tab-level ones
// (the browsers' bridge extension, Chromium DevTools, then Firefox WebDriver BiDi), then the X11
// windows, which leave out the windows of the browser processes whose tabs the others list.
// Returns whether some backend sees the pages of a process: it lists its tabs, or the last walk
// found a window of it. It holds the backends, and lives no longer than the source.
std::function<bool(qint64 pid)> addBrowserBackends(CompositeBrowserSource &source,
                                                   const TabSourceSettings &settings = {});
