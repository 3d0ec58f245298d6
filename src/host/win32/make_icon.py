#!/usr/bin/env python3
"""Draws the program's icon, 32 x 32 in 16 colours, and writes it as an .ico
file for takto.exe, or with --png SIZE as a PNG for the desktop's icon theme:
the same picture scaled by the largest whole factor that fits SIZE, centred
on a transparent square, pixel for pixel."""
import struct
import sys
import zlib

# The 16 colours of the icon (red, green, blue), by the letters of the picture.
PALETTE = {
    '.': (0, 0, 0),        # black background
    'b': (0, 0, 170),      # dark blue screen
    'B': (0, 0, 255),
    'w': (255, 255, 255),
    'y': (255, 255, 0),
    'g': (0, 255, 0),
    'c': (0, 255, 255),
    'm': (255, 0, 255),
    'r': (255, 0, 0),
    'k': (128, 128, 128),
}
# A text screen: a title row, a cursor row of steps, and a note.
PICTURE = [
    "................................",
    ".kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
    ".kbbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kbccccccccccccccccccccccccccbk.",
    ".kbbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kbwbwbwbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbyyyybbbbbk.",
    ".kbwwwbwwbbbbbbbbbbbbyyyyybbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbybbbyybbbk.",
    ".kbyyyyyyyybbbbbbbbbbybbbbyybbk.",
    ".kbbbbbbbbbbbbbbbbbbbybbbbbybbk.",
    ".kbwwbwwwbwbbbbbbbbbbybbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbybbbbbbbbk.",
    ".kbggggbbbbbbbbbbbbbbybbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbybbbbbbbbk.",
    ".kbwbwwbwwbbbbbbbbyyyybbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbyyyyybbbbbbbbk.",
    ".kbmmmmmmbbbbbbbyyyyyybbbbbbbbk.",
    ".kbbbbbbbbbbbbbbyyyyybbbbbbbbbk.",
    ".kbwwwbwbbbbbbbbbyyybbbbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kbrrrrrrrrrbbbbbbbbbbbbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kbwwbwbwwwbbbbbbbbbbbbbbbbbbbk.",
    ".kbbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kbBBBBBBBBBBBBBBBBBBBBBBBBBBbk.",
    ".kbbbbbbbbbbbbbbbbbbbbbbbbbbbbk.",
    ".kkkkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
    "...........kkkkkkkkkk...........",
    "........kkkkkkkkkkkkkkkk........",
    "................................",
    "................................",
]


def icon_bytes():
    letters = list(PALETTE)
    assert len(letters) <= 16 and len(PICTURE) == 32 and all(len(r) == 32 for r in PICTURE)
    colours = [PALETTE[c] for c in letters] + [(0, 0, 0)] * (16 - len(letters))
    header = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0, 32 * 16 + 32 * 4, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in colours)
    pixels = b''
    for row in reversed(PICTURE):  # rows bottom-up
        indices = [letters.index(c) for c in row]
        pixels += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, 32, 2))
    mask = bytes(4 * 32)  # every pixel opaque
    image = header + palette + pixels + mask
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(image), 22)
    return directory + image


def png_bytes(size):
    factor = size // 32
    assert factor >= 1, 'icons are at least 32 pixels'
    margin = (size - 32 * factor) // 2
    clear = bytes(4 * size)
    rows = [clear] * margin
    for row in PICTURE:
        line = bytes(4 * margin)
        for c in row:
            line += bytes(PALETTE[c] + (255,)) * factor
        line += bytes(4 * (size - margin - 32 * factor))
        rows += [line] * factor
    rows += [clear] * (size - len(rows))
    raw = b''.join(b'\0' + r for r in rows)  # filter type 0 on every row

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


if __name__ == '__main__':
    if sys.argv[1] == '--png':
        data = png_bytes(int(sys.argv[2]))
        path = sys.argv[3]
    else:
        data = icon_bytes()
        path = sys.argv[1]
    with open(path, 'wb') as out:
        out.write(data)
