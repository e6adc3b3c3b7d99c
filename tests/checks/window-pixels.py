#!/usr/bin/env python3
"""Reads pixels back from a screenshot (through ImageMagick's text output; no imaging module).

  window-pixels.py has PNG X Y W H RRGGBB [TOLERANCE]   exit 0 when a pixel of the box is that colour
  window-pixels.py at PNG X Y                           prints the pixel as RRGGBB
  window-pixels.py green PNG X Y W H                    exit 0 when the box holds a clearly green pixel
  window-pixels.py extent PNG X Y W RRGGBB [TOLERANCE]  prints how far right of X the row's last pixel
                                                        of that colour lies (a bar's fill; -1: none)
"""
import re
import subprocess
import sys


def pixels(png, x, y, w, h):
    out = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8", "txt:-"],
                         check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.search(r"#([0-9A-Fa-f]{6})", line)
        if m and not line.startswith("#"):
            v = int(m.group(1), 16)
            yield (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF


def main():
    cmd, png = sys.argv[1], sys.argv[2]
    if cmd == "at":
        x, y = int(sys.argv[3]), int(sys.argv[4])
        r, g, b = next(pixels(png, x, y, 1, 1))
        print(f"{r:02X}{g:02X}{b:02X}")
        return 0
    if cmd == "extent":
        x, y, w = (int(v) for v in sys.argv[3:6])
        want = int(sys.argv[6], 16)
        tol = int(sys.argv[7]) if len(sys.argv) > 7 else 0
        wr, wg, wb = (want >> 16) & 0xFF, (want >> 8) & 0xFF, want & 0xFF
        last = -1
        for i, (r, g, b) in enumerate(pixels(png, x, y, w, 1)):
            if abs(r - wr) <= tol and abs(g - wg) <= tol and abs(b - wb) <= tol:
                last = i
        print(last)
        return 0
    x, y, w, h = (int(v) for v in sys.argv[3:7])
    if cmd == "has":
        want = int(sys.argv[7], 16)
        tol = int(sys.argv[8]) if len(sys.argv) > 8 else 0
        wr, wg, wb = (want >> 16) & 0xFF, (want >> 8) & 0xFF, want & 0xFF
        for r, g, b in pixels(png, x, y, w, h):
            if abs(r - wr) <= tol and abs(g - wg) <= tol and abs(b - wb) <= tol:
                return 0
        return 1
    if cmd == "green":
        return 0 if any(g > r + 40 and g > b + 40 for r, g, b in pixels(png, x, y, w, h)) else 1
    return 2


sys.exit(main())
