"""Draws taletab.exe's icon, src/cli/taletab.ico: a sheet of paper holding a
two-column table, names in red on the left, lines of text on the right, as
the pages the program makes. Sizes 16, 24, 32, 48 and 256, each a PNG in
the icon file (Windows Vista and later read them). Python alone, no library:

    python3 tools/make_icon.py src/cli/taletab.ico
"""
import struct
import sys
import zlib

PAPER = (255, 255, 255, 255)
EDGE = (90, 90, 100, 255)
RULE = (170, 170, 180, 255)
NAME = (200, 40, 40, 255)
TEXT = (40, 40, 60, 255)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """The icon's pixels, rows of RGBA, drawn on a 16-unit grid scaled to the size."""
    unit = size / 16

    def box(x0, y0, x1, y1):
        left, top = int(x0 * unit), int(y0 * unit)
        return left, top, max(left + 1, int(x1 * unit)), max(top + 1, int(y1 * unit))

    pixels = [[CLEAR] * size for _ in range(size)]

    def fill(area, colour):
        x0, y0, x1, y1 = area
        for y in range(y0, min(y1, size)):
            for x in range(x0, min(x1, size)):
                pixels[y][x] = colour

    fill(box(2, 0.5, 14, 15.5), EDGE)
    line = max(1, int(unit * 0.75))
    x0, y0, x1, y1 = box(2, 0.5, 14, 15.5)
    fill((x0 + line, y0 + line, x1 - line, y1 - line), PAPER)
    fill(box(6, 2, 6.5, 14), RULE)  # the table's column rule
    for row, (name, text) in enumerate([(2.5, 10.5), (2, 12), (2.5, 9), (2, 11.5), (2.5, 8)]):
        top = 2.5 + row * 2.3
        fill(box(3.5, top, 3.5 + name, top + 1), NAME)
        fill(box(7.5, top, 7.5 + text / 2.5, top + 1), TEXT)
    return pixels


def png(pixels):
    size = len(pixels)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon(sizes):
    images = [png(draw(size)) for size in sizes]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return header + entries + b"".join(images)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(icon([16, 24, 32, 48, 256]))
