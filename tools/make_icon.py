#!/usr/bin/env python3
"""Draws the Kestrun icon and writes it as a Windows .ico (16x16 and 32x32, 256 colours).

The picture: an orange rounded badge with a white "K" whose left stroke trails three
speed lines, on a transparent background. Shapes are rasterised with 8x8 supersampling,
so the edges are smooth; the result is reduced to one 256-colour palette per image.

    tools/make_icon.py [OUTPUT.ico]      (default: client/res/kestrun.ico)
    tools/make_icon.py --check FILE.ico  (exit 1 if FILE differs from what this draws)
"""
import struct
import sys
from pathlib import Path

SUPER = 8
BADGE = (232, 106, 30)     # orange
BADGE_DARK = (168, 64, 12)  # its rim
MARK = (255, 255, 255)
TRAIL = (255, 214, 170)


def rounded_rect(x, y, x0, y0, x1, y1, r):
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and x0 <= x <= x1 and y0 <= y <= y1


def in_polygon(x, y, pts):
    inside = False
    n = len(pts)
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return inside


def shade(u, v):
    """Colour and coverage at a point of the unit square (0..1, y down)."""
    if not rounded_rect(u, v, 0.02, 0.02, 0.98, 0.98, 0.2):
        return None
    colour = BADGE
    if not rounded_rect(u, v, 0.08, 0.08, 0.92, 0.92, 0.15):
        colour = BADGE_DARK
    # The K: a vertical stem and two slanted arms.
    stem = (0.40, 0.20, 0.53, 0.80)
    upper = [(0.50, 0.52), (0.72, 0.20), (0.88, 0.20), (0.58, 0.58)]
    lower = [(0.55, 0.47), (0.88, 0.80), (0.72, 0.80), (0.48, 0.58)]
    if stem[0] <= u <= stem[2] and stem[1] <= v <= stem[3]:
        return MARK
    if in_polygon(u, v, upper) or in_polygon(u, v, lower):
        return MARK
    # Speed lines trailing the stem.
    for top, left in ((0.27, 0.20), (0.45, 0.12), (0.63, 0.20)):
        if left <= u <= 0.35 and top <= v <= top + 0.09:
            return TRAIL
    return colour


def render(size):
    """Rows of (r, g, b, opaque) pixels, top row first."""
    rows = []
    n = SUPER * SUPER
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SUPER):
                for sx in range(SUPER):
                    c = shade((x + (sx + 0.5) / SUPER) / size, (y + (sy + 0.5) / SUPER) / size)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits * 2 < n:
                row.append((0, 0, 0, False))
            else:
                row.append(tuple(round(a / hits) for a in acc) + (True,))
        rows.append(row)
    return rows


def palette_of(rows):
    """At most 256 colours: the most frequent ones, ties broken by value (deterministic)."""
    counts = {}
    for row in rows:
        for r, g, b, opaque in row:
            if opaque:
                counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    colours = sorted(counts, key=lambda c: (-counts[c], c))[:255]
    return [(0, 0, 0)] + colours  # entry 0 lies under the transparent pixels


def nearest(palette, colour):
    return min(range(1, len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def dib(size):
    rows = render(size)
    palette = palette_of(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    colours += b"\0" * 4 * (256 - len(palette))
    pixels = b""
    mask = b""
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        pixels += bytes(nearest(palette, p[:3]) if p[3] else 0 for p in row)
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if not p[3]:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colours + pixels + mask


def icon():
    images = [(16, dib(16)), (32, dib(32))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main(argv):
    root = Path(__file__).resolve().parent.parent
    if len(argv) == 3 and argv[1] == "--check":
        same = Path(argv[2]).read_bytes() == icon()
        print("icon up to date" if same else "icon differs from tools/make_icon.py's drawing")
        return 0 if same else 1
    target = Path(argv[1]) if len(argv) > 1 else root / "client" / "res" / "kestrun.ico"
    target.write_bytes(icon())
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
