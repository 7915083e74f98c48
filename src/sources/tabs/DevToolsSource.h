#pragma once

#include "sources/tabs/TabSource.h"

// Every tab of the Chromium-family browsers of this user that were started with
// --remote-debugging-port, through their DevTools HTTP endpoints.
class DevToolsSource : public TabSource
{
public:
    explicit DevToolsSource(const TabSourceSettings &settings = {});
};
