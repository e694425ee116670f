"""Draws Kestrune's icon (a kestrel's head and wing over a slate disc) into kestrune.ico.

Run it after changing the drawing; the .ico it writes is committed.
"""
import math
import pathlib
import struct

SIZES = (16, 24, 32, 48, 64)


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def colour_at(u, v):
    """RGBA at (u, v) in the unit square, y down."""
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy)
    if r > 0.48:
        return (0, 0, 0, 0)
    wing = [(0.18, 0.62), (0.55, 0.30), (0.86, 0.26), (0.66, 0.48), (0.80, 0.50), (0.50, 0.70)]
    head = math.hypot(u - 0.40, v - 0.40) < 0.13
    beak = inside_polygon(u, v, [(0.28, 0.38), (0.18, 0.44), (0.29, 0.45)])
    eye = math.hypot(u - 0.37, v - 0.37) < 0.03
    if eye:
        return (20, 20, 24, 255)
    if beak:
        return (240, 196, 64, 255)
    if head:
        return (196, 96, 48, 255)
    if inside_polygon(u, v, wing):
        return (222, 132, 70, 255)
    if r > 0.44:
        return (28, 36, 52, 255)
    shade = int(70 + 40 * (1 - v))
    return (shade // 2, shade // 2 + 8, shade + 20, 255)


def render(size, samples=4):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size)
                    a = c[3]
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if acc[3]:
                row.append((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], int(alpha)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size, pixels):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            body += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(body) + bytes(mask)


def main():
    images = [dib(size, render(size)) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    pathlib.Path(__file__).with_name("kestrune.ico").write_bytes(bytes(out))


if __name__ == "__main__":
    main()
