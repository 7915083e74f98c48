"""Prints the table of bench/popups.sh from its JSON: old beside new (and the extension's floor),
median and 95th percentile, and the targets. A popup never closed counts as slower than any."""
import json
import math
import sys

INFINITE = float("inf")


def percentile(values, share):
    ordered = sorted(INFINITE if v is None else v for v in values)
    if not ordered:
        return None
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def show(value):
    if value is None:
        return "—"
    if value == INFINITE:
        return "not closed"
    return "%.0f ms" % value


def summary(case, key="times_ms"):
    if case is None:
        return {"absent": True}
    if "error" in case or key not in case:
        return None
    values = case[key]
    return {"median": percentile(values, 0.5), "p95": percentile(values, 0.95),
            "missed": sum(1 for v in values if v is None), "n": len(values),
            "loaded": case.get("loaded")}


def cell(stats):
    if stats is None:
        return "failed", "—"
    if "absent" in stats:
        return "not run", "—"
    missed = " (%d never)" % stats["missed"] if stats["missed"] else ""
    return show(stats["median"]) + missed, show(stats["p95"])


def main():
    with open(sys.argv[1]) as file:
        data = json.load(file)
    cases = {case["case"]: case for case in data["cases"]}
    rows = []

    def row(label, old, new, floor, targets):
        met = []
        for name, value, limit, _ in targets:
            if new is None or "absent" in new or value is None:
                met.append("%s: not measured" % name)
            else:
                met.append("%s: %s" % (name, "yes" if value <= limit else "**no**"))
        rows.append([label, *cell(old), *cell(new), *(("", "") if floor is False else cell(floor)),
                     "; ".join(t for t in [target[3] for target in targets] if t),
                     "; ".join(met)])

    for browser in ("chromium", "firefox"):
        old = summary(cases.get("bridge-%s-old" % browser))
        new = summary(cases.get("bridge-%s-new" % browser))
        floor = summary(cases.get("bridge-%s-floor" % browser))
        get = (lambda s, k: s.get(k) if s else None)
        targets = [("median", get(new, "median"), 100, "median ≤ 100 ms"),
                   ("p95", get(new, "p95"), 200, "p95 ≤ 200 ms")]
        if floor and "absent" not in floor:
            targets.append(("2× floor", get(new, "median"), 2 * floor["median"],
                            "median ≤ 2 × floor (%.0f ms)" % (2 * floor["median"])))
        row("bridge, %s" % browser.capitalize(), old, new, floor, targets)
    for label, prefix in (("DevTools, Chromium", "devtools-chromium"),
                          ("BiDi, Firefox", "bidi-firefox")):
        new = summary(cases.get(prefix + "-new"))
        row(label, summary(cases.get(prefix + "-old")), new, False,
            [("median", new and new.get("median"), 150, "median ≤ 150 ms")])
    old = summary(cases.get("x11-chromium-old"))
    new = summary(cases.get("x11-chromium-new"))
    row("X11 window, Chromium: window.open() to closed", old, new, False, [])
    old = summary(cases.get("x11-chromium-old"), "window_ms")
    new = summary(cases.get("x11-chromium-new"), "window_ms")
    row("X11 window, Chromium: window shown with its title to gone", old, new, False,
        [("median", new and new.get("median"), 50, "median ≤ 50 ms")])

    print("| Case | Old, median | Old, p95 | New, median | New, p95 | Floor, median | Floor, p95 "
          "| Target (new) | Met |")
    print("|---|---:|---:|---:|---:|---:|---:|---|---|")
    for cells in rows:
        print("| " + " | ".join(cells) + " |")
    print()
    print("Popups whose page fired its load event (bridge): " + "; ".join(
        "%s old %s, new %s, floor %s of %d" % (
            browser.capitalize(),
            *[str(cases.get("bridge-%s-%s" % (browser, v), {}).get("loaded", "—"))
              for v in ("old", "new", "floor")], data["count"])
        for browser in ("chromium", "firefox")))
    print("Each case: %d popups measured, after warm-up popups (until the first one closed "
          "without the opener, then %d more) left out; a popup not closed within %d ms is closed "
          "by the opener and counted as never closed." % (
              data["count"], data["warmups_after_first_close"], data["limit_ms"]))
    for case in data["cases"]:
        gaps = [g for g in case.get("max_poll_gap_ms", []) if g is not None]
        print("  %-22s %s to %s, load %s -> %s, opener's largest wait between two looks at the "
              "popup: %s at the median popup, %s at most%s" % (
            case["case"], case["started"], case["ended"][11:], case["load_before"],
            case["load_after"], ("%.0f ms" % percentile(gaps, 0.5)) if gaps else "—",
            ("%.0f ms" % max(gaps)) if gaps else "—",
            ", error: " + case["error"] if "error" in case else ""))


if __name__ == "__main__":
    main()
