#!/usr/bin/env python3
"""Writes the toolbar strips (resources/toolbar.bmp, 48x16, for 100 % scale;
toolbar24.bmp, 72x24, for 150 %; toolbar32.bmp, 96x32, for 200 %) and the
program icon (resources/quarnel.ico, 32x32), all with the 16-colour VGA palette.
The 16-pixel pictures are drawn by hand; the larger ones are drawn from the
same shapes, described in the 16-pixel grid's units, at their own size.

    python3 tools/make_art.py [resource folder]
"""
import os
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, SILVER, GREY, RED, BLUE, WHITE = 0, 1, 4, 7, 8, 9, 12, 15

# "n!" for Factorial: a lower-case n and an exclamation mark.
FACTORIAL = [
    "................",
    "................",
    "...........##...",
    "...........##...",
    "...........##...",
    ".##.####...##...",
    ".#########.##...",
    ".###...###.##...",
    ".##.....##.##...",
    ".##.....##.##...",
    ".##.....##.##...",
    ".##.....##......",
    ".##.....##.##...",
    ".##.....##.##...",
    "................",
    "................",
]

# "x^y" for Power: a large x with a small raised y.
POWER = [
    "................",
    "..........##..##",
    "..........##..##",
    "..........##..##",
    "...........####.",
    "............##..",
    "...........##...",
    "..........##....",
    "................",
    ".##....##.......",
    "..##..##........",
    "...####.........",
    "...####.........",
    "..##..##........",
    ".##....##.......",
    "................",
]


def glyph(rows, ink, paper):
    return [[ink if c == "#" else paper for c in row] for row in rows]


def stop_sign():
    """A red octagon with a dark rim and a white bar across it."""
    size = 16
    image = [[SILVER] * size for _ in range(size)]

    def inside(x, y, r):
        dx, dy = abs(x - 7.5), abs(y - 7.5)
        return dx <= r and dy <= r and dx + dy <= r * 1.42

    for y in range(size):
        for x in range(size):
            if inside(x, y, 7.5):
                image[y][x] = MAROON
            if inside(x, y, 6.5):
                image[y][x] = RED
    for y in (7, 8):
        for x in range(3, 13):
            image[y][x] = WHITE
    return image


# The same pictures as shapes, in units of the 16-pixel grid (x to the right,
# y down; a pixel (col, row) covers [col, col + 1) x [row, row + 1)).
def box(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def ring(cx, cy, outer, inner, below):
    """The upper part of a ring, down to y = below."""
    return lambda x, y: y <= below and inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2


def stroke(x0, y0, x1, y1, half_width):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= half_width ** 2
    return inside


def octagon(radius):
    def inside(x, y):
        dx, dy = abs(x - 8), abs(y - 8)
        return dx <= radius and dy <= radius and dx + dy <= radius * 1.42
    return inside


FACTORIAL_SHAPES = [(NAVY, [
    box(1, 5, 3, 14), ring(5.5, 9.5, 4.5, 2.5, 9.5), box(8, 9.5, 10, 14),  # n
    box(11, 2, 13, 11), box(11, 12, 13, 14),  # !
])]
POWER_SHAPES = [(NAVY, [
    stroke(1.6, 9.6, 8.4, 14.4, 0.95), stroke(8.4, 9.6, 1.6, 14.4, 0.95),  # x
    stroke(11, 1, 11, 3, 0.9), stroke(15, 1, 15, 3, 0.9),  # y's arms
    stroke(11, 3, 13, 5, 0.9), stroke(15, 3, 13, 5, 0.9),
    stroke(13, 5, 11, 7.5, 0.9),  # and its tail
])]
STOP_SHAPES = [(MAROON, [octagon(8)]), (RED, [octagon(7)]), (WHITE, [box(3, 7, 13, 9)])]


def draw(shapes, size, paper=SILVER, samples=4):
    """The shapes at `size` pixels: each pixel takes the colour of the last
    shape covering at least half of it, sampled on a grid inside the pixel."""
    unit = 16.0 / size
    image = [[paper] * size for _ in range(size)]
    for row in range(size):
        for col in range(size):
            for colour, parts in shapes:
                hits = 0
                for i in range(samples):
                    for j in range(samples):
                        x = (col + (j + 0.5) / samples) * unit
                        y = (row + (i + 0.5) / samples) * unit
                        hits += any(inside(x, y) for inside in parts)
                if 2 * hits >= samples * samples:
                    image[row][col] = colour
    return image


def join_side_by_side(images):
    return [sum((img[y] for img in images), []) for y in range(len(images[0]))]


def pack_rows(image, bits_per_row_pad=32):
    """4-bit rows, bottom-up, each padded to a multiple of 4 bytes."""
    out = bytearray()
    for row in reversed(image):
        packed = bytearray()
        for i in range(0, len(row), 2):
            hi = row[i]
            lo = row[i + 1] if i + 1 < len(row) else 0
            packed.append((hi << 4) | lo)
        while len(packed) % 4:
            packed.append(0)
        out += packed
    return bytes(out)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 2835, 2835, 16, 16)


def bmp(image):
    width, height = len(image[0]), len(image)
    pixels = pack_rows(image)
    header_size = 14 + 40 + 64
    file_header = struct.pack("<2sIHHI", b"BM", header_size + len(pixels), 0, 0, header_size)
    return file_header + info_header(width, height, len(pixels)) + palette_bytes() + pixels


def ico(image, transparent):
    """One 32x32 16-colour image; pixels equal to `transparent` are masked out."""
    width, height = len(image[0]), len(image)
    colours = [[BLACK if p == transparent else p for p in row] for row in image]
    xor = pack_rows(colours)
    mask = bytearray()
    for row in reversed(image):
        bits = bytearray((width + 7) // 8)
        for x, p in enumerate(row):
            if p == transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        while len(bits) % 4:
            bits.append(0)
        mask += bits
    body = info_header(width, height * 2, len(xor) + len(mask)) + palette_bytes() + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(body), 6 + 16)
    return directory + entry + body


def icon_image():
    """A blue tile with a white "n!", the Factorial picture at twice the size."""
    size, clear = 32, -1
    image = [[clear] * size for _ in range(size)]
    for y in range(1, 31):
        for x in range(1, 31):
            corner = min(x - 1, 30 - x) + min(y - 1, 30 - y)
            if corner >= 2:
                image[y][x] = NAVY if (x in (1, 30) or y in (1, 30) or corner == 2) else BLUE
    for y, row in enumerate(FACTORIAL):
        for x, c in enumerate(row):
            if c == "#":
                for dy in (0, 1):
                    for dx in (0, 1):
                        image[2 * y + dy][2 * x + dx] = WHITE
    return image, clear


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    strip = join_side_by_side([
        glyph(FACTORIAL, NAVY, SILVER),
        glyph(POWER, NAVY, SILVER),
        stop_sign(),
    ])
    with open(os.path.join(folder, "toolbar.bmp"), "wb") as f:
        f.write(bmp(strip))
    for size in (24, 32):
        strip = join_side_by_side([draw(shapes, size)
                                   for shapes in (FACTORIAL_SHAPES, POWER_SHAPES, STOP_SHAPES)])
        with open(os.path.join(folder, "toolbar%d.bmp" % size), "wb") as f:
            f.write(bmp(strip))
    image, clear = icon_image()
    with open(os.path.join(folder, "quarnel.ico"), "wb") as f:
        f.write(ico(image, clear))


if __name__ == "__main__":
    main()
