#!/usr/bin/env python3
"""Draws the stub's icons and writes them as .ico files.

app.ico      - the program icon: 32x32 and 16x16 at 4 bits per pixel.
progress.ico - the dialog's icon: 32x32 and 16x16 at 4 and at 8 bits per pixel.

The artwork is a parcel with a downward arrow, drawn on a grid so that both sizes come
from one description.
"""
import struct
import sys

# The standard 16-colour palette (BGR0 in the file).
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_YELLOW, GREY, LIGHT_GREY, YELLOW, BLUE, WHITE, DARK_BLUE = 0, 3, 8, 7, 11, 12, 15, 4


def draw(size):
    """Returns rows (top first) of palette indices, None for transparent."""
    s = size / 32.0
    px = [[None] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    rect(3, 14, 29, 30, DARK_YELLOW)    # parcel body
    rect(4, 15, 28, 29, YELLOW)
    rect(3, 14, 29, 15, BLACK)          # outline
    rect(3, 29, 29, 30, BLACK)
    rect(3, 14, 4, 30, BLACK)
    rect(28, 14, 29, 30, BLACK)
    rect(14, 15, 18, 29, LIGHT_GREY)    # tape
    rect(12, 2, 20, 12, BLUE)           # arrow shaft
    for i in range(6):                  # arrow head
        rect(8 + i, 10 + i, 24 - i, 11 + i, DARK_BLUE if i == 5 else BLUE)
    return px


def nearest256(rgb):
    return PALETTE16.index(rgb)


def image(size, bpp):
    px = draw(size)
    colours = 1 << bpp
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE16)
    palette += b"\0\0\0\0" * (colours - 16)
    row_bytes = ((size * bpp + 31) // 32) * 4
    xor = b""
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            value = px[y][x] if px[y][x] is not None else 0
            if bpp == 4:
                row[x // 2] |= value << (4 if x % 2 == 0 else 0)
            else:
                row[x] = value
        xor += bytes(row)
    mask_row = ((size + 31) // 32) * 4
    mask = b""
    for y in reversed(range(size)):
        row = bytearray(mask_row)
        for x in range(size):
            if px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, colours, 0)
    return header + palette + xor + mask


def write_ico(path, formats):
    images = [image(size, bpp) for size, bpp in formats]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bpp), data in zip(formats, images):
        colours = (1 << bpp) if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "."
    write_ico(f"{out_dir}/app.ico", [(32, 4), (16, 4)])
    write_ico(f"{out_dir}/progress.ico", [(32, 4), (16, 4), (32, 8), (16, 8)])
