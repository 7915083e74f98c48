#pragma once

#include "sources/tabs/TabSourceSettings.h"

class CompositeBrowserSource;

// Adds the desktop's browser backends to the source, in a fixed order: the tab-level ones
// (the browsers' bridge extension, Chromium DevTools, then Firefox WebDriver BiDi), then the X11
// windows, which leave out the windows of the browser processes whose tabs the others list.
void addBrowserBackends(CompositeBrowserSource &source, const TabSourceSettings &settings = {});
