// Tells the Vexlor Popup program, through its native messaging host, which tabs are open, and
// closes the ones it names. Nothing is kept here but the port: every message carries the whole
// tab list, so the program never depends on what an earlier message said. A list always fits in
// one message of the host (1 MiB), however long the titles and addresses pages give themselves:
// each is clipped to its first clipLength UTF-16 units (the host and its keywords' matches see
// no more of it), and the list holds the tabs that fit in listBytes, the tab each window shows
// first.
"use strict";

const api = globalThis.browser ?? chrome;
const hostName = "fr.vexlor.popup_bridge";
const firstRetryMs = 500;
const lastRetryMs = 30000;
// A page load fires four or five changes within a few milliseconds; one list covers them all.
const coalesceMs = 150;
// The program takes a title of this length as the start of the tab's title.
const clipLength = 4096;
// Below the host's 1 MiB, with room for what wraps the records.
const listBytes = 1000000;
// What a record holds beyond its title and address, numbers of 16 digits included.
const recordBytes = 100;

let port = null;
let retryMs = firstRetryMs;
let sendTimer = null;

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

function tabRecord(tab) {
    return {
        id: tab.id,
        windowId: tab.windowId,
        active: tab.active === true,
        title: clip(tab.title ?? ""),
        url: clip(tab.url ?? ""),
    };
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

async function sendTabs() {
    sendTimer = null;
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
    try {
        sender.postMessage({ tabs: tabRecords(tabs.filter((tab) => tab.id !== undefined)) });
    } catch (error) {
        // A port that dropped meanwhile reports it through onDisconnect.
    }
}

// Sends at most coalesceMs after the first change of a burst, so a steady stream of changes
// cannot hold the list back.
function scheduleTabs() {
    if (sendTimer === null)
        sendTimer = setTimeout(sendTabs, coalesceMs);
}

function onHostMessage(message) {
    if (message === null || typeof message !== "object" || !Number.isInteger(message.close))
        return;
    // A tab closed by its user since the last list is already gone: nothing to do then.
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
    sendTabs();
}

// A host that ran a while before going is tried again soon; one that keeps failing, less
// and less often.
function retryLater(connectedAt) {
    if (Date.now() - connectedAt > lastRetryMs)
        retryMs = firstRetryMs;
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, lastRetryMs);
}

api.tabs.onCreated.addListener(scheduleTabs);
api.tabs.onUpdated.addListener(scheduleTabs);
api.tabs.onRemoved.addListener(scheduleTabs);
api.tabs.onReplaced.addListener(scheduleTabs);
api.tabs.onAttached.addListener(scheduleTabs);
api.tabs.onDetached.addListener(scheduleTabs);
// Registered so that the browser wakes this script when it starts; the work is done below.
api.runtime.onStartup.addListener(() => {});

connect();
