// Tells the Vexlor Popup program, through its native messaging host, which tabs are open, and
// closes the ones it names. Nothing is kept here but the port: every message carries the whole
// tab list, so the program never depends on what an earlier message said.
"use strict";

const api = globalThis.browser ?? chrome;
const hostName = "fr.vexlor.popup_bridge";
const firstRetryMs = 500;
const lastRetryMs = 30000;
// A page load fires four or five changes within a few milliseconds; one list covers them all.
const coalesceMs = 150;

let port = null;
let retryMs = firstRetryMs;
let sendTimer = null;

function tabRecord(tab) {
    return { id: tab.id, windowId: tab.windowId, title: tab.title ?? "", url: tab.url ?? "" };
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
        sender.postMessage({ tabs: tabs.filter((tab) => tab.id !== undefined).map(tabRecord) });
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
