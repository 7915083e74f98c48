"""The benchmark's page server on 127.0.0.1.

An opener page asks the server, one at a time, which popup to open, opens it with
window.open(), times it from that call to the moment it sees the popup closed, and posts the
time back. Popup pages tell the server when their load event fired.
"""
import json
import queue
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

OPENER = """<!doctype html><meta charset="utf-8"><title>Page de départ</title>
<p>Opener<script>
"use strict";
const run = %(run)s;
const mode = %(mode)s;
// Polls the popup's closed flag: setTimeout(0) (4 ms apart once nested; the browser is told not
// to slow the timers of a hidden page) or a MessageChannel loop (as tight as the page can go).
const channel = new MessageChannel();
let pending = null;
channel.port1.onmessage = () => { const next = pending; pending = null; next(); };
function later(step) {
    if (mode === "channel") { pending = step; channel.port2.postMessage(0); }
    else setTimeout(step, 0);
}
function whenClosed(w, start, limit) {
    return new Promise((resolve) => {
        // The first step also waits for window.open() to return: not a gap of the polling.
        let last = null, maxGap = 0;
        const step = () => {
            const now = performance.now();
            if (last !== null) maxGap = Math.max(maxGap, now - last);
            last = now;
            if (w.closed) resolve({ms: now - start, maxGap});
            else if (now - start > limit) resolve({ms: null, maxGap});
            else later(step);
        };
        later(step);
    });
}
async function main() {
    for (;;) {
        let order;
        try {
            order = await (await fetch("/next/" + run, {cache: "no-store"})).json();
        } catch (e) {
            await new Promise((resolve) => setTimeout(resolve, 200));
            continue;
        }
        if (order.stop) return;
        if (order.wait) continue;
        const start = performance.now();
        const w = window.open(order.url, "", order.features);
        const result = w ? await whenClosed(w, start, order.limitMs)
                         : {ms: null, maxGap: 0, refused: true};
        if (w && !w.closed) w.close();
        await fetch("/done/" + run, {method: "POST", body: JSON.stringify({i: order.i, ...result})});
    }
}
main();
</script>
"""

POPUP = """<!doctype html><meta charset="utf-8"><title>%(title)s</title>
<p>Popup<script>
addEventListener("load", () => navigator.sendBeacon("/loaded/%(run)s/%(i)s"));
</script>
"""


class Run:
    """What one measured run exchanges with its opener page."""

    def __init__(self, mode):
        self.mode = mode
        self.orders = queue.Queue()
        self.results = queue.Queue()
        self.loaded = set()
        self.titles = {}
        self.lock = threading.Lock()


class PageServer:
    def __init__(self):
        self.runs = {}
        server = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *arguments):
                pass

            def reply(self, body, kind="text/html; charset=utf-8"):
                data = body.encode()
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Cache-Control", "no-store")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                try:
                    self.wfile.write(data)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # a popup closed while its page came

            def do_GET(self):
                parts = self.path.split("?")[0].strip("/").split("/")
                run = server.runs.get(parts[1]) if len(parts) > 1 else None
                if run is None:
                    self.send_error(404)
                elif parts[0] == "opener":
                    self.reply(OPENER % {"run": json.dumps(parts[1]), "mode": json.dumps(run.mode)})
                elif parts[0] == "next":
                    try:
                        order = run.orders.get(timeout=20)
                    except queue.Empty:
                        order = {"wait": True}
                    self.reply(json.dumps(order), "application/json")
                elif parts[0] == "p" and len(parts) >= 3:
                    title = run.titles.get(parts[2], "Page calme")
                    self.reply(POPUP % {"title": title, "run": parts[1], "i": parts[2]})
                else:
                    self.send_error(404)

            def do_POST(self):
                parts = self.path.split("?")[0].strip("/").split("/")
                run = server.runs.get(parts[1]) if len(parts) > 1 else None
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length)
                if run is None:
                    self.send_error(404)
                    return
                if parts[0] == "done":
                    run.results.put(json.loads(body))
                elif parts[0] == "loaded" and len(parts) >= 3:
                    with run.lock:
                        run.loaded.add(parts[2])
                self.reply("")

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, path):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def stop(self):
        self.httpd.shutdown()
