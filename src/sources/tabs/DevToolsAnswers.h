#pragma once

#include "platform/BrowserWindowSource.h"

#include <QByteArray>
#include <QList>

#include <optional>

// Reading the answers of a Chromium-family browser's DevTools HTTP endpoints. Nothing here
// talks to a browser, so every function can be fed whatever a port answered.
namespace DevToolsAnswers {

// Whether a /json/version answer comes from a live browser, and, when browserTarget is not
// empty, from the one whose browser target it is.
bool isBrowser(const QByteArray &body, const QByteArray &browserTarget);

// The tabs that a /json/list answer lists, in its order: the targets of type "page" with an
// id, their titles and addresses clipped. Nothing when the answer is not a JSON array. A
// handle carries the browser's own tab id.
std::optional<QList<BrowserPage>> pages(const QByteArray &body);

} // namespace DevToolsAnswers
