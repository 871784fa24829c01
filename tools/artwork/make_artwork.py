#!/usr/bin/env python3
"""Draws qvSetup's artwork and writes it into resources/.

Everything is drawn here from shapes, so the pictures can be remade and
changed: the setup window's face (a progressive JPEG, through cjpeg from
libjpeg-turbo-progs), the message dialog's skin, its four icons, the
title-bar button glyphs and the program icon.

    python3 tools/artwork/make_artwork.py   # from the repository's top
"""
import math
import os
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUT = os.path.join(ROOT, "resources")


class Canvas:
    """RGB pixels, row 0 at the top."""

    def __init__(self, w, h, fill=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def blend(self, x, y, c, a):
        if 0 <= x < self.w and 0 <= y < self.h and a > 0:
            o = self.px[y][x]
            a = min(1.0, a)
            self.px[y][x] = tuple(round(o[i] * (1 - a) + c[i] * a) for i in range(3))

    def shape(self, inside, c, aa=True):
        """Fills where inside(x, y) > 0 (a signed distance, in pixels)."""
        for y in range(self.h):
            for x in range(self.w):
                d = inside(x + 0.5, y + 0.5)
                if aa:
                    self.blend(x, y, c, d + 0.5)
                elif d > 0:
                    self.put(x, y, c)


def disc(cx, cy, r):
    return lambda x, y: r - math.hypot(x - cx, y - cy)


def rounded_rect(x0, y0, x1, y1, r):
    def d(x, y):
        qx = max(x0 + r - x, 0, x - (x1 - r))
        qy = max(y0 + r - y, 0, y - (y1 - r))
        if qx > 0 and qy > 0:
            return r - math.hypot(qx, qy)
        return min(x - x0, x1 - x, y - y0, y1 - y)
    return d


def segment(ax, ay, bx, by, width):
    def d(x, y):
        vx, vy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
        return width / 2 - math.hypot(x - ax - t * vx, y - ay - t * vy)
    return d


def triangle(p, q, r):
    def edge(a, b, x, y):
        ex, ey = b[0] - a[0], b[1] - a[1]
        return ((x - a[0]) * ey - (y - a[1]) * ex) / math.hypot(ex, ey)
    def d(x, y):
        return -max(edge(p, q, x, y), edge(q, r, x, y), edge(r, p, x, y))
    return d


def union(*fs):
    return lambda x, y: max(f(x, y) for f in fs)


def quantise(canvas, palette):
    """Nearest palette entry for every pixel."""
    def nearest(c):
        return min(range(len(palette)), key=lambda i: sum((c[k] - palette[i][k]) ** 2 for k in range(3)))
    cache = {}
    rows = []
    for row in canvas.px:
        out = []
        for c in row:
            if c not in cache:
                cache[c] = nearest(c)
            out.append(cache[c])
        rows.append(out)
    return rows


def rle8(rows):
    """8-bit rows, bottom-up, as runs of one index (count, index), each row
    closed by an end-of-line and the picture by an end-of-bitmap code."""
    data = bytearray()
    for row in reversed(rows):
        i = 0
        while i < len(row):
            n = 1
            while i + n < len(row) and n < 255 and row[i + n] == row[i]:
                n += 1
            data += bytes((n, row[i]))
            i += n
        data += b"\0\0"
    data[-2:] = b"\0\1"
    return data


def write_bmp(path, w, h, bits, palette, rows, rle=False):
    """A bottom-up BMP: paletted (4 or 8 bits) or 24-bit, uncompressed or,
    for 8 bits, RLE8 (the message dialog's skin: a twelfth of the bytes)."""
    stride = ((w * bits + 31) // 32) * 4
    data = bytearray()
    for row in [] if rle else reversed(rows):
        line = bytearray()
        if bits == 24:
            for (r, g, b) in row:
                line += bytes((b, g, r))
        elif bits == 8:
            line += bytes(row)
        elif bits == 4:
            for i in range(0, w, 2):
                hi = row[i]
                lo = row[i + 1] if i + 1 < w else 0
                line.append((hi << 4) | lo)
        line += b"\0" * (stride - len(line))
        data += line
    if rle:
        assert bits == 8
        data = rle8(rows)
    colours = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 1 if rle else 0, len(data), 2835, 2835, len(palette), 0)
    with open(path, "wb") as f:
        f.write(header + info + colours + bytes(data))


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]
GREY = (192, 192, 192)  # the icons' background, drawn transparent


def skin(w, h, band, ornament):
    """A dark band with a rounded blue ornament on top of a light grey body."""
    c = Canvas(w, h, (223, 223, 223))
    for y in range(h):
        for x in range(w):
            if y < band:
                t = y / band
                c.put(x, y, (round(40 + 30 * t), round(48 + 34 * t), round(64 + 40 * t)))
            else:
                t = (y - band) / max(1, h - band)
                v = round(236 - 22 * t)
                c.put(x, y, (v, v, min(255, v + 2)))
    c.shape(rounded_rect(ornament, 3, w - ornament, band - 3, (band - 6) / 2), (58, 110, 200))
    c.shape(rounded_rect(ornament + 4, 5, w - ornament - 4, band / 2, (band - 10) / 4), (120, 165, 235))
    for y in range(h):  # a thin dark frame
        c.put(0, y, (30, 36, 50))
        c.put(w - 1, y, (30, 36, 50))
    for x in range(w):
        c.put(x, 0, (30, 36, 50))
        c.put(x, h - 1, (30, 36, 50))
    return c


def face():
    c = skin(250, 100, 26, 70)
    # A faint box in the lower left corner of the body, behind the icon.
    c.shape(rounded_rect(8, 58, 40, 94, 4), (214, 221, 233))
    return c


def icon(kind):
    c = Canvas(32, 32, GREY)
    if kind == "error":
        c.shape(disc(16, 16, 14), (255, 0, 0))
        c.shape(union(segment(10, 10, 22, 22, 3.5), segment(22, 10, 10, 22, 3.5)), (255, 255, 255))
    elif kind in ("question", "information"):
        bubble = union(disc(16, 14, 13), triangle((8, 22), (16, 26), (6, 31)))
        c.shape(lambda x, y: bubble(x, y) + 1, (0, 0, 0))
        c.shape(bubble, (255, 255, 255))
        if kind == "question":
            arc = lambda x, y: 2 - abs(math.hypot(x - 16, y - 10.5) - 4.5) if (y < 11 or x > 16) else -1
            c.shape(union(arc, segment(17.5, 13.5, 16, 17, 3)), (0, 0, 255))
            c.shape(disc(16, 21, 1.8), (0, 0, 255))
        else:
            c.shape(disc(16, 7.5, 2), (0, 0, 255))
            c.shape(segment(16, 12, 16, 21, 3.5), (0, 0, 255))
    elif kind == "warning":
        c.shape(lambda x, y: triangle((16, 2), (30, 28), (2, 28))(x, y) + 1, (0, 0, 0))
        c.shape(triangle((16, 3.5), (28.5, 27), (3.5, 27)), (255, 255, 0))
        c.shape(segment(16, 10, 16, 19, 3.5), (0, 0, 0))
        c.shape(disc(16, 23.5, 1.9), (0, 0, 0))
    return c


def glyph(w, h, kind):
    c = Canvas(w, h, (255, 255, 255))
    if kind == "min":
        for x in range(1, w - 1):
            for y in (h - 3, h - 2):
                c.put(x, y, (0, 0, 0))
    else:
        for i in range(h):
            for dx in (0, 1):
                c.put(i + dx, i, (0, 0, 0))
                c.put(w - 2 - i + dx, i, (0, 0, 0))
    return c


def write_ico(path, canvas):
    """A 32x32, 24-bit icon with its AND mask (nothing transparent but the grey)."""
    w, h = canvas.w, canvas.h
    xor = bytearray()
    mask = bytearray()
    mstride = ((w + 31) // 32) * 4
    for row in reversed(canvas.px):
        for (r, g, b) in row:
            # Transparent pixels are black in the colour part, so the
            # screen shows through the mask unchanged.
            xor += bytes((0, 0, 0)) if (r, g, b) == GREY else bytes((b, g, r))
        bits = 0
        line = bytearray()
        for x, c in enumerate(row):
            bits = (bits << 1) | (1 if c == GREY else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        line += b"\0" * (mstride - len(line))
        mask += line
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + bytes(xor) + bytes(mask)
    header = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 24, len(image), 22)
    with open(path, "wb") as f:
        f.write(header + image)


def program_icon():
    c = Canvas(32, 32, GREY)
    c.shape(rounded_rect(3, 6, 29, 29, 3), (58, 110, 200))
    c.shape(rounded_rect(3, 6, 29, 13, 3), (40, 48, 64))
    c.shape(segment(16, 15, 16, 24, 3.5), (255, 255, 255))
    c.shape(triangle((10.5, 20), (21.5, 20), (16, 26.5)), (255, 255, 255))
    return c


def main():
    os.makedirs(OUT, exist_ok=True)
    # The setup window's face: a progressive JPEG of 250 x 100.
    f = face()
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "face.ppm")
        with open(ppm, "wb") as out:
            out.write(b"P6 250 100 255\n" + bytes(v for row in f.px for px in row for v in px))
        jpg = os.path.join(OUT, "face.jpg")
        subprocess.run(["cjpeg", "-progressive", "-quality", "92", "-outfile", jpg, ppm], check=True)
    # The face as the window's stored picture: class-name length, class name,
    # 32-bit little-endian byte count, the JPEG file.
    with open(jpg, "rb") as src:
        data = src.read()
    with open(os.path.join(OUT, "face.picture"), "wb") as out:
        out.write(bytes((10,)) + b"TJPEGImage" + struct.pack("<I", len(data)) + data)

    bk = skin(250, 100, 24, 60)
    bk_palette = sorted({c for row in bk.px for c in row})
    if len(bk_palette) > 256:
        # Keep the 256 most used colours; the rest map to the nearest.
        counts = {}
        for row in bk.px:
            for c in row:
                counts[c] = counts.get(c, 0) + 1
        bk_palette = sorted(counts, key=lambda c: -counts[c])[:256]
    bk_palette += [(0, 0, 0)] * (256 - len(bk_palette))
    write_bmp(os.path.join(OUT, "bkMessageBox.bmp"), 250, 100, 8, bk_palette, quantise(bk, bk_palette), rle=True)

    for n, kind in enumerate(("error", "question", "warning", "information"), start=1):
        c = icon(kind)
        write_bmp(os.path.join(OUT, "qvInfoDlgIcon%d.bmp" % n), 32, 32, 4, VGA16, quantise(c, VGA16))

    for name, w, h, kind in (("dlgMin", 9, 9, "min"), ("dlgClose", 10, 9, "close")):
        c = glyph(w, h, kind)
        write_bmp(os.path.join(OUT, name + ".bmp"), w, h, 4, VGA16, quantise(c, VGA16))

    write_ico(os.path.join(OUT, "qvSetup.ico"), program_icon())
    print("artwork written to", OUT)


if __name__ == "__main__":
    sys.exit(main())
