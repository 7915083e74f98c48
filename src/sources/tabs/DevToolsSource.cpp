#include "sources/tabs/DevToolsSource.h"

#include "sources/tabs/DevToolsClient.h"

DevToolsSource::DevToolsSource(const TabSourceSettings &settings)
    : TabSource(
          DebugEndpoint::Kind::Chromium,
          [](const DebugEndpoint &endpoint, TabSnapshot &snapshot,
             const TabSourceSettings &clientSettings) -> TabClient * {
              return new DevToolsClient(endpoint, snapshot, clientSettings);
          },
          settings)
{}
