#!/usr/bin/env python3
"""Serves light pages on 127.0.0.1 for bench/program-cost.sh, and logs what they tell.

    tab-pages.py <port file> <log file> <changing tabs> <changes per second>

/tab/<n> is a page titled "Onglet <n>"; the first <changing tabs> of them change their title
<changes per second> times a second and tell the server every 20 changes, so that the run can
check the rate it measured under. /sentinel is a page that tells the server when it goes.
/opener/<count> opens /tab/1 to /tab/<count>, then /sentinel, each in a tab of its own (a
headless Chromium takes a single address on its command line).
Each line of the log: milliseconds since the epoch, then "page <n>", "tick <n> <changes>",
"page sentinel" or "gone sentinel". The port chosen is written to the port file.
"""
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

port_file, log_path, changing, per_second = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
log = open(log_path, "a", encoding="utf-8", buffering=1)
lock = threading.Lock()

CHANGING = """<script>
let k = 0;
setInterval(() => {
    k += 1;
    document.title = "Onglet %d, étape " + k;
    if (k %% 20 === 0)
        navigator.sendBeacon("/tick/%d/" + k);
}, %d);
</script>"""
SENTINEL = """<script>
addEventListener("pagehide", () => navigator.sendBeacon("/gone/sentinel"));
</script>"""


OPENER = """<!doctype html><meta charset=utf-8><title>Ouverture des onglets</title><script>
let n = 0;
const next = () => {
    n += 1;
    window.open(n <= %d ? "/tab/" + n : "/sentinel", "_blank", "noopener");
    if (n <= %d)
        setTimeout(next, 10);
};
next();
</script>"""


def note(text):
    with lock:
        log.write("%d %s\n" % (time.time() * 1000, text))


class Pages(BaseHTTPRequestHandler):
    def do_GET(self):
        parts = self.path.strip("/").split("/")
        if parts[0] == "tab" and len(parts) == 2 and parts[1].isdigit():
            n = int(parts[1])
            script = CHANGING % (n, n, 1000 // per_second) if n <= changing else ""
            body = "<!doctype html><meta charset=utf-8><title>Onglet %d</title><p>%d</p>%s" % (n, n, script)
            note("page %d" % n)
        elif parts[0] == "sentinel":
            body = "<!doctype html><meta charset=utf-8><title>Sentinelle des onglets</title>" + SENTINEL
            note("page sentinel")
        elif parts[0] == "opener" and len(parts) == 2 and parts[1].isdigit():
            body = OPENER % (int(parts[1]), int(parts[1]))
        else:
            self.send_error(404)
            return
        data = body.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        parts = self.path.strip("/").split("/")
        if parts[0] == "tick" and len(parts) == 3:
            note("tick %s %s" % (parts[1], parts[2]))
        elif parts[0] == "gone":
            note("gone " + parts[1])
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


server = ThreadingHTTPServer(("127.0.0.1", 0), Pages)
server.daemon_threads = True
with open(port_file + ".part", "w") as file:
    file.write(str(server.server_address[1]))
# The rename makes the port file appear whole.
os.replace(port_file + ".part", port_file)
server.serve_forever()
