#!/usr/bin/env python3
"""Draws the MAINICON set (a sky-blue tile with a play arrow turning into a file) as PNGs
and as one SVG for the desktop's scalable icon, and the two check-box marks of the Sky style.

Plain Python (zlib only), so it runs anywhere: python3 make_mainicon.py
Each size is rendered on its own with 4x4 supersampling, so small sizes stay crisp.
"""
import os
import struct
import zlib

SIZES = [16, 24, 32, 44, 48, 64, 128, 150, 256]
SS = 4


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_triangle(x, y, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1 = side((x, y), a, b)
    d2 = side((x, y), b, c)
    d3 = side((x, y), c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def sample(u, v):
    """Colour (r, g, b, a) at unit coordinates u, v in [0, 1)."""
    m = 0.04
    if not inside_round_rect(u, v, m, m, 1 - m, 1 - m, 0.2):
        return (0, 0, 0, 0)
    # Tile: sky gradient, darker at the bottom, with a thin lighter rim.
    col = lerp((96, 178, 240), (16, 86, 170), v)
    if not inside_round_rect(u, v, m + 0.03, m + 0.03, 1 - m - 0.03, 1 - m - 0.03, 0.17):
        col = lerp(col, (255, 255, 255), 0.35)
    # A white play arrow.
    if inside_triangle(u, v, (0.30, 0.24), (0.30, 0.70), (0.70, 0.47)):
        return (255, 255, 255, 255)
    # Below it, an orange bar: the stream landing in one file.
    if inside_round_rect(u, v, 0.24, 0.76, 0.76, 0.84, 0.04):
        return (255, 170, 40, 255)
    return (int(col[0]), int(col[1]), int(col[2]), 255)


def check_sample(u, v, ticked):
    if not inside_round_rect(u, v, 0.0, 0.0, 1.0, 1.0, 0.12):
        return (0, 0, 0, 0)
    if not inside_round_rect(u, v, 0.08, 0.08, 0.92, 0.92, 0.08):
        return (10, 79, 143, 255)
    if ticked:
        # Two strokes of a tick.
        def near_segment(px, py, ax, ay, bx, by, w):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
            cx, cy = ax + t * dx, ay + t * dy
            return (px - cx) ** 2 + (py - cy) ** 2 <= w * w
        if near_segment(u, v, 0.24, 0.52, 0.43, 0.72, 0.09) or \
                near_segment(u, v, 0.43, 0.72, 0.78, 0.28, 0.09):
            return (16, 86, 170, 255)
    return (255, 255, 255, 255)


def render(size, fn=sample):
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    r, g, b, a = fn((x + (sx + 0.5) / SS) / size, (y + (sy + 0.5) / SS) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SS * SS
            alpha = acc[3] / n
            if acc[3] > 0:
                px = [acc[i] / acc[3] for i in range(3)]
            else:
                px = [0, 0, 0]
            row += bytes([int(round(px[0])), int(round(px[1])), int(round(px[2])), int(round(alpha))])
        rows.append(bytes(row))
    return png(size, size, b"".join(rows))


def png(w, h, raw):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    head = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def svg():
    """The same drawing as sample(), in a 256 unit square."""
    def u(x):
        return "%g" % round(x * 256, 2)
    m, rim = 0.04, 0.03
    return "\n".join([
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        '<defs><linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">',
        '<stop offset="0" stop-color="#60b2f0"/><stop offset="1" stop-color="#1056aa"/>',
        '</linearGradient></defs>',
        '<rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="url(#sky)"/>'
        % (u(m), u(m), u(1 - 2 * m), u(1 - 2 * m), u(0.2)),
        '<rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="none" stroke="#ffffff" '
        'stroke-opacity="0.35" stroke-width="%s"/>'
        % (u(m + rim / 2), u(m + rim / 2), u(1 - 2 * m - rim), u(1 - 2 * m - rim), u(0.185),
           u(rim)),
        '<polygon points="%s,%s %s,%s %s,%s" fill="#ffffff"/>'
        % (u(0.30), u(0.24), u(0.30), u(0.70), u(0.70), u(0.47)),
        '<rect x="%s" y="%s" width="%s" height="%s" rx="%s" fill="#ffaa28"/>'
        % (u(0.24), u(0.76), u(0.52), u(0.08), u(0.04)),
        '</svg>', ''])


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "MAINICON")
    os.makedirs(out, exist_ok=True)
    for s in SIZES:
        with open(os.path.join(out, "%d.png" % s), "wb") as f:
            f.write(render(s))
    with open(os.path.join(out, "scalable.svg"), "w") as f:
        f.write(svg())
    styles = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "styles")
    for name, ticked in (("check-on.png", True), ("check-off.png", False)):
        with open(os.path.join(styles, name), "wb") as f:
            f.write(render(14, lambda u, v, t=ticked: check_sample(u, v, t)))
