#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows .ico file.

Usage:
    make-icon.py OUTPUT.ico            write the icon
    make-icon.py --check ICON.ico      exit 1 if ICON.ico is not what this script draws
    make-icon.py --preview SHEET.png   also write the six images side by side, enlarged

The icon holds six bitmap images in the order the executable's icon group lists them: 48, 32 and 16 pixels
with a 256-colour palette, then 48, 32 and 16 pixels with 32-bit colour and alpha. Only the standard library
is used and nothing depends on the clock or the platform, so the output is the same byte for byte everywhere.
"""

import struct
import sys
import zlib

SIZES = (48, 32, 16)

# The picture: a closed manual (cover, page block, spine, title lines) with a green badge and a check mark.
# Coordinates are fractions of the image side, y pointing down; later shapes paint over earlier ones.
COVER = (0x1F, 0x4E, 0x9A)
COVER_LIGHT = (0x3C, 0x73, 0xC4)
SPINE = (0x15, 0x36, 0x6E)
PAGES = (0xF4, 0xF1, 0xE6)
PAGE_EDGE = (0xC9, 0xC3, 0xB0)
TITLE = (0xDC, 0xE8, 0xF8)
BADGE = (0x2E, 0x9E, 0x44)
BADGE_RING = (0xFF, 0xFF, 0xFF)
CHECK = (0xFF, 0xFF, 0xFF)
FLAT_COLOURS = (COVER, COVER_LIGHT, SPINE, PAGES, PAGE_EDGE, TITLE, BADGE, BADGE_RING)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def in_circle(x, y, cx, cy, radius):
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def near_polyline(x, y, points, half_width):
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
        t = min(max(t, 0.0), 1.0)
        if (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= half_width * half_width:
            return True
    return False


def cover_colour(y):
    # A light top fading into the cover colour gives the book some depth at 32 and 48 pixels.
    t = min(max((y - 0.06) / 0.5, 0.0), 1.0)
    return tuple(round(a + (b - a) * t) for a, b in zip(COVER_LIGHT, COVER))


def sample(x, y):
    """Colour at one point of the picture, or None where it is transparent."""
    colour = None
    if in_rounded_rect(x, y, 0.20, 0.12, 0.86, 0.94, 0.05):
        colour = PAGE_EDGE
    if in_rounded_rect(x, y, 0.20, 0.12, 0.84, 0.90, 0.05):
        colour = PAGES
    if in_rounded_rect(x, y, 0.12, 0.06, 0.78, 0.86, 0.06):
        colour = cover_colour(y)
    if in_rounded_rect(x, y, 0.12, 0.06, 0.24, 0.86, 0.06):
        colour = SPINE
    if in_rounded_rect(x, y, 0.32, 0.18, 0.68, 0.25, 0.02):
        colour = TITLE
    if in_rounded_rect(x, y, 0.32, 0.31, 0.58, 0.37, 0.02):
        colour = TITLE
    if in_circle(x, y, 0.70, 0.70, 0.27):
        colour = BADGE_RING
    if in_circle(x, y, 0.70, 0.70, 0.22):
        colour = BADGE
    if near_polyline(x, y, ((0.58, 0.70), (0.67, 0.79), (0.82, 0.61)), 0.045):
        colour = CHECK
    return colour


def render(size):
    """Rows top to bottom of (r, g, b, a), with every pixel supersampled on a regular grid."""
    grid = 8
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(grid):
                for sx in range(grid):
                    colour = sample((px + (sx + 0.5) / grid) / size, (py + (sy + 0.5) / grid) / size)
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        covered += 1
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((
                    (r + covered // 2) // covered,
                    (g + covered // 2) // covered,
                    (b + covered // 2) // covered,
                    (covered * 255 + grid * grid // 2) // (grid * grid),
                ))
        rows.append(row)
    return rows


def palette():
    """256 colours: black (the transparent pixels), the picture's own colours, a 6x6x6 cube, then greys."""
    colours = [(0, 0, 0)] + list(FLAT_COLOURS)
    colours += [cover_colour(0.06 + step * 0.5 / 15) for step in range(16)]
    colours += [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    grey = 0
    while len(colours) < 256:
        grey += 1
        colours.append((grey * 255 // 33,) * 3)
    return colours[:256]


def nearest(colours, rgb):
    best, best_distance = 0, None
    for index, candidate in enumerate(colours):
        distance = sum((a - b) ** 2 for a, b in zip(candidate, rgb))
        if best_distance is None or distance < best_distance:
            best, best_distance = index, distance
    return best


def mask_rows(rows, opaque):
    """The AND mask, bottom row first: bit 1 where the screen shows through. Rows pad to 32 bits."""
    stride = (len(rows[0]) + 31) // 32 * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if not opaque(pixel):
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def info_header(size, bits, image_bytes):
    # The height covers the colour bitmap and the mask stacked, as icon images always declare it.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, image_bytes, 0, 0, 0, 0)


def bitmap_8bpp(rows, colours):
    def opaque(pixel):
        return pixel[3] >= 128

    cache = {}
    pixels = bytearray()
    for row in reversed(rows):
        for pixel in row:
            if not opaque(pixel):
                pixels.append(0)
                continue
            rgb = pixel[:3]
            if rgb not in cache:
                cache[rgb] = nearest(colours, rgb)
            pixels.append(cache[rgb])
        pixels += bytes(-len(row) % 4)
    mask = mask_rows(rows, opaque)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    return info_header(len(rows), 8, len(pixels) + len(mask)) + table + bytes(pixels) + mask


def bitmap_32bpp(rows):
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += struct.pack("<BBBB", b, g, r, a)
    mask = mask_rows(rows, lambda pixel: pixel[3] != 0)
    return info_header(len(rows), 32, len(pixels) + len(mask)) + bytes(pixels) + mask


def images():
    colours = palette()
    drawn = {size: render(size) for size in SIZES}
    return ([(size, 8, drawn[size], bitmap_8bpp(drawn[size], colours)) for size in SIZES] +
            [(size, 32, drawn[size], bitmap_32bpp(drawn[size])) for size in SIZES])


def icon_file(entries):
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, bits, _, data in entries:
        # A colour count of 0 means "256 or more".
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    for _, _, _, data in entries:
        out += data
    return bytes(out)


def preview_png(entries):
    """The six images on a checkerboard, four times enlarged, the 8-bit ones as the palette shows them."""
    scale, gap = 4, 8
    colours = palette()
    width = sum(size * scale + gap for size, _, _, _ in entries) + gap
    height = max(SIZES) * scale + 2 * gap
    canvas = [[(0xC0, 0xC0, 0xC0) if ((x // 8) + (y // 8)) % 2 else (0xF0, 0xF0, 0xF0) for x in range(width)]
              for y in range(height)]
    left = gap
    for size, bits, rows, _ in entries:
        for y, row in enumerate(rows):
            for x, (r, g, b, a) in enumerate(row):
                if bits == 8:
                    if a < 128:
                        continue
                    r, g, b = colours[nearest(colours, (r, g, b))]
                    a = 255
                for dy in range(scale):
                    for dx in range(scale):
                        cx, cy = left + x * scale + dx, gap + y * scale + dy
                        under = canvas[cy][cx]
                        canvas[cy][cx] = tuple((c * a + u * (255 - a) + 127) // 255
                                               for c, u in zip((r, g, b), under))
        left += size * scale + gap
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in canvas)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) == 2 and not argv[1].startswith("--"):
        with open(argv[1], "wb") as f:
            f.write(icon_file(images()))
        return 0
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            if f.read() != icon_file(images()):
                print(f"{argv[2]} differs from what tools/make-icon.py draws; run it again", file=sys.stderr)
                return 1
        return 0
    if len(argv) == 3 and argv[1] == "--preview":
        with open(argv[2], "wb") as f:
            f.write(preview_png(images()))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
