#!/usr/bin/python3
"""Builds the embedded 16-dot Shift-JIS font table from the installed fonts.

Single bytes: the 8 x 16 ISO 8859-1 face for 20-7E, with the yen sign of the
JIS X 0201 face at 5C (as Japanese text output shows it), and the JIS X 0201
face's half-width katakana for A1-DF. Pairs: the 16 x 16 JIS X 0208 face for
rows 1-94; pairs it lacks (NEC row 13, the IBM extensions) come from the
Japanese variant of the 16-dot Unicode font where code page 932 maps them.
Everything else is left out and drawn as a replacement box.
"""

import argparse
import gzip
import subprocess
import sys


def read_bdf(pcf2bdf, path):
    """Returns {encoding: 16 rows as integers, leftmost pixel in the top bit of width w}, w."""
    data = gzip.open(path).read() if path.endswith('.gz') else open(path, 'rb').read()
    bdf = subprocess.run([pcf2bdf], input=data, stdout=subprocess.PIPE, check=True).stdout
    lines = bdf.decode('latin-1').splitlines()
    ascent = None
    width = None
    glyphs = {}
    i = 0
    while i < len(lines):
        words = lines[i].split()
        if not words:
            i += 1
            continue
        if words[0] == 'FONT_ASCENT':
            ascent = int(words[1])
        elif words[0] == 'FONTBOUNDINGBOX':
            width = int(words[1])
        elif words[0] == 'STARTCHAR':
            enc = None
            bbx = None
            i += 1
            while not lines[i].startswith('BITMAP'):
                w = lines[i].split()
                if w and w[0] == 'ENCODING':
                    enc = int(w[1])
                elif w and w[0] == 'BBX':
                    bbx = [int(v) for v in w[1:5]]
                i += 1
            i += 1
            rows = []
            while lines[i].strip() != 'ENDCHAR':
                rows.append(lines[i].strip())
                i += 1
            if enc is None or bbx is None or ascent is None or width is None:
                sys.exit(f'{path}: malformed glyph')
            gw, gh, xoff, yoff = bbx
            cell = [0] * 16
            top = ascent - (yoff + gh)
            for r, hexrow in enumerate(rows[:gh]):
                bits = int(hexrow, 16) if hexrow else 0
                # The row's bytes hold gw pixels from the top bit down.
                nbits = len(hexrow) * 4
                for c in range(gw):
                    if bits & (1 << (nbits - 1 - c)):
                        x = xoff + c
                        y = top + r
                        if 0 <= x < width and 0 <= y < 16:
                            cell[y] |= 1 << (width - 1 - x)
            glyphs[enc] = cell
        i += 1
    return glyphs, width


def read_hex(path):
    """Unicode code point -> 16 rows of 16 pixels. A glyph 8 pixels wide is
    centred, since a pair always takes 16 pixels."""
    glyphs = {}
    with open(path) as f:
        for line in f:
            code, _, bits = line.strip().partition(':')
            if len(bits) == 64:
                glyphs[int(code, 16)] = [int(bits[k:k + 4], 16) for k in range(0, 64, 4)]
            elif len(bits) == 32:
                glyphs[int(code, 16)] = [int(bits[k:k + 2], 16) << 4 for k in range(0, 32, 2)]
    return glyphs


LEADS = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
TRAILS = list(range(0x40, 0x7F)) + list(range(0x80, 0xFD))


def sjis_to_jis(s1, s2):
    if s1 >= 0xE0:
        s1 -= 0x40
    row = (s1 - 0x81) * 2 + 1
    if s2 >= 0x9F:
        row += 1
        cell = s2 - 0x9F + 1
    else:
        cell = s2 - 0x40 + 1 - (1 if s2 >= 0x80 else 0)
    return row, cell


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--pcf2bdf', required=True)
    ap.add_argument('--ascii', required=True)
    ap.add_argument('--kana', required=True)
    ap.add_argument('--kanji', required=True)
    ap.add_argument('--fallback', required=True)
    ap.add_argument('--out', required=True)
    a = ap.parse_args()

    ascii_face, w1 = read_bdf(a.pcf2bdf, a.ascii)
    kana_face, w2 = read_bdf(a.pcf2bdf, a.kana)
    kanji_face, w3 = read_bdf(a.pcf2bdf, a.kanji)
    if (w1, w2, w3) != (8, 8, 16):
        sys.exit('unexpected font widths %r' % ((w1, w2, w3),))
    fallback = read_hex(a.fallback)

    half = [None] * 256
    for b in range(0x20, 0x7F):
        half[b] = ascii_face.get(b)
    half[0x5C] = kana_face.get(0x5C)
    for b in range(0xA1, 0xE0):
        half[b] = kana_face.get(b)

    index = []
    full = []
    from_fallback = 0
    for s1 in LEADS:
        for s2 in TRAILS:
            glyph = None
            row, cell = sjis_to_jis(s1, s2)
            if row <= 94:
                glyph = kanji_face.get(((row + 0x20) << 8) | (cell + 0x20))
            if glyph is None:
                try:
                    text = bytes([s1, s2]).decode('cp932')
                except UnicodeDecodeError:
                    text = ''
                if len(text) == 1 and ord(text) in fallback:
                    glyph = fallback[ord(text)]
                    from_fallback += 1
            if glyph is None:
                index.append(0)
            else:
                full.append(glyph)
                index.append(len(full))

    out = []
    out.append('// Generated at build time from the installed 16-dot fonts. Do not edit.')
    out.append('#include "host/font/bitmap_font.h"')
    out.append('')
    out.append('const std::uint8_t font_half[256][16] = {')
    for b in range(256):
        rows = half[b] or [0] * 16
        out.append('  {' + ','.join('0x%02X' % r for r in rows) + '},')
    out.append('};')
    present = [0] * 32
    for b in range(256):
        if half[b] is not None:
            present[b >> 3] |= 1 << (b & 7)
    out.append('const std::uint8_t font_half_present[32] = {' +
               ','.join('0x%02X' % v for v in present) + '};')
    out.append('const std::uint16_t font_full_index[FONT_FULL_SLOTS] = {')
    for k in range(0, len(index), 24):
        out.append('  ' + ','.join(str(v) for v in index[k:k + 24]) + ',')
    out.append('};')
    out.append('const std::size_t font_full_count = %d;' % len(full))
    out.append('const std::uint8_t font_full[%d][32] = {' % max(1, len(full)))
    for g in full:
        out.append('  {' + ','.join('0x%02X,0x%02X' % (r >> 8, r & 0xFF) for r in g) + '},')
    if not full:
        out.append('  {},')
    out.append('};')
    with open(a.out, 'w') as f:
        f.write('\n'.join(out) + '\n')
    print('font table: %d single-byte glyphs, %d double-byte glyphs (%d from the fallback font)'
          % (sum(1 for h in half if h is not None), len(full), from_fallback))


if __name__ == '__main__':
    main()
