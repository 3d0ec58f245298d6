#!/usr/bin/env python3
"""Draws the program's icon, 32 x 32 in 16 colours, and writes it as an .ico file."""
import struct
import sys

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


if __name__ == '__main__':
    with open(sys.argv[1], 'wb') as out:
        out.write(icon_bytes())
