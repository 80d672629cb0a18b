#!/usr/bin/env python3
"""The progress dialog on screens of 96, 144 and 192 DPI under Wine: laid out for the
screen's DPI with every control inside it, read from outside by window_probe and the X
server, and photographed into the test's output directory.

Usage: dpi_e2e.py SCENARIO | --list      (exit 0 pass, 1 fail, 77 skipped)
"""

import os
import pathlib
import shutil
import subprocess
import sys

from harness import (PROGRESS_CAPTION, ROOT, SKIP, check, entry, private_wine, probe, run_scenarios,
                     visible_window, wait_until, window_state, write_sea)

# Wine takes the system DPI from the desktop key, and from the current hardware profile's
# fonts key when the desktop key has none; each process reads it when it starts.
DPI_KEYS = (r"HKCU\Control Panel\Desktop",
            r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts")
DPIS = (96, 144, 192)
PROMPT, BUTTON = 200, 2
TOLERANCE = 0.15
OUTPUT = pathlib.Path(os.environ.get("KOVSEA_E2E_OUTPUT", ROOT / "build" / "e2e-output" / "dpi_e2e"))


def parse_layout(text):
    """window_probe's layout: {"window": rect, "client": rect, "dpi": n, "controls": {id: (class,
    rect, text)}}, rectangles as (left, top, right, bottom)."""
    layout = {"controls": {}}
    # Lines end in "\n" only; splitlines() would also break inside a text at U+0085 or U+2028.
    for line in text.split("\n"):
        fields = line.split(" ", 7)
        if fields[0] in ("window", "client"):
            layout[fields[0]] = tuple(map(int, fields[1:5]))
        elif fields[0] == "dpi":
            layout["dpi"] = int(fields[1])
        elif fields[0] == "control":
            layout["controls"][int(fields[1])] = (fields[2], tuple(map(int, fields[3:7])),
                                                  fields[7] if len(fields) > 7 else "")
    return layout


def size(rect):
    return rect[2] - rect[0], rect[3] - rect[1]


def x_window_size(title):
    """The size the X server gives the window's client area, read with xdotool."""
    window = visible_window(title)
    out = subprocess.run(["xdotool", "getwindowgeometry", window or "0"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL).stdout.decode()
    for line in out.splitlines():
        if "Geometry:" in line:
            return tuple(map(int, line.split()[1].split("x")))
    return None


def dialog_at(dpi, work):
    """Runs a damaged self-extractor at `dpi`: its "not valid" box is owned by the progress
    dialog, which stays up until the box is dismissed. Returns the dialog's layout."""
    stream = entry("Disk1\\Setup.exe", b"MZ" * 100)[:-10]  # cut inside the entry's data
    sea = work / f"damaged-{dpi}.exe"
    write_sea(sea, stream)
    with private_wine() as wine:
        for key in DPI_KEYS:
            wine.reg_set_dword(key, "LogPixels", dpi)
        wine.stop()
        running = wine.start(sea)
        try:
            check(wait_until(lambda: visible_window("KOV Error") is not None, 60), f"{dpi} DPI: no box appeared")
            check(wait_until(lambda: (window_state(wine, work, PROGRESS_CAPTION) or {}).get("visible") == 1, 30),
                  f"{dpi} DPI: the dialog is not shown behind its box")
            rc, text = probe(wine, work, "layout", PROGRESS_CAPTION)
            check(rc == 0, f"{dpi} DPI: the dialog's layout could not be read")
            layout = parse_layout(text)
            layout["x_size"] = x_window_size(PROGRESS_CAPTION)
            # The box goes to the screen's corner, so that the picture shows the whole dialog.
            subprocess.run(["xdotool", "windowmove", visible_window("KOV Error"), "0", "0"], check=False)
            OUTPUT.mkdir(parents=True, exist_ok=True)
            shot = OUTPUT / f"dialog-{dpi}dpi.png"
            subprocess.run(["import", "-window", "root", str(shot)], check=True)
            print(f"{dpi} DPI: screenshot {shot}")
            print(text.strip())
            rc, box = probe(wine, work, "box", 30000)
            check(rc == 0 and "text=This is not a valid KOV SEA file!" in box, f"{dpi} DPI: the box: {box}")
            check(f"owner={PROGRESS_CAPTION}" in box, f"{dpi} DPI: the box is not owned by the dialog: {box}")
            check(running.wait(timeout=60) == 1, f"{dpi} DPI: exit code is not 1")
        finally:
            if running.poll() is None:
                running.kill()
    return layout


def check_inside(dpi, layout):
    left, top, right, bottom = layout["client"]
    for control, (cls, (l, t, r, b), text) in layout["controls"].items():
        check(left <= l < r <= right and top <= t < b <= bottom,
              f"{dpi} DPI: control {control} ({cls} {text!r}) at {(l, t, r, b)} leaves the client area {layout['client']}")


def check_scaled(dpi, what, got, base):
    want = dpi / 96
    for axis, g, b in zip(("width", "height"), size(got), size(base)):
        check(abs(g / b - want) <= TOLERANCE * want,
              f"{dpi} DPI: {what} {axis} {g} is {g / b:.2f} x its 96-DPI {b}, expected {want:.2f} x")


def dialog_scales_with_dpi(work):
    """At 144 and 192 DPI the dialog is 1.5 and 2 times its 96-DPI size, its prompt and its
    button with it, and no control reaches past its client area, as the X server shows it."""
    for tool in ("import", "xdotool"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is missing")
            raise SystemExit(SKIP)
    layouts = {dpi: dialog_at(dpi, work) for dpi in DPIS}
    base = layouts[96]
    for dpi, layout in layouts.items():
        check(layout.get("dpi") == dpi, f"the dialog sees {layout.get('dpi')} DPI, not {dpi}")
        check({PROMPT, BUTTON} <= set(layout["controls"]), f"{dpi} DPI: controls {sorted(layout['controls'])}")
        check(layout["x_size"] == size(layout["client"]),
              f"{dpi} DPI: the X server shows {layout['x_size']}, Wine's client area is {size(layout['client'])}")
        check_inside(dpi, layout)
        check_scaled(dpi, "the dialog", layout["window"], base["window"])
        for control in (PROMPT, BUTTON):
            cls, rect, text = layout["controls"][control]
            check_scaled(dpi, f"{cls} {text!r}", rect, base["controls"][control][1])


if __name__ == "__main__":
    sys.exit(run_scenarios(__doc__, [dialog_scales_with_dpi]))
