"""Runs the popup cases, as the unprivileged user, on a private Xvfb display: for each, a fresh
copy of the program (or none) with a keyword file, a real browser with a fresh profile, and an
opener page that opens popups one at a time and times each from window.open() to the popup seen
closed. Writes every time, and the load averages around each case, as JSON.

Usage: run.py STAGE OUT.json [--count N] [--only SUBSTRING] [--mode timeout|channel]
STAGE holds old/ and new/ (the program's folders), floor/ (the reference extension, unpacked,
with floor.xpi beside it) and harness/ (this folder).
"""
import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pages import PageServer, Run  # noqa: E402

KEYWORD = "pub-zone"
WARMUPS = 3
LIMIT_MS = 4000
CHROMIUM = "/usr/lib/chromium/chromium"
FIREFOX = "/usr/bin/firefox-esr"
FIREFOX_PREFS = """user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("dom.disable_open_during_load", false);
user_pref("dom.popup_maximum", 1000000);
user_pref("dom.min_background_timeout_value", 4);
user_pref("dom.timeout.enable_budget_timer_throttling", false);
user_pref("xpinstall.signatures.required", false);
user_pref("extensions.autoDisableScopes", 0);
user_pref("extensions.enabledScopes", 15);
"""

# name, browser, program ("old", "new" or None), extension ("old", "new", "floor" or None),
# remote debugging, popup in a window of its own whose title holds the keyword.
CASES = [
    ("bridge-chromium-old", "chromium", "old", "old", False, False),
    ("bridge-chromium-new", "chromium", "new", "new", False, False),
    ("bridge-chromium-floor", "chromium", None, "floor", False, False),
    ("bridge-firefox-old", "firefox", "old", "old", False, False),
    ("bridge-firefox-new", "firefox", "new", "new", False, False),
    ("bridge-firefox-floor", "firefox", None, "floor", False, False),
    ("devtools-chromium-old", "chromium", "old", None, True, False),
    ("devtools-chromium-new", "chromium", "new", None, True, False),
    ("bidi-firefox-old", "firefox", "old", None, True, False),
    ("bidi-firefox-new", "firefox", "new", None, True, False),
    ("x11-chromium-old", "chromium", "old", None, False, True),
    ("x11-chromium-new", "chromium", "new", None, False, True),
]


def say(text):
    print("popups: %s %s" % (time.strftime("%H:%M:%S"), text), file=sys.stderr, flush=True)


def load_average():
    with open("/proc/loadavg") as file:
        return [float(x) for x in file.read().split()[:3]]


def wait_for(seconds, condition):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


class Processes:
    """Everything a case starts, each leading a process group, killed as a whole at the end."""

    def __init__(self, log_folder):
        self.log_folder = log_folder
        self.groups = []

    def start(self, name, arguments, environment):
        log = open(os.path.join(self.log_folder, name + ".log"), "wb")
        process = subprocess.Popen(arguments, env=environment, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        self.groups.append(process)
        return process

    def stop(self):
        for process in reversed(self.groups):
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()
        self.groups = []


def shown(pid, display):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                           env={"PATH": "/usr/bin:/bin", "DISPLAY": display},
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return found.returncode == 0 and found.stdout.strip() != b""


def browser_command(case, home, stage, opener):
    _, browser, _, extension, debugging, _ = case
    if browser == "chromium":
        arguments = [CHROMIUM, "--no-first-run", "--no-default-browser-check",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-gpu", "--disable-quic",
                     "--disable-dev-shm-usage", "--password-store=basic",
                     "--disable-popup-blocking", "--disable-background-timer-throttling",
                     "--disable-renderer-backgrounding",
                     "--disable-backgrounding-occluded-windows", "--window-size=1024,768",
                     "--disable-features=DisableLoadExtensionCommandLineSwitch",
                     "--user-data-dir=" + os.path.join(home, ".config", "chromium")]
        if extension == "floor":
            arguments.append("--load-extension=" + os.path.join(stage, "floor"))
        elif extension:
            arguments.append("--load-extension=" + os.path.join(stage, extension, "bridge",
                                                                "chromium"))
        if debugging:
            arguments.append("--remote-debugging-port=0")
        return arguments + [opener]
    profile = os.path.join(home, "profile")
    os.makedirs(os.path.join(profile, "extensions"))
    with open(os.path.join(profile, "user.js"), "w") as file:
        file.write(FIREFOX_PREFS)
    if extension == "floor":
        shutil.copy(os.path.join(stage, "floor.xpi"),
                    os.path.join(profile, "extensions", "popup-floor@bench.invalid.xpi"))
    elif extension:
        shutil.copy(os.path.join(stage, extension, "bridge", "vexlor-popup-bridge.xpi"),
                    os.path.join(profile, "extensions", "popup-bridge@vexlor.fr.xpi"))
    arguments = [FIREFOX, "--no-remote", "--profile", profile]
    if debugging:
        arguments += ["--remote-debugging-port", "0"]
    return arguments + [opener]


def measure(run, number, url, features, wait_s):
    run.orders.put({"i": number, "url": url, "features": features, "limitMs": LIMIT_MS})
    deadline = time.monotonic() + wait_s
    while time.monotonic() < deadline:
        try:
            return run.results.get(timeout=0.5)
        except Exception:
            continue
    return None


def run_case(case, server, stage, work, display, count, mode, token):
    name, browser, program, extension, debugging, x11 = case
    folder = tempfile.mkdtemp(prefix=name + ".", dir=work)
    home = os.path.join(folder, "home")
    runtime = os.path.join(folder, "runtime")
    os.makedirs(os.path.join(home, ".config"))
    os.makedirs(runtime, mode=0o700)
    environment = {"PATH": "/usr/bin:/bin", "DISPLAY": display, "HOME": home,
                   "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                   "XDG_RUNTIME_DIR": runtime, "LANG": "C.UTF-8", "POPBENCH_RUN": token}
    result = {"case": name, "started": time.strftime("%Y-%m-%d %H:%M:%S"),
              "load_before": load_average(), "mode": mode}
    processes = Processes(folder)
    watch = None
    run = Run(mode)
    server.runs[name] = run
    try:
        if program:
            app = os.path.join(folder, "app")
            shutil.copytree(os.path.join(stage, program), app, symlinks=True)
            with open(os.path.join(app, "mtrl.dll"), "wb") as file:
                file.write(b'"%s"\r\n' % KEYWORD.encode())
            started = processes.start("program", [os.path.join(app, "vexlor-popup")],
                                      dict(environment, QT_QPA_PLATFORM="xcb"))
            if not wait_for(60, lambda: shown(started.pid, display)):
                raise RuntimeError("the program showed no window")
        if x11:
            from x11watch import WindowWatch
            watch = WindowWatch(display)
        processes.start("browser", browser_command(case, home, stage,
                                                   server.url("opener/" + name)), environment)
        features = "popup,width=500,height=400" if x11 else ""

        def popup(number):
            if x11:
                run.titles[str(number)] = "Offre %s %d" % (KEYWORD, number)
                return server.url("p/%s/%d/page-calme" % (name, number))
            return server.url("p/%s/%d/%s" % (name, number, KEYWORD))

        # Warm-up, left out: popups until one is closed without the opener's help (the browser,
        # its extension and the program are then all there), then a few more.
        number, ready, deadline = 0, False, time.monotonic() + 150
        while not ready and time.monotonic() < deadline:
            number += 1
            answer = measure(run, number, popup(number), features, 90 if number == 1 else 20)
            ready = answer is not None and answer.get("ms") is not None
        if not ready:
            raise RuntimeError("no popup was ever closed")
        for _ in range(WARMUPS):
            number += 1
            measure(run, number, popup(number), features, 20)
        result["warmup"] = number
        times, gaps, measured = [], [], []
        for _ in range(count):
            time.sleep(random.uniform(0.15, 0.4))
            number += 1
            measured.append(number)
            answer = measure(run, number, popup(number), features, 20)
            times.append(None if answer is None else answer.get("ms"))
            gaps.append(None if answer is None else answer.get("maxGap"))
        # A page that loaded tells so as it loads; let the last one's message come in.
        time.sleep(1.0)
        with run.lock:
            result["loaded"] = sum(1 for i in measured if str(i) in run.loaded)
        result["times_ms"] = times
        result["max_poll_gap_ms"] = gaps
        if watch:
            lifetimes = watch.lifetimes()
            result["window_ms"] = [lifetimes.get(i) for i in measured]
    except Exception as error:  # the case is reported as failed, the others still run
        result["error"] = str(error)
        say("%s failed: %s (logs in %s)" % (name, error, folder))
    finally:
        run.orders.put({"stop": True})
        if watch:
            watch.stop()
        processes.stop()
        server.runs.pop(name, None)
    result["ended"] = time.strftime("%Y-%m-%d %H:%M:%S")
    result["load_after"] = load_average()
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stage")
    parser.add_argument("out")
    parser.add_argument("--count", type=int, default=50)
    parser.add_argument("--only", default="")
    parser.add_argument("--mode", default="timeout", choices=["timeout", "channel"])
    options = parser.parse_args()
    token = os.environ.get("POPBENCH_RUN", "popbench")
    work = tempfile.mkdtemp(prefix="popbench-")
    number = 90
    while os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
        number += 1
    display = ":%d" % number
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                             "-noreset"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    server = PageServer()
    results = []
    try:
        if not wait_for(20, lambda: subprocess.run(["xdpyinfo", "-display", display],
                                                   stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL).returncode == 0):
            raise RuntimeError("Xvfb did not start")
        for case in CASES:
            if options.only and options.only not in case[0]:
                continue
            say("%s: %d popups" % (case[0], options.count))
            results.append(run_case(case, server, options.stage, work, display, options.count,
                                    options.mode, token))
            with open(options.out, "w") as file:
                json.dump({"count": options.count, "warmups_after_first_close": WARMUPS,
                           "limit_ms": LIMIT_MS, "cases": results}, file, indent=1)
    finally:
        server.stop()
        xvfb.kill()
        xvfb.wait()
        if not os.environ.get("POPBENCH_KEEP"):
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
