#!/usr/bin/env python3
"""Writes the toolbar strip (resources/toolbar.bmp, 48x16) and the program icon
(resources/quarnel.ico, 32x32), both with the 16-colour VGA palette.

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
    image, clear = icon_image()
    with open(os.path.join(folder, "quarnel.ico"), "wb") as f:
        f.write(ico(image, clear))


if __name__ == "__main__":
    main()
