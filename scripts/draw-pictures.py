#!/usr/bin/env python3
"""Draws Calbrune's pictures into res/: the wizard header and watermark
bitmaps and the program icon. Everything is drawn here, from signed distance
shapes with analytic anti-aliasing, then reduced to a 256-colour palette.
Standard library only; the output is the same byte for byte on every run."""

import math
import os
import struct

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(REPO, "res")


def hexrgb(h):
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def mix(a, b, t):
    t = 0.0 if t < 0 else 1.0 if t > 1 else t
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def smooth(t):
    t = 0.0 if t < 0 else 1.0 if t > 1 else t
    return t * t * (3 - 2 * t)


NAVY = hexrgb("#0b2350")
DEEP = hexrgb("#15418a")
BLUE = hexrgb("#1f64b4")
TEAL = hexrgb("#17a0a0")
AQUA = hexrgb("#5fd3c8")
SOFT = hexrgb("#f4f8fb")
WHITE = (1.0, 1.0, 1.0)


# --- shapes: each returns the signed distance in pixels (negative inside) ---

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rbox(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return d


def segment(ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy

    def d(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - w / 2
    return d


def ellipse(cx, cy, a, b, angle):
    c, s = math.cos(angle), math.sin(angle)

    def d(x, y):
        px, py = (x - cx) * c + (y - cy) * s, -(x - cx) * s + (y - cy) * c
        k0 = math.hypot(px / a, py / b)
        k1 = math.hypot(px / (a * a), py / (b * b))
        return k0 * (k0 - 1) / k1 if k1 > 1e-9 else -min(a, b)
    return d


def curve(f, x0, x1, w):
    """Stroke of the graph y = f(x) between x0 and x1, round ends."""
    def d(x, y):
        xc = min(max(x, x0), x1)
        h = 1e-3
        slope = (f(xc + h) - f(xc - h)) / (2 * h)
        dist = abs(y - f(xc)) / math.sqrt(1 + slope * slope)
        if xc != x:
            dist = math.hypot(x - xc, y - f(xc))
        return dist - w / 2
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def cut(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def ring(shape, w):
    return lambda x, y: abs(shape(x, y) + w / 2) - w / 2


def note(x, y, size, flag=True):
    """Eighth note whose head is centred on (x, y); size is the head width."""
    a, b = size / 2, size * 0.34
    head = ellipse(x, y, a, b, -0.42)
    sw = max(1.1, size * 0.17)
    sx = x + a * 0.86 - sw / 2
    top = y - size * 2.1
    pieces = [head, segment(sx, y - b * 0.3, sx, top, sw)]
    if flag:
        k = size * 0.8

        def f(xx):
            t = (xx - sx) / k
            return top + sw * 0.6 + size * 1.05 * t + size * 0.3 * math.sin(t * math.pi)
        pieces.append(curve(f, sx + sw * 0.3, sx + k * 0.85, sw * 1.35))
    return union(*pieces)


# --- canvas ---

class Canvas:
    def __init__(self, w, h, paint):
        self.w, self.h = w, h
        self.px = [list(self._col(paint, i + 0.5, j + 0.5)) for j in range(h) for i in range(w)]

    @staticmethod
    def _col(paint, x, y):
        return paint(x, y) if callable(paint) else paint

    def fill(self, shape, paint, alpha=1.0, box=None, soft=1.0):
        """Blends paint where shape covers; soft widens the edge (glows)."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for j in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            for i in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                x, y = i + 0.5, j + 0.5
                cov = 0.5 - shape(x, y) / soft
                if cov <= 0:
                    continue
                a = (alpha(x, y) if callable(alpha) else alpha) * min(cov, 1.0)
                c = self._col(paint, x, y)
                p = self.px[j * self.w + i]
                for k in range(3):
                    p[k] += (c[k] - p[k]) * a

    def rgb(self):
        return [tuple(int(round(max(0.0, min(1.0, v)) * 255)) for v in p) for p in self.px]


# --- palette ---

def median_cut(pixels, n, keep=()):
    """Palette of at most n colours; the keep colours are in it exactly."""
    hist = {}
    for p in pixels:
        if p not in keep:
            hist[p] = hist.get(p, 0) + 1
    room = n - len(keep)
    cols = sorted(hist)
    if len(cols) <= room:
        pal = list(keep) + cols
    else:
        boxes = [cols]
        while len(boxes) < room:
            best, score = None, -1
            for bi, bx in enumerate(boxes):
                if len(bx) < 2:
                    continue
                rng = max(max(c[k] for c in bx) - min(c[k] for c in bx) for k in range(3))
                s = rng * math.sqrt(sum(hist[c] for c in bx))
                if s > score:
                    best, score = bi, s
            if best is None:
                break
            bx = boxes.pop(best)
            ch = max(range(3), key=lambda k: max(c[k] for c in bx) - min(c[k] for c in bx))
            bx.sort(key=lambda c: (c[ch], c))
            total, acc, cutat = sum(hist[c] for c in bx), 0, 1
            for idx, c in enumerate(bx):
                acc += hist[c]
                if acc * 2 >= total:
                    cutat = min(max(idx + 1, 1), len(bx) - 1)
                    break
            boxes += [bx[:cutat], bx[cutat:]]
        pal = list(keep)
        for bx in boxes:
            t = sum(hist[c] for c in bx)
            pal.append(tuple(int(round(sum(c[k] * hist[c] for c in bx) / t)) for k in range(3)))
    index, out = {}, []
    for p in pixels:
        if p not in index:
            index[p] = min(range(len(pal)), key=lambda q: (
                (pal[q][0] - p[0]) ** 2 * 3 + (pal[q][1] - p[1]) ** 2 * 4 + (pal[q][2] - p[2]) ** 2 * 2, q))
        out.append(index[p])
    return pal, out


# --- files ---

def dib(w, h, pal, idx, height_field=None, clr_used=None, extra=0):
    """BITMAPINFOHEADER, palette and bottom-up 8-bit rows."""
    stride = (w + 3) & ~3
    rows = b"".join(bytes(idx[j * w:(j + 1) * w]) + b"\0" * (stride - w) for j in reversed(range(h)))
    used = len(pal) if clr_used is None else clr_used
    head = struct.pack("<IiiHHIIiiII", 40, w, height_field or h, 1, 8, 0,
                       len(rows) + extra, 2835, 2835, used, 0)
    return head + b"".join(struct.pack("<BBBB", c[2], c[1], c[0], 0) for c in pal), rows


def write_bmp(path, canvas, keep=()):
    pal, idx = median_cut(canvas.rgb(), 256, keep)
    info, rows = dib(canvas.w, canvas.h, pal, idx)
    off = 14 + len(info)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", off + len(rows), 0, 0, off) + info + rows)


def write_ico(path, canvas, opaque):
    w, h = canvas.w, canvas.h
    px = [p if opaque[k] else (0, 0, 0) for k, p in enumerate(canvas.rgb())]
    pal, idx = median_cut(px, 256, keep=((0, 0, 0),))
    pal += [(0, 0, 0)] * (256 - len(pal))
    mstride = ((w + 31) // 32) * 4
    mask = bytearray()
    for j in reversed(range(h)):
        row = bytearray(mstride)
        for i in range(w):
            if not opaque[j * w + i]:
                row[i >> 3] |= 0x80 >> (i & 7)
        mask += row
    info, rows = dib(w, h, pal, idx, height_field=2 * h, clr_used=0, extra=len(mask))
    img = info + rows + bytes(mask)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", w, h, 0, 0, 1, 8, len(img), 22))
        f.write(img)


# --- pictures ---

FONT = {  # 5 x 7
    "M": ["X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"],
    "P": ["XXXX.", "X...X", "X...X", "XXXX.", "X....", "X....", "X...."],
    "3": [".XXX.", "X...X", "....X", "..XX.", "....X", "X...X", ".XXX."],
}


def text_shape(s, x, y, cell):
    boxes = []
    for n, ch in enumerate(s):
        for r, line in enumerate(FONT[ch]):
            for c, v in enumerate(line):
                if v == "X":
                    bx = x + (n * 6 + c) * cell
                    by = y + r * cell
                    boxes.append(rbox(bx - 0.02, by - 0.02, bx + cell + 0.02, by + cell + 0.02, 0.0))
    return union(*boxes)


def tile_paint(x0, y0, size):
    def p(x, y):
        t = ((x - x0) * 0.45 + (y - y0)) / (size * 1.45)
        return mix(DEEP, TEAL, smooth(t * 1.1 - 0.05))
    return p


def wave(cx, amp, period, x0, x1, y0, phase=0.0):
    """Waveform whose amplitude swells in the middle and dies at both ends."""
    def f(x):
        t = (x - x0) / (x1 - x0)
        env = math.sin(math.pi * min(max(t, 0), 1)) ** 1.3
        return y0 + amp * env * math.sin(2 * math.pi * (x - cx) / period + phase)
    return f


def bars(x0, cy, heights, w=2.0, step=3.0):
    """Level bars centred on cy, the sound as a meter draws it."""
    return union(*(rbox(x0 + k * step, cy - hh / 2, x0 + k * step + w, cy + hh / 2, w * 0.3)
                   for k, hh in enumerate(heights)))


def draw_icon():
    c = Canvas(32, 32, tile_paint(1, 1, 30))
    tile = rbox(1, 1, 31, 31, 6.5)
    c.fill(lambda x, y: y - 14, WHITE, alpha=lambda x, y: 0.10 * (1 - y / 14))
    c.fill(ring(tile, 1.2), NAVY, alpha=0.45)
    c.fill(bars(4, 17, [6, 12, 18, 12, 8]), SOFT)
    c.fill(note(22.0, 22.0, 8.0), WHITE)
    opaque = [tile(i + 0.5, j + 0.5) < 0.0 for j in range(32) for i in range(32)]
    return c, opaque


def draw_header():
    c = Canvas(49, 49, WHITE)
    cx, cy, r = 31, 25, 17
    disc = circle(cx, cy, r)
    c.fill(circle(cx + 0.5, cy + 1.5, r + 0.5), NAVY, alpha=0.18, soft=2.5)
    c.fill(disc, tile_paint(cx - r, cy - r, 2 * r))
    c.fill(ring(circle(cx, cy, 11.5), 0.8), WHITE, alpha=0.14)
    c.fill(ring(circle(cx, cy, 14.5), 0.8), WHITE, alpha=0.10)
    c.fill(ring(disc, 1.0), NAVY, alpha=0.35)
    c.fill(note(cx - 2, cy + 6, 9.0), WHITE)
    c.fill(bars(1, cy, [6, 10, 14, 18]), lambda x, y: mix(AQUA, TEAL, x / 12))
    return c


def draw_watermark():
    w, h = 164, 314

    def bg(x, y):
        t = y / h + 0.12 * (x / w - 0.5)
        return mix(NAVY, DEEP, smooth(t * 1.6)) if t < 0.62 else mix(DEEP, TEAL, smooth((t - 0.62) / 0.5))
    c = Canvas(w, h, bg)
    c.fill(circle(120, 60, 30), AQUA, alpha=0.07, soft=90)
    c.fill(circle(40, 270, 20), AQUA, alpha=0.06, soft=80)
    # sound coming in from the left, several quiet strands
    for k, (amp, per, ph, a) in enumerate([(22, 46, 0.0, 0.55), (15, 31, 1.1, 0.30),
                                           (28, 62, 2.3, 0.22), (9, 23, 0.5, 0.35)]):
        f = wave(0, amp, per, -30, 84, 124, ph)
        c.fill(curve(f, -4, 70, 1.6 if k == 0 else 1.1),
               lambda x, y: mix(AQUA, SOFT, x / 90), alpha=a, box=(0, 82, 90, 167))
    # disc
    cx, cy, r = 104, 124, 42
    c.fill(circle(cx + 2, cy + 4, r + 2), NAVY, alpha=0.35, soft=7)
    disc = circle(cx, cy, r)
    c.fill(disc, lambda x, y: mix(BLUE, TEAL, smooth(((x - cx) * 0.5 + (y - cy)) / (2.2 * r) + 0.5)),
           box=(cx - r - 2, cy - r - 2, cx + r + 2, cy + r + 2))
    for rr, a in ((r - 6, 0.10), (r - 13, 0.08), (r - 20, 0.06)):
        c.fill(ring(circle(cx, cy, rr), 0.8), WHITE, alpha=a, box=(cx - r, cy - r, cx + r, cy + r))
    shine = cut(disc, circle(cx + 10, cy + 12, r + 4))
    c.fill(shine, WHITE, alpha=0.09, box=(cx - r, cy - r, cx + r, cy + r))
    c.fill(ring(disc, 1.2), AQUA, alpha=0.45, box=(cx - r - 2, cy - r - 2, cx + r + 2, cy + r + 2))
    c.fill(note(cx - 4, cy + 14, 20), SOFT, box=(cx - 20, cy - 40, cx + 30, cy + 30))
    # MP3
    cell = 5
    tw = 17 * cell
    tx, ty = (w - tw) // 2, 208
    c.fill(text_shape("MP3", tx + 1.5, ty + 2, cell), NAVY, alpha=0.35, soft=2.5, box=(0, ty - 4, w, ty + 45))
    c.fill(text_shape("MP3", tx, ty, cell), SOFT, alpha=0.92, box=(0, ty - 4, w, ty + 45))
    return c


def main():
    os.makedirs(RES, exist_ok=True)
    icon, opaque = draw_icon()
    write_ico(os.path.join(RES, "calbrune.ico"), icon, opaque)
    write_bmp(os.path.join(RES, "header.bmp"), draw_header(), keep=((255, 255, 255),))
    write_bmp(os.path.join(RES, "watermark.bmp"), draw_watermark())


if __name__ == "__main__":
    main()
