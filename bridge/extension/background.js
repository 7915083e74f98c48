// Tells the Vexlor Popup program, through its native messaging host, which tabs are open, and
// closes the ones it names. On connecting, and whenever the host asks, it sends the whole tab
// list; in between, the tabs that open, change or close, the moment the browser tells of them.
// What changes within a short window of the last message waits for the window's end and goes
// with the rest of it, except a new address, which goes at once. A list always fits in one message of the host
// (1 MiB), however long the titles and addresses pages give themselves: each is clipped to its
// first clipLength UTF-16 units (the host and its keywords' matches see no more of it), and the
// list holds the tabs that fit in listBytes, the tab each window shows first.
"use strict";

const api = globalThis.browser ?? chrome;
const hostName = "fr.vexlor.popup_bridge";
const firstRetryMs = 500;
const lastRetryMs = 30000;
// A tab's first change goes at once; the changes that follow within this window go as one
// message at its end, so a page that retitles itself in a loop costs one message a window.
const coalesceMs = 150;
// How many new addresses of a tab go at once within one window.
const addressSkips = 3;
// The changes of all tabs that come within this window of the last message go as one message
// at its end, so that many pages retitling themselves cost the browser, the host and the
// program a message a window rather than one each.
const batchMs = 50;
// The program takes a title of this length as the start of the tab's title.
const clipLength = 4096;
// Below the host's 1 MiB, with room for what wraps the records.
const listBytes = 1000000;
// What a record holds beyond its title and address, numbers of 16 digits included.
const recordBytes = 100;

let port = null;
let retryMs = firstRetryMs;
// What waits for the end of the window: by tab id, the record to send; the ids of closed tabs.
let outbox = new Map();
let closedTabs = [];
// At most, as for a list: a message of the window never exceeds what the host takes.
let outboxBytes = 0;
let outboxTimer = null;
let postedAt = -Infinity;
// By tab id: the tab as the browser's events last gave it, what was last sent of it, the address
// of a navigation under way, and when and whether a message about it is due.
const tabStates = new Map();

// Never leaves half of a surrogate pair at the end.
function clip(text) {
    if (text.length <= clipLength)
        return text;
    const end = text.charCodeAt(clipLength - 1);
    return text.slice(0, end >= 0xd800 && end < 0xdc00 ? clipLength - 1 : clipLength);
}

// The most bytes a text takes as a JSON string in UTF-8, as Chromium and Firefox write it: six
// for what either escapes as \uXXXX (control characters, a lone half of a surrogate pair, and
// in Chromium "<" and the line and paragraph separators).
function jsonBytes(text) {
    let bytes = 2;
    for (let i = 0; i < text.length; ++i) {
        const code = text.charCodeAt(i);
        if (code < 0x20 || code === 0x3c || code === 0x7f || code === 0x2028 || code === 0x2029 ||
            (code >= 0xd800 && code < 0xe000))
            bytes += 6;
        else if (code === 0x22 || code === 0x5c || (code >= 0x80 && code < 0x800))
            bytes += 2;
        else
            bytes += code < 0x80 ? 1 : 3;
    }
    return bytes;
}

function stateOf(tabId) {
    let state = tabStates.get(tabId);
    if (!state) {
        state = { tab: null, sent: null, navigation: null, sentAt: -Infinity, addressWindowAt: -Infinity,
                  addressSkips: 0, timer: null, busy: false, again: false, againAddress: false };
        tabStates.set(tabId, state);
    }
    return state;
}

// The address a navigation starts with is known before the tab's own: a page is matched by
// where it is going, not by where it was.
function tabRecord(tab) {
    const navigation = tabStates.get(tab.id)?.navigation;
    return {
        id: tab.id,
        windowId: tab.windowId,
        active: tab.active === true,
        title: clip(tab.title ?? ""),
        url: clip(navigation ?? (tab.pendingUrl || tab.url || "")),
    };
}

function sameRecord(a, b) {
    return b !== null && a.windowId === b.windowId && a.active === b.active &&
           a.title === b.title && a.url === b.url;
}

function post(sender, message) {
    try {
        sender.postMessage(message);
    } catch (error) {
        // A port that dropped meanwhile reports it through onDisconnect.
    }
    postedAt = performance.now();
}

// Sends what waits now when asked to, or when no message went within the window; otherwise at
// the window's end.
function sendOutbox(now) {
    const wait = postedAt + batchMs - performance.now();
    if (!now && wait > 0) {
        outboxTimer ??= setTimeout(() => sendOutbox(true), wait);
        return;
    }
    clearTimeout(outboxTimer);
    outboxTimer = null;
    const message = {};
    if (outbox.size > 0)
        message.changed = [...outbox.values()];
    if (closedTabs.length > 0)
        message.removed = closedTabs;
    dropOutbox();
    if (port && (message.changed || message.removed))
        post(port, message);
}

function dropOutbox() {
    outbox = new Map();
    closedTabs = [];
    outboxBytes = 0;
}

// Adds to what waits: the tab's record, or the id of a closed tab.
function addToOutbox(tabId, record) {
    const bytes = recordBytes + (record ? jsonBytes(record.title) + jsonBytes(record.url) : 0);
    if (outboxBytes + bytes > listBytes)
        sendOutbox(true);
    outboxBytes += bytes;
    if (record)
        outbox.set(tabId, record);
    else
        closedTabs.push(tabId);
}

// The records that fit, the shown tabs first, so that the program always knows what each window
// shows; a tab too big for what is left gives way to smaller ones after it.
function tabRecords(tabs) {
    const shownFirst = tabs.filter((tab) => tab.active).concat(tabs.filter((tab) => !tab.active));
    const records = [];
    let total = 0;
    for (const tab of shownFirst) {
        const record = tabRecord(tab);
        const bytes = recordBytes + jsonBytes(record.title) + jsonBytes(record.url);
        if (total + bytes > listBytes)
            continue;
        total += bytes;
        records.push(record);
    }
    return records;
}

async function sendList() {
    const sender = port;
    if (!sender)
        return;
    let tabs;
    try {
        tabs = await api.tabs.query({});
    } catch (error) {
        return;
    }
    // The port may have dropped while the query ran; the next connection sends afresh.
    if (sender !== port)
        return;
    const records = tabRecords(tabs.filter((tab) => tab.id !== undefined));
    for (const state of tabStates.values())
        state.sent = null;
    for (const tab of tabs) {
        if (tab.id !== undefined)
            stateOf(tab.id).tab = tab;
    }
    for (const record of records)
        stateOf(record.id).sent = record;
    // The list holds the tabs as they are now, which is newer than what waits.
    dropOutbox();
    post(sender, { tabs: records });
}

// Sends the tab now, or at the end of the window its last message opened. A new address skips
// the wait, since it is what a page is most often blocked by (a popup is created, then starts
// its navigation, then lands where a redirect takes it), but only a few times a window, so that
// a page rewriting its address in a loop is coalesced all the same.
function touch(tabId, newAddress = false) {
    if (!port || tabId === undefined || tabId < 0)
        return;
    const state = stateOf(tabId);
    if (state.busy) {
        state.again = true;
        state.againAddress ||= newAddress;
        return;
    }
    const now = performance.now();
    if (newAddress && now - state.addressWindowAt >= coalesceMs) {
        state.addressWindowAt = now;
        state.addressSkips = 0;
    }
    const skip = newAddress && state.addressSkips < addressSkips;
    if (state.timer !== null && !skip)
        return;
    const wait = state.sentAt + coalesceMs - now;
    if (!skip && wait > 0) {
        state.timer = setTimeout(() => {
            state.timer = null;
            sendTab(tabId, state);
        }, wait);
        return;
    }
    clearTimeout(state.timer);
    state.timer = null;
    if (skip)
        ++state.addressSkips;
    sendTab(tabId, state, skip);
}

// The tab as its events gave it goes at once, or with the window's other changes unless it is
// urgent; asking the browser for it costs a round trip to the browser's main process, which a
// blocked page would spend loading.
async function sendTab(tabId, state, urgent = false) {
    let tab = state.tab;
    if (!tab) {
        state.busy = true;
        try {
            tab = await api.tabs.get(tabId);
        } catch (error) {
            // Gone, or never a tab (a page being prerendered).
        }
        // Closed while it was read: its removal has been sent.
        if (tabStates.get(tabId) !== state)
            return;
        state.busy = false;
        state.tab = tab;
    }
    // A navigation may be told of before its tab: the address it starts with waits for the tab.
    if (!tab && state.sent === null && state.navigation === null)
        tabStates.delete(tabId);
    if (tab && port) {
        const record = tabRecord(tab);
        if (!sameRecord(record, state.sent)) {
            addToOutbox(tabId, record);
            state.sent = record;
            state.sentAt = performance.now();
            sendOutbox(urgent);
        }
    }
    if (state.again) {
        const newAddress = state.againAddress;
        state.again = state.againAddress = false;
        touch(tabId, newAddress);
    }
}

function removeTab(tabId) {
    const state = tabStates.get(tabId);
    if (!state)
        return;
    clearTimeout(state.timer);
    tabStates.delete(tabId);
    outbox.delete(tabId);
    if (port && state.sent !== null) {
        addToOutbox(tabId, null);
        sendOutbox(false);
    }
}

// The main frame of a tab, as a navigation event names it; not a frame within the page, nor a
// page that the browser renders ahead of its being shown.
function isTabNavigation(details) {
    return details.frameId === 0 && details.tabId >= 0 &&
           (details.documentLifecycle ?? "active") !== "prerender";
}

function onNavigation(details) {
    if (!isTabNavigation(details))
        return;
    const state = stateOf(details.tabId);
    state.navigation = details.url;
    touch(details.tabId, state.sent?.url !== clip(details.url));
}

function onNavigationFailed(details) {
    if (!isTabNavigation(details))
        return;
    const state = tabStates.get(details.tabId);
    if (state)
        state.navigation = null;
    touch(details.tabId);
}

function onUpdated(tabId, change, tab) {
    if (tab && port)
        stateOf(tabId).tab = tab;
    // The tab's own address now holds what the navigation started with, or has moved on.
    if (change.url !== undefined && tabStates.has(tabId))
        tabStates.get(tabId).navigation = null;
    const sent = tabStates.get(tabId)?.sent;
    if (change.url !== undefined || change.title !== undefined)
        touch(tabId, change.url !== undefined && sent?.url !== clip(change.url));
}

// The tab a window showed before is no longer shown.
function onActivated(info) {
    for (const [tabId, state] of tabStates) {
        if (state.tab?.windowId === info.windowId)
            state.tab.active = tabId === info.tabId;
        if (tabId !== info.tabId && state.sent?.windowId === info.windowId && state.sent.active)
            touch(tabId);
    }
    touch(info.tabId);
}

function onCreated(tab) {
    if (tab.id !== undefined && port)
        stateOf(tab.id).tab = tab;
    touch(tab.id);
}

// Moved to another window: where it stands there is read from the browser.
function onAttached(tabId) {
    if (tabStates.has(tabId))
        tabStates.get(tabId).tab = null;
    touch(tabId);
}

function onHostMessage(message) {
    if (message === null || typeof message !== "object")
        return;
    if (message.list === true) {
        sendList();
        return;
    }
    if (!Number.isInteger(message.close))
        return;
    // A tab closed by its user since it was sent is already gone: nothing to do then.
    Promise.resolve()
        .then(() => api.tabs.remove(message.close))
        .catch(() => {});
}

function connect() {
    const connectedAt = Date.now();
    try {
        port = api.runtime.connectNative(hostName);
    } catch (error) {
        port = null;
        retryLater(connectedAt);
        return;
    }
    port.onMessage.addListener(onHostMessage);
    port.onDisconnect.addListener(() => {
        // Read, so that Chromium does not log a missing host as an unchecked error; the
        // retries below are the whole answer to it.
        void api.runtime.lastError;
        port = null;
        retryLater(connectedAt);
    });
    sendList();
}

// A host that ran a while before going is tried again soon; one that keeps failing, less
// and less often.
function retryLater(connectedAt) {
    if (Date.now() - connectedAt > lastRetryMs)
        retryMs = firstRetryMs;
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, lastRetryMs);
}

api.tabs.onCreated.addListener(onCreated);
api.tabs.onUpdated.addListener(onUpdated);
api.tabs.onActivated.addListener(onActivated);
api.tabs.onRemoved.addListener(removeTab);
api.tabs.onReplaced.addListener((addedTabId, removedTabId) => {
    removeTab(removedTabId);
    touch(addedTabId);
});
api.tabs.onAttached.addListener(onAttached);
api.webNavigation.onBeforeNavigate.addListener(onNavigation);
api.webNavigation.onCommitted.addListener(onNavigation);
api.webNavigation.onErrorOccurred.addListener(onNavigationFailed);
// Registered so that the browser wakes this script when it starts; the work is done below.
api.runtime.onStartup.addListener(() => {});

connect();
