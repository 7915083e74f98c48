// The fastest an extension can close a popup: the tab goes at the first event that tells of an
// address holding the keyword, with no message to any program in between.
"use strict";

const api = globalThis.browser ?? chrome;
const keyword = "pub-zone";
const closing = new Set();

function check(tabId, url) {
    if (tabId === undefined || tabId < 0 || !url || !url.includes(keyword) || closing.has(tabId))
        return;
    closing.add(tabId);
    Promise.resolve()
        .then(() => api.tabs.remove(tabId))
        .catch(() => {});
}

function onNavigation(details) {
    if (details.frameId === 0)
        check(details.tabId, details.url);
}

api.tabs.onCreated.addListener((tab) => check(tab.id, tab.pendingUrl || tab.url));
api.tabs.onUpdated.addListener((tabId, change) => check(tabId, change.url));
api.tabs.onRemoved.addListener((tabId) => closing.delete(tabId));
api.webNavigation.onBeforeNavigate.addListener(onNavigation);
api.webNavigation.onCommitted.addListener(onNavigation);
