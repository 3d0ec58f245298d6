#!/usr/bin/env python3
"""Smoke test of takto.exe under Wine and an X server (DISPLAY and WINEPREFIX set
by the caller): start it with a song, type the keys into the edit screen, capture
the window and compare it cell by cell with what takto-cli session drew for the
same keys; then Q must end the program with status 0 within a second.

usage: smoke_test.py TAKTO_EXE TAKTO_CLI SONG OUT_DIR
"""
import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# The keys into the edit screen (track 1, measure 3, step 2), for the session
# and for xdotool.
SESSION_KEYS = "RETURN 3 RETURN 2 RETURN"
X_KEYS = ["Return", "3", "Return", "2", "Return"]
TABLE_COLOURS = {(0, 0, 0), (255, 255, 255), (255, 255, 0), (0, 255, 0), (255, 0, 255), (0, 0, 255),
                 (255, 0, 0), (0, 255, 255)}


def attr_rgb(colour):
    return (255 if colour & 2 else 0, 255 if colour & 4 else 0, 255 if colour & 1 else 0)


def read_png(path):
    """640 x 400 RGB pixels of a palette PNG, row by row from the top."""
    data = open(path, 'rb').read()
    pos, idat, palette = 8, b'', []
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            width, height, depth, colour_type = struct.unpack('>IIBB', body[:10])
            assert colour_type == 3, 'palette PNG expected'
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, n, 3)]
        elif kind == b'IDAT':
            idat += body
        pos += 12 + n
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        bpp = max(1, depth // 8)
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        per_byte = 8 // depth
        for x in range(width):
            byte = line[x // per_byte]
            shift = 8 - depth * (x % per_byte + 1)
            rows.append(palette[(byte >> shift) & ((1 << depth) - 1)])
    return width, height, rows


def read_xwd(path):
    """Width, height and RGB pixels of a 24/32-bit window dump."""
    d = open(path, 'rb').read()
    h = struct.unpack('>25I', d[:100])
    header_size, width, height, byte_order, bpp, bpl, ncolors = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
    assert bpp == 32, 'a 24-bit X server expected'
    off = header_size + ncolors * 12
    order = 'little' if byte_order == 0 else 'big'
    pixels = []
    for y in range(height):
        row = d[off + y * bpl:off + y * bpl + 4 * width]
        for x in range(width):
            v = int.from_bytes(row[4 * x:4 * x + 4], order)
            pixels.append(((v >> 16) & 255, (v >> 8) & 255, v & 255))
    return width, height, pixels


def write_png(path, width, height, pixels):
    raw = b''.join(b'\0' + bytes(c for p in pixels[y * width:(y + 1) * width] for c in p) for y in range(height))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
                  + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def read_dump(path):
    """Per cell: (text, attribute), text True where a character other than a
    blank stands (both cells of a double-byte one); and the cursor cell."""
    lines = open(path, encoding='utf-8').read().split('\n')
    attrs = [[int(line[2 * x:2 * x + 2], 16) for x in range(80)] for line in lines[26:51]]
    cells = {}
    for y in range(25):
        chars, x = list(lines[y]), 0
        for ch in chars:
            if x >= 80:
                break
            try:
                width = len(ch.encode('cp932'))
            except UnicodeEncodeError:
                width = 1
            if width == 2 and not (x + 1 < 80 and attrs[y][x + 1] & 32):
                width = 1
            for i in range(width):
                cells[(x + i, y)] = (ch not in ' \u3000', attrs[y][x])
            x += width
    cursor = lines[51].split()
    cursor_cell = (int(cursor[1]), int(cursor[2])) if cursor[1] != '-1' else None
    return cells, cursor_cell


def cell(pixels, x, y):
    return [pixels[(16 * y + r) * 640 + 8 * x + c] for r in range(16) for c in range(8)]


def compare(window, expected, cells, cursor_cell):
    """The faults of the window's picture against the session's, as text."""
    faults = []
    strange = set(window) - TABLE_COLOURS
    if strange:
        faults.append('colours outside the table: %s' % sorted(strange)[:8])
    for y in range(25):
        for x in range(80):
            if cursor_cell and y == cursor_cell[1] and abs(x - cursor_cell[0]) <= 1:
                continue  # the cursor blinks: its cell depends on the moment
            got, want = cell(window, x, y), cell(expected, x, y)
            text, attr = cells[(x, y)]
            if not text:
                # Blanks and graphics are drawn by the program's own pixel code.
                if got != want:
                    faults.append('cell %d,%d: blank or graphics differ' % (x, y))
                continue
            fore = (0, 0, 0) if attr & 8 else attr_rgb(attr & 7)
            if (fore in got) != (fore in want):
                faults.append('cell %d,%d: foreground %s %s' % (x, y, fore, 'missing' if fore in want else 'not expected'))
            if set(got) != set(want):
                faults.append('cell %d,%d: colours %s, expected %s' % (x, y, sorted(set(got)), sorted(set(want))))
    return faults


def find_window():
    for _ in range(150):
        found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^TAKTO$'],
                               capture_output=True, text=True).stdout.split()
        if found:
            return found[0]
        time.sleep(0.2)
    sys.exit('smoke: the TAKTO window did not appear within 30 s')


def close_while_playing(exe, song_arg, log):
    """Closing the window while a song plays (the application thread still in
    its loop, the timer ticking) ends the program cleanly with status 0."""
    program = subprocess.Popen(['wine', exe, song_arg], stdout=log, stderr=log)
    try:
        window = find_window()
        time.sleep(1)
        subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=True)
        subprocess.run(['xdotool', 'key', 'p'], check=True)
        time.sleep(1.5)
        subprocess.run(['xdotool', 'key', 'alt+F4'], check=True)
        asked = time.time()
        try:
            status = program.wait(timeout=5)
        except subprocess.TimeoutExpired:
            return ['closing the window while playing did not end the program within 5 s']
        if status != 0:
            return ['closing the window while playing ended the program with status %d' % status]
        print('smoke: closing the window while playing ended takto.exe with 0 in %.2f s' % (time.time() - asked))
        return []
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def main():
    exe, cli, song, out_dir = sys.argv[1:5]
    os.makedirs(out_dir, exist_ok=True)
    dump_txt, session_png = os.path.join(out_dir, 'session.txt'), os.path.join(out_dir, 'session.png')
    subprocess.run([cli, 'session', song, '--keys', SESSION_KEYS, '--screen', dump_txt, '--png', session_png],
                   check=True)
    _, _, expected = read_png(session_png)
    cells, cursor_cell = read_dump(dump_txt)

    log = open(os.path.join(out_dir, 'wine.log'), 'w')
    song_arg = 'Z:' + os.path.abspath(song).replace('/', '\\')
    program = subprocess.Popen(['wine', exe, song_arg], stdout=log, stderr=log)
    failures = []
    try:
        window = find_window()
        time.sleep(1)  # the command menu is drawn
        subprocess.run(['xdotool', 'windowfocus', '--sync', window], check=True)
        subprocess.run(['xdotool', 'key', '--delay', '150'] + X_KEYS, check=True)

        xwd = os.path.join(out_dir, 'window.xwd')
        deadline = time.time() + 20
        while True:
            subprocess.run(['xwd', '-silent', '-id', window, '-out', xwd], check=True)
            width, height, got = read_xwd(xwd)
            faults = ['client area %d x %d, not 640 x 400' % (width, height)] if (width, height) != (640, 400) \
                else compare(got, expected, cells, cursor_cell)
            if not faults or time.time() > deadline:
                break
            time.sleep(0.3)
        if width * height == len(got):
            write_png(os.path.join(out_dir, 'window.png'), width, height, got)
        if faults:
            failures.append('the window differs from the session (window.png, session.png in %s):\n  %s'
                            % (out_dir, '\n  '.join(faults[:40])))

        # Back to the command menu, then Q.
        subprocess.run(['xdotool', 'key', '--delay', '300', 'Escape', 'Escape'], check=True)
        time.sleep(1)
        subprocess.run(['xdotool', 'key', 'q'], check=True)
        asked = time.time()
        try:
            status = program.wait(timeout=5)
        except subprocess.TimeoutExpired:
            status = None
        took = time.time() - asked
        if status is None:
            failures.append('Q did not end the program within 5 s')
        elif status != 0 or took > 1.0:
            failures.append('after Q the program ended with status %d in %.2f s' % (status, took))
        else:
            print('smoke: edit screen matches the session cell by cell; Q ended takto.exe with 0 in %.2f s' % took)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
    failures += close_while_playing(exe, song_arg, log)
    if failures:
        sys.exit('smoke: ' + '\n'.join(failures))


if __name__ == '__main__':
    main()
