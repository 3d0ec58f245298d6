#!/usr/bin/env python3
"""Smoke test of takto.exe under Wine and an X server (DISPLAY and WINEPREFIX set
by the caller). Two runs, each window captured and compared cell by cell with
what takto-cli session draws for the same keys:
 1. started with a song whose name has blanks and characters outside any
    Windows code page: the main screen, then the edit screen; Q must end the
    program with status 0 within a second;
 2. started with no song, which is then opened through the open dialog; a song
    plays and the window is closed: the program must end with status 0.

usage: smoke_test.py TAKTO_EXE TAKTO_CLI SONG OUT_DIR
"""
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

# The keys into the edit screen (track 1, measure 3, step 2), for the session
# and for xdotool.
SESSION_KEYS = "RETURN 3 RETURN 2 RETURN"
X_KEYS = ["Return", "3", "Return", "2", "Return"]
UNUSUAL_NAME = "\u66f2 \u00fc\u0439.sqf"
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
    step = bpl // width  # xwd says 24 or 32 bits for the same 4-byte pixels
    assert bpp in (24, 32) and step in (3, 4), 'a 24-bit X server expected'
    off = header_size + ncolors * 12
    order = 'little' if byte_order == 0 else 'big'
    pixels = []
    for y in range(height):
        row = d[off + y * bpl:off + y * bpl + step * width]
        for x in range(width):
            v = int.from_bytes(row[step * x:step * x + step], order)
            if order == 'big' and step == 4:
                v &= 0xFFFFFF
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


class Smoke:
    def __init__(self, exe, cli, song, out_dir):
        self.exe, self.cli, self.song, self.out_dir = exe, cli, song, out_dir
        self.log = open(os.path.join(out_dir, 'wine.log'), 'w')
        self.failures = []

    def session(self, name, keys):
        """The picture and cells that takto-cli session shows after these keys."""
        dump, picture = (os.path.join(self.out_dir, name + ext) for ext in ('-session.txt', '-session.png'))
        subprocess.run([self.cli, 'session', self.song, '--keys', keys, '--screen', dump, '--png', picture],
                       check=True)
        return read_png(picture)[2], read_dump(dump)

    def start(self, *args):
        self.program = subprocess.Popen(['wine', self.exe] + list(args), stdout=self.log, stderr=self.log)
        for _ in range(150):
            found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^TAKTO$'],
                                   capture_output=True, text=True).stdout.split()
            if found:
                self.window = found[0]
                subprocess.run(['xdotool', 'windowfocus', '--sync', self.window], check=True)
                return True
            time.sleep(0.2)
        self.failures.append('the TAKTO window did not appear within 30 s')
        return False

    def keys(self, *keys):
        subprocess.run(['xdotool', 'windowfocus', '--sync', self.window], check=True)
        subprocess.run(['xdotool', 'key', '--delay', '150'] + list(keys), check=True)

    def expect_screen(self, name, session_keys):
        """Waits up to 20 s for the window to show what the session shows."""
        expected, (cells, cursor_cell) = self.session(name, session_keys)
        xwd = os.path.join(self.out_dir, name + '.xwd')
        deadline = time.time() + 20
        while True:
            subprocess.run(['xwd', '-silent', '-id', self.window, '-out', xwd], check=True)
            width, height, got = read_xwd(xwd)
            faults = ['client area %d x %d, not 640 x 400' % (width, height)] if (width, height) != (640, 400) \
                else compare(got, expected, cells, cursor_cell)
            if not faults or time.time() > deadline:
                break
            time.sleep(0.3)
        write_png(os.path.join(self.out_dir, name + '.png'), width, height, got)
        if faults:
            self.failures.append('%s: the window differs from the session (%s.png, %s-session.png in %s):\n  %s'
                                 % (name, name, name, self.out_dir, '\n  '.join(faults[:40])))
            return False
        print('smoke: %s matches the session cell by cell' % name)
        return True

    def expect_exit(self, what, limit):
        asked = time.time()
        try:
            status = self.program.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.failures.append('%s did not end the program within 5 s' % what)
            return
        took = time.time() - asked
        if status != 0 or took > limit:
            self.failures.append('%s ended the program with status %d in %.2f s' % (what, status, took))
        else:
            print('smoke: %s ended takto.exe with 0 in %.2f s' % (what, took))

    def stop(self):
        if self.program.poll() is None:
            self.program.kill()
            self.program.wait()


def main():
    exe, cli, song, out_dir = sys.argv[1:5]
    os.makedirs(out_dir, exist_ok=True)
    smoke = Smoke(exe, cli, song, out_dir)
    # 1: a song on the command line, named outside the code page, with blanks.
    unusual = os.path.join(os.path.abspath(out_dir), UNUSUAL_NAME)
    shutil.copyfile(song, unusual)
    if smoke.start('Z:' + unusual.replace('/', '\\')):
        try:
            if smoke.expect_screen('main-screen', 'wait=500'):
                smoke.keys(*X_KEYS)
                if smoke.expect_screen('edit-screen', SESSION_KEYS):
                    smoke.keys('Escape', 'Escape')  # back to the command menu
                    time.sleep(1)
                    subprocess.run(['xdotool', 'key', 'q'], check=True)
                    smoke.expect_exit('Q', 1.0)
        finally:
            smoke.stop()
    # 2: no song; L opens the dialog, which takes a typed name; P plays; the
    # window is closed while the application thread runs the play monitor.
    if smoke.start():
        try:
            time.sleep(1)
            smoke.keys('l')
            dialog = None
            for _ in range(100):
                found = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '.'],
                                       capture_output=True, text=True).stdout.split()
                dialog = next((w for w in found if w != smoke.window), None)
                if dialog:
                    break
                time.sleep(0.2)
            if not dialog:
                smoke.failures.append('L showed no open dialog')
            else:
                time.sleep(1)
                subprocess.run(['xdotool', 'windowfocus', '--sync', dialog], check=True)
                subprocess.run(['xdotool', 'type', '--delay', '30', 'Z:' + os.path.abspath(song).replace('/', '\\')],
                               check=True)
                subprocess.run(['xdotool', 'key', 'Return'], check=True)
                if smoke.expect_screen('opened', 'wait=500'):
                    smoke.keys('p')
                    time.sleep(1.5)
                    smoke.keys('alt+F4')
                    # Wine itself takes about 2 s to destroy a window on Xvfb.
                    smoke.expect_exit('closing the window while playing', 5.0)
        finally:
            smoke.stop()
    if smoke.failures:
        sys.exit('smoke: ' + '\n'.join(smoke.failures))


if __name__ == '__main__':
    main()
