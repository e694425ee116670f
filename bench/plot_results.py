#!/usr/bin/env python3
"""Draws the benchmark plots as SVG files from the CSV files in bench/results/.

    python3 bench/plot_results.py [RESULTS_FOLDER] [OUTPUT_FOLDER]

Writes startup.svg (start-up time against the number of daemons, host and bare loader),
refresh.svg (main-thread time of one refresh against the number of rows, the rows shown
against every row, the host's indexed lookup against a scan of the rows) and latency.svg
(command latency against the number of daemons, beside the reaper's full pass). Plain SVG,
no plotting library needed.
"""
import csv
import math
import os
import statistics
import sys

WIDTH, HEIGHT = 640, 400
LEFT, RIGHT, TOP, BOTTOM = 70, 170, 40, 50
COLOURS = ["#1f5fa8", "#c0392b", "#2e8b57", "#8e44ad", "#d68910"]


def read_rows(path):
    """The rows of a CSV file whose first line may be a '# measured ...' comment."""
    if not os.path.exists(path):
        return []
    with open(path, newline="") as f:
        lines = [line for line in f if not line.startswith("#")]
    return list(csv.DictReader(lines))


def median_by(rows, key, value, keep=lambda r: True):
    """{key: median of value} over the rows kept, leaving out failed (negative) figures."""
    groups = {}
    for r in rows:
        if not keep(r):
            continue
        v = float(r[value])
        if v >= 0:
            groups.setdefault(float(r[key]), []).append(v)
    return {k: statistics.median(v) for k, v in sorted(groups.items())}


def nice_ticks(low, high, log):
    if log:
        first, last = math.floor(math.log10(low)), math.ceil(math.log10(high))
        last = max(last, first + 1)  # a single value still gets an axis
        return [10.0 ** e for e in range(first, last + 1)]
    high = max(high, low + 1)
    step = 10 ** math.floor(math.log10(max(high - low, 1e-9)))
    for factor in (1, 2, 5, 10):
        if (high - low) / (step * factor) <= 8:
            step *= factor
            break
    start = math.floor(low / step) * step
    ticks, t = [], start
    while t <= high + step * 0.01:
        ticks.append(t)
        t += step
    return ticks


def label(v):
    if v >= 1 and v == int(v):
        return f"{int(v):,}"
    return f"{v:g}"


def line_chart(path, title, x_title, y_title, series, log_x=True, log_y=True):
    """series: [(name, {x: y}, dashed)]; writes an SVG line chart with markers."""
    points = [(x, y) for _, data, _ in series for x, y in data.items() if (x > 0 or not log_x) and (y > 0 or not log_y)]
    if not points:
        return False
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    x_ticks = nice_ticks(min(xs), max(xs), log_x)
    y_ticks = nice_ticks(min(ys), max(ys), log_y) if log_y else nice_ticks(0, max(ys), False)
    x_lo, x_hi, y_lo, y_hi = x_ticks[0], x_ticks[-1], y_ticks[0], y_ticks[-1]

    def sx(x):
        a, b, v = (math.log10(x_lo), math.log10(x_hi), math.log10(x)) if log_x else (x_lo, x_hi, x)
        return LEFT + (v - a) / (b - a) * (WIDTH - LEFT - RIGHT)

    def sy(y):
        a, b, v = (math.log10(y_lo), math.log10(y_hi), math.log10(y)) if log_y else (y_lo, y_hi, y)
        return HEIGHT - BOTTOM - (v - a) / (b - a) * (HEIGHT - TOP - BOTTOM)

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{WIDTH}" height="{HEIGHT}" fill="white"/>',
           f'<text x="{WIDTH / 2}" y="22" text-anchor="middle" font-size="15">{title}</text>']
    for t in x_ticks:
        out.append(f'<line x1="{sx(t):.1f}" y1="{TOP}" x2="{sx(t):.1f}" y2="{HEIGHT - BOTTOM}" stroke="#ddd"/>')
        out.append(f'<text x="{sx(t):.1f}" y="{HEIGHT - BOTTOM + 16}" text-anchor="middle">{label(t)}</text>')
    for t in y_ticks:
        out.append(f'<line x1="{LEFT}" y1="{sy(t):.1f}" x2="{WIDTH - RIGHT}" y2="{sy(t):.1f}" stroke="#ddd"/>')
        out.append(f'<text x="{LEFT - 6}" y="{sy(t) + 4:.1f}" text-anchor="end">{label(t)}</text>')
    out.append(f'<rect x="{LEFT}" y="{TOP}" width="{WIDTH - LEFT - RIGHT}" height="{HEIGHT - TOP - BOTTOM}" '
               f'fill="none" stroke="#444"/>')
    out.append(f'<text x="{LEFT + (WIDTH - LEFT - RIGHT) / 2}" y="{HEIGHT - 12}" text-anchor="middle">{x_title}</text>')
    out.append(f'<text transform="translate(16 {TOP + (HEIGHT - TOP - BOTTOM) / 2}) rotate(-90)" '
               f'text-anchor="middle">{y_title}</text>')
    for i, (name, data, dashed) in enumerate(series):
        colour = COLOURS[i % len(COLOURS)]
        kept = [(x, y) for x, y in sorted(data.items()) if (x > 0 or not log_x) and (y > 0 or not log_y)]
        if not kept:
            continue
        dash = ' stroke-dasharray="6 4"' if dashed else ""
        line = " ".join(f"{sx(x):.1f},{sy(y):.1f}" for x, y in kept)
        out.append(f'<polyline points="{line}" fill="none" stroke="{colour}" stroke-width="2"{dash}/>')
        if not dashed:
            out.extend(f'<circle cx="{sx(x):.1f}" cy="{sy(y):.1f}" r="3.5" fill="{colour}"/>' for x, y in kept)
        ly = TOP + 14 + 20 * i
        out.append(f'<line x1="{WIDTH - RIGHT + 12}" y1="{ly - 4}" x2="{WIDTH - RIGHT + 36}" y2="{ly - 4}" '
                   f'stroke="{colour}" stroke-width="2"{dash}/>')
        out.append(f'<text x="{WIDTH - RIGHT + 42}" y="{ly}">{name}</text>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")
    return True


def reaper_pass_ms(n, floor=10, batched=50):
    """A full pass over n daemons: the designed period, or, below the timer's floor, ticks
    every 50 ms that visit ceil(n / 10) daemons each."""
    period = 512 // (n + 1)
    if period >= floor:
        return n * period
    batch = math.ceil(n / ((512 - 1) // batched))
    return math.ceil(n / batch) * batched


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    results = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "results")
    output = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "..", "docs", "performance")
    os.makedirs(output, exist_ok=True)
    made = []

    startup = read_rows(os.path.join(results, "startup.csv"))
    if startup and line_chart(
            os.path.join(output, "startup.svg"), "Start-up until every EntryPoint has begun",
            "daemons", "milliseconds (median)",
            [("host", median_by(startup, "daemons", "all_entered_ms", lambda r: r["program"] == "host"), False),
             ("bare loader", median_by(startup, "daemons", "all_entered_ms", lambda r: r["program"] == "bare"),
              False)]):
        made.append("startup.svg")

    rows = read_rows(os.path.join(results, "refresh_rows.csv"))
    if rows and line_chart(
            os.path.join(output, "refresh.svg"), "Main-thread time of one refresh", "rows",
            "milliseconds per refresh",
            [("host's refresh (rows shown)", median_by(rows, "rows", "cpu_ms", lambda r: r["measure"] == "refresh"),
              False),
             ("the same for every row",
              median_by(rows, "rows", "cpu_ms", lambda r: r["measure"] == "refresh_every_row"), False),
             ("row lookups, index", median_by(rows, "rows", "cpu_ms", lambda r: r["measure"] == "refresh_find_row"),
              False),
             ("row lookups, scan",
              median_by(rows, "rows", "cpu_ms", lambda r: r["measure"] == "refresh_find_row_by_scan"), False),
             ("5 ms target", {x: 5.0 for x in median_by(rows, "rows", "cpu_ms")}, True)]):
        made.append("refresh.svg")

    latency = read_rows(os.path.join(results, "latency.csv"))
    if latency:
        series = []
        for kind in ("stop", "pause"):
            series.append((f"{kind} (median)", median_by(latency, "daemons", "milliseconds",
                                                         lambda r, k=kind: r["kind"] == k), False))
        counts = median_by(latency, "daemons", "milliseconds")
        series.append(("full reaper pass", {n: reaper_pass_ms(int(n)) for n in counts}, True))
        if line_chart(os.path.join(output, "latency.svg"), "From a command to the daemon seeing it", "daemons",
                      "milliseconds", series, log_y=False):
            made.append("latency.svg")

    print("wrote " + (", ".join(made) if made else "nothing") + " to " + output)


if __name__ == "__main__":
    main()
