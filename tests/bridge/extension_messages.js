// The bridge extension's messages to its host, under a browser API and a clock of our own: the
// first change goes at once, the changes of other tabs within the window after a message go
// together at its end, a new address goes at once with whatever waits, and a tab that closes
// before its change went is only named as closed.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const vm = require("node:vm");

let now = 0;
const timers = new Map();
let lastTimer = 0;
const listeners = {};
const sent = [];
const event = (name) => ({ addListener: (f) => { listeners[name] = f; } });
const tabs = new Map();

const browser = {
    tabs: {
        onCreated: event("created"), onUpdated: event("updated"), onActivated: event("activated"),
        onRemoved: event("removed"), onReplaced: event("replaced"), onAttached: event("attached"),
        query: async () => [...tabs.values()],
        get: async (id) => tabs.get(id),
        remove: async () => {},
    },
    webNavigation: {
        onBeforeNavigate: event("navigation"), onCommitted: event("committed"),
        onErrorOccurred: event("failed"),
    },
    runtime: {
        onStartup: event("startup"),
        connectNative: () => ({
            // A copy made here: what the script makes belongs to another realm.
            postMessage: (message) => sent.push({ at: now, message: JSON.parse(JSON.stringify(message)) }),
            onMessage: event("host"),
            onDisconnect: event("disconnect"),
        }),
    },
};
const context = vm.createContext({
    browser,
    performance: { now: () => now },
    Date: { now: () => now },
    setTimeout: (f, ms) => { timers.set(++lastTimer, { at: now + ms, f }); return lastTimer; },
    clearTimeout: (id) => timers.delete(id),
});

const settle = () => new Promise((resolve) => setImmediate(resolve));
async function runUntil(time) {
    for (;;) {
        await settle();
        const due = [...timers.entries()].filter(([, t]) => t.at <= time).sort((a, b) => a[1].at - b[1].at)[0];
        if (!due)
            break;
        timers.delete(due[0]);
        now = due[1].at;
        due[1].f();
    }
    now = time;
    await settle();
}
function retitle(id, title) {
    const tab = { id, windowId: 1, active: true, title, url: `http://page${id}.example/` };
    tabs.set(id, tab);
    listeners.updated(id, { title }, tab);
}
const changedIds = (message) => (message.changed ?? []).map((record) => record.id);

(async () => {
    vm.runInContext(fs.readFileSync(process.argv[2], "utf8"), context);
    await runUntil(0);
    assert.deepEqual(sent.map((s) => s.message), [{ tabs: [] }]);

    await runUntil(100);
    retitle(1, "One");
    await runUntil(100);
    assert.deepEqual(changedIds(sent[1].message), [1], "a first change goes at once");

    retitle(2, "Two");
    await runUntil(110);
    retitle(3, "Three");
    await runUntil(149);
    assert.equal(sent.length, 2, "changes within the window wait");
    await runUntil(150);
    assert.deepEqual([sent[2].at, changedIds(sent[2].message)], [150, [2, 3]]);

    await runUntil(160);
    retitle(4, "Four");
    await runUntil(170);
    tabs.set(5, { id: 5, windowId: 1, active: false, title: "", url: "" });
    listeners.navigation({ frameId: 0, tabId: 5, url: "http://popup.example/" });
    await runUntil(170);
    assert.deepEqual([sent[3].at, changedIds(sent[3].message)], [170, [4, 5]],
                     "a new address goes at once, with what waits");
    assert.equal(sent[3].message.changed[1].url, "http://popup.example/");

    await runUntil(180);
    retitle(6, "Six");
    await runUntil(190);
    tabs.delete(6);
    listeners.removed(6);
    await runUntil(1000);
    assert.deepEqual(sent.slice(4).map((s) => [s.at, s.message]), [[220, { removed: [6] }]]);
    console.log("extension messages: ok");
})().catch((error) => {
    console.error(error);
    process.exit(1);
});
