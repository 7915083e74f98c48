"""Watches the top-level windows of an X display: for each window whose title names popup
number i ("pub-zone <i>"), when it was first there with that title (mapped, titled) and when
it went (unmapped or destroyed), on time.monotonic()."""
import re
import select
import threading
import time

from Xlib import X, display

NUMBER = re.compile(r"pub-zone (\d+)")


class WindowWatch:
    def __init__(self, name):
        self.display = display.Display(name)
        # A window may go between its creation and our first request about it.
        self.display.set_error_handler(lambda *arguments: None)
        self.root = self.display.screen().root
        self.netName = self.display.intern_atom("_NET_WM_NAME")
        self.utf8 = self.display.intern_atom("UTF8_STRING")
        self.windows = {}  # id -> {"mapped": t or None, "number": i or None}
        self.appeared = {}  # i -> t
        self.gone = {}  # i -> t
        self.lock = threading.Lock()
        self.stopping = False
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()
        self.thread = threading.Thread(target=self.loop, daemon=True)
        self.thread.start()

    def title(self, window):
        try:
            value = window.get_full_property(self.netName, self.utf8)
            if value is not None:
                return value.value.decode("utf-8", "replace")
            value = window.get_wm_name()
            return value if isinstance(value, str) else ""
        except Exception:
            return ""

    def follow(self, window, now):
        state = {"mapped": None, "number": None}
        self.windows[window.id] = state
        try:
            window.change_attributes(event_mask=X.PropertyChangeMask | X.StructureNotifyMask)
            if window.get_attributes().map_state == X.IsViewable:
                state["mapped"] = now
        except Exception:
            return
        self.retitle(window, state, now)

    def retitle(self, window, state, now):
        found = NUMBER.search(self.title(window))
        if found and state["number"] is None:
            state["number"] = int(found.group(1))
        self.check(state, now)

    def check(self, state, now):
        number = state["number"]
        if number is not None and state["mapped"] is not None:
            with self.lock:
                self.appeared.setdefault(number, now)

    def went(self, windowId, now):
        state = self.windows.get(windowId)
        if state and state["number"] is not None and state["number"] in self.appeared:
            with self.lock:
                self.gone.setdefault(state["number"], now)

    def loop(self):
        while not self.stopping:
            if not self.display.pending_events():
                select.select([self.display.fileno()], [], [], 0.1)
                if not self.display.pending_events():
                    continue
            event = self.display.next_event()
            now = time.monotonic()
            kind = event.type
            if kind == X.CreateNotify and event.parent == self.root:
                self.follow(event.window, now)
            elif kind == X.MapNotify and event.window.id in self.windows:
                state = self.windows[event.window.id]
                if state["mapped"] is None:
                    state["mapped"] = now
                self.check(state, now)
            elif kind == X.PropertyNotify and event.window.id in self.windows:
                self.retitle(event.window, self.windows[event.window.id], now)
            elif kind in (X.UnmapNotify, X.DestroyNotify):
                self.went(event.window.id, now)

    def lifetimes(self):
        """Popup number -> ms from its window's appearance with the title to its going."""
        with self.lock:
            return {i: (self.gone[i] - t) * 1000 for i, t in self.appeared.items() if i in self.gone}

    def stop(self):
        self.stopping = True
        self.thread.join(2)
        self.display.close()
