#!/usr/bin/env python3
"""Draws the player's icon, glimmerfield.ico: a warm four-pointed star of
light over a night-blue rounded square, at 16, 24, 32, 48 and 64 pixels,
32-bit with alpha. Run again only to change the drawing; the .ico is kept in
the tree so a build needs no drawing tools.

    python3 shell/win/make_icon.py shell/win/glimmerfield.ico
"""
import math
import struct
import sys


def pixel(size, x, y):
    """RGBA of pixel (x, y) of the icon at `size`, sampled 4x4 for smooth edges."""
    total = [0.0, 0.0, 0.0, 0.0]
    for sy in range(4):
        for sx in range(4):
            u = (x + (sx + 0.5) / 4) / size * 2 - 1
            v = (y + (sy + 0.5) / 4) / size * 2 - 1
            r, g, b, a = sample(u, v)
            total[0] += r * a
            total[1] += g * a
            total[2] += b * a
            total[3] += a
    a = total[3] / 16
    if a == 0:
        return 0, 0, 0, 0
    return tuple(int(round(c / total[3])) for c in total[:3]) + (int(round(a * 255)),)


def sample(u, v):
    # Rounded square, corner radius 0.35.
    q = max(abs(u) - 0.6, 0), max(abs(v) - 0.6, 0)
    if math.hypot(*q) > 0.35:
        return 0, 0, 0, 0.0
    # Star: four points along the axes, a soft glow around its centre.
    star = abs(u) ** 0.55 + abs(v) ** 0.55
    glow = max(0.0, 1 - math.hypot(u, v) / 0.9)
    if star < 0.78:
        return 255, 214, 90, 1.0
    base = (20, 28, 72)
    warm = (255, 170, 40)
    t = glow ** 2 * 0.8
    return tuple(int(b + (w - b) * t) for b, w in zip(base, warm)) + (1.0,)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as a DIB is stored
        rows.append(b"".join(struct.pack("BBBB", b, g, r, a)
                             for r, g, b, a in (pixel(size, x, y) for x in range(size))))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


def main(path):
    sizes = [16, 24, 32, 48, 64]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
