#!/usr/bin/env python3
"""Smoke test of takto.exe under Wine (DISPLAY and WINEPREFIX set by the caller,
a 1920 x 1080 screen), each window compared cell by cell with what takto-cli
session draws:
 1. a song named with blanks and characters outside any code page: the main
    screen at the start scale (2), full screen with F11 and back, the edit
    screen, full screen with F11 and back with Alt+Return, the window resized
    (the picture centred at the largest whole scale that fits), then Q must end
    with status 0 within a second;
 2. no song; one opened through the open dialog plays and the window is
    closed: the program must end with status 0.
usage: smoke_test.py TAKTO_EXE TAKTO_CLI SONG OUT_DIR"""
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

UNUSUAL_NAME = "\u66f2 \u00fc\u0439.sqf"
# The eight corners of the RGB cube: all the colour table holds.
TABLE_COLOURS = {(r, g, b) for r in (0, 255) for g in (0, 255) for b in (0, 255)}
# Where the window shows the picture: width, height, scale, left, top.
START = (1280, 800, 2, 0, 0)  # the largest whole scale whose window fits the screen
FULL_SCREEN = (1920, 1080, 2, 320, 140)


def read_png(path):
    """640 x 400 RGB pixels of the palette PNG takto-cli writes (filter 0 only)."""
    data = open(path, 'rb').read()
    pos, idat, palette = 8, b'', []
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            width, height, depth, colour_type = struct.unpack('>IIBB', body[:10])
            assert colour_type == 3 and depth <= 8, 'palette PNG expected'
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, n, 3)]
        elif kind == b'IDAT':
            idat += body
        pos += 12 + n
    raw, stride, per_byte = zlib.decompress(idat), (width * depth + 7) // 8, 8 // depth
    pixels = []
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        assert line[0] == 0, 'unfiltered rows expected'
        for x in range(width):
            shift = 8 - depth * (x % per_byte + 1)
            pixels.append(palette[(line[1 + x // per_byte] >> shift) & ((1 << depth) - 1)])
    return pixels


def read_xwd(path):
    """Width, height and RGB pixels of a 24/32-bit window dump."""
    d = open(path, 'rb').read()
    h = struct.unpack('>25I', d[:100])
    header_size, width, height, byte_order, bpp, bpl, ncolors = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
    step = bpl // width  # xwd says 24 or 32 bits for the same 4-byte pixels
    assert bpp in (24, 32) and step in (3, 4), 'a 24-bit X server expected'
    off, order = header_size + ncolors * 12, 'little' if byte_order == 0 else 'big'
    pixels = []
    for y in range(height):
        row = d[off + y * bpl:off + y * bpl + step * width]
        if step == 4 and order == 'little':  # the usual case, by slices: large windows
            pixels.extend(zip(row[2::4], row[1::4], row[0::4]))
            continue
        for x in range(width):
            v = int.from_bytes(row[step * x:step * x + step], order)
            pixels.append(((v >> 16) & 255, (v >> 8) & 255, v & 255))  # the mask drops a big-endian pad byte
    return width, height, pixels


def write_png(path, width, height, pixels):
    raw = b''.join(b'\0' + bytes(c for p in pixels[y * width:(y + 1) * width] for c in p) for y in range(height))
    chunk = lambda kind, body: struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    open(path, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
                           + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def read_dump(path):
    """The cells where a character other than a blank stands (both cells of a
    double-byte one), and the cursor cell."""
    lines = open(path, encoding='utf-8').read().split('\n')
    attrs = [[int(line[2 * x:2 * x + 2], 16) for x in range(80)] for line in lines[26:51]]
    text = set()
    for y in range(25):
        x = 0
        for ch in lines[y]:
            if x >= 80:
                break
            width = len(ch.encode('cp932', errors='replace'))  # outside the code page: one cell
            if width == 2 and not (x + 1 < 80 and attrs[y][x + 1] & 32):
                width = 1
            if ch not in ' \u3000':
                text.update((x + i, y) for i in range(width))
            x += width
    cursor = lines[51].split()
    return text, (int(cursor[1]), int(cursor[2])) if cursor[1] != '-1' else None


def unscale(window, width, shown):
    """The 640 x 400 picture inside a window that shows it scaled by a whole
    multiple with a black border, and what is wrong with the window."""
    _, _, scale, left, top = shown
    right, black = left + 640 * scale, {(0, 0, 0)}
    faults, picture = [], []
    for y in range(len(window) // width):
        row = window[y * width:(y + 1) * width]
        if not top <= y < top + 400 * scale:
            if set(row) != black:
                faults.append('row %d: the border is not black' % y)
            continue
        if set(row[:left]) - black or set(row[right:]) - black:
            faults.append('row %d: the border is not black' % y)
        if (y - top) % scale:
            if row != window[(y - 1) * width:y * width]:
                faults.append('row %d: rows are not %d high' % (y, scale))
            continue
        line = row[left:right]
        picture.extend(line[::scale])
        if any(line[x] != line[x - x % scale] for x in range(len(line))):
            faults.append('row %d: pixels are not %d wide' % (y, scale))
    return picture, faults[:8]


def compare(window, expected, text, cursor_cell):
    """The faults of the window's picture against the session's, as text."""
    strange = set(window) - TABLE_COLOURS
    faults = ['colours outside the table: %s' % sorted(strange)[:8]] if strange else []
    for y in range(25):
        for x in range(80):
            if cursor_cell and y == cursor_cell[1] and abs(x - cursor_cell[0]) <= 1:
                continue  # the cursor blinks: its cell depends on the moment
            got, want = ([p[(16 * y + r) * 640 + 8 * x + c] for r in range(16) for c in range(8)]
                         for p in (window, expected))
            # Blanks and graphics are the program's own pixels, exact; GDI's
            # text must show the same colours.
            if (x, y) not in text and got != want:
                faults.append('cell %d,%d: blank or graphics differ' % (x, y))
            elif set(got) != set(want):
                faults.append('cell %d,%d: colours %s, expected %s' % (x, y, sorted(set(got)), sorted(set(want))))
    return faults


def xdotool(*args, check=True):
    return subprocess.run(['xdotool'] + list(args), capture_output=True, text=True, check=check).stdout.split()


def wait_for(find, tries):
    """find() every 0.2 s until it returns something, or None."""
    for _ in range(tries):
        found = find()
        if found:
            return found
        time.sleep(0.2)
    return None


class Smoke:
    def __init__(self, exe, cli, song, out_dir):
        self.exe, self.cli, self.song, self.out_dir = exe, cli, song, out_dir
        self.log = open(os.path.join(out_dir, 'wine.log'), 'w')
        self.failures = []
        self.last = None  # the session keys and the picture of the last screen shown

    def start(self, *args):
        self.last = None
        self.program = subprocess.Popen(['wine', self.exe] + list(args), stdout=self.log, stderr=self.log)
        self.window = wait_for(lambda: xdotool('search', '--onlyvisible', '--name', '^TAKTO$', check=False), 150)
        if not self.window:
            return self.failures.append('the TAKTO window did not appear within 30 s')
        xdotool('windowfocus', '--sync', self.window[0])
        return True

    def keys(self, *keys):
        xdotool('windowfocus', '--sync', self.window[0])
        xdotool('key', '--delay', '150', *keys)

    def expect_screen(self, name, session_keys, shown=START, options=()):
        """Waits up to 20 s for the window to show what takto-cli session
        shows after the same keys (and options), as `shown` says."""
        dump, picture, xwd = (os.path.join(self.out_dir, name + ext) for ext in ('-session.txt', '-session.png', '.xwd'))
        subprocess.run([self.cli, 'session', self.song, '--keys', session_keys, '--screen', dump, '--png', picture]
                       + list(options), check=True)
        expected, (text, cursor_cell) = read_png(picture), read_dump(dump)
        deadline = time.time() + 20
        while True:
            # A window just uncovered by the dialog may not be capturable yet (0 x 0).
            shot = subprocess.run(['xwd', '-silent', '-id', self.window[0], '-out', xwd], capture_output=True)
            width, height, got = read_xwd(xwd) if shot.returncode == 0 else (0, 0, [])
            if (width, height) != shown[:2]:
                faults = ['client area %d x %d, not %d x %d' % (width, height, shown[0], shown[1])]
            else:
                shown_picture, faults = unscale(got, width, shown)
                faults = faults or compare(shown_picture, expected, text, cursor_cell) or \
                    self.changed(shown_picture, session_keys, cursor_cell)
            if not faults or time.time() > deadline:
                break
            time.sleep(0.3)
        write_png(os.path.join(self.out_dir, name + '.png'), width, height, got)
        self.last = (session_keys, shown_picture if not faults else None)
        if faults:
            self.failures.append('%s: the window differs from the session (%s.png, %s-session.png in %s):\n  %s'
                                 % (name, name, name, self.out_dir, '\n  '.join(faults[:40])))
            return False
        print('smoke: %s matches the session cell by cell (%d x %d at scale %d)' % ((name,) + shown[:3]))
        return True

    def changed(self, picture, session_keys, cursor_cell):
        """After keys that the screens never see (the same session keys as the
        last picture) the picture must be the same pixels: a window key that
        reached the edit screen would show, as it counts every key it reads."""
        if self.last is None or self.last[0] != session_keys or self.last[1] is None:
            return []
        cell = lambda p, x, y: [p[(16 * y + r) * 640 + 8 * x + c] for r in range(16) for c in range(8)]
        return ['cell %d,%d changed since the last picture' % (x, y) for y in range(25) for x in range(80)
                if not (cursor_cell and y == cursor_cell[1] and abs(x - cursor_cell[0]) <= 1)
                and cell(picture, x, y) != cell(self.last[1], x, y)]

    def expect_exit(self, what, limit):
        asked = time.time()
        try:
            status, took = self.program.wait(timeout=5), time.time() - asked
        except subprocess.TimeoutExpired:
            return self.failures.append('%s did not end the program within 5 s' % what)
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
    # 1: a song on the command line, named outside the code page, with blanks;
    # into the edit screen (track 1, measure 3, step 2) and out with Q.
    unusual = os.path.join(os.path.abspath(out_dir), UNUSUAL_NAME)
    shutil.copyfile(song, unusual)
    if smoke.start('Z:' + unusual.replace('/', '\\')):
        try:
            edit = 'RETURN 3 RETURN 2 RETURN'
            # The edit screen counts every key it reads at (78, 24): F11 and
            # Alt+Return must not reach it.
            steps = [(None, 'main-screen', 'wait=500', START),
                     (['F11'], 'main-full-screen', 'wait=500', FULL_SCREEN),
                     (['F11'], 'main-back', 'wait=500', START),
                     (['Return', '3', 'Return', '2', 'Return'], 'edit-screen', edit, START),
                     (['F11'], 'edit-full-screen', edit, FULL_SCREEN),
                     (['alt+Return'], 'edit-back', edit, START),
                     ('1400 900', 'edit-resized', edit, (1400, 900, 2, 60, 50)),
                     ('1279 800', 'edit-narrow', edit, (1279, 800, 1, 319, 200))]
            for action, name, session_keys, shown in steps:
                if isinstance(action, str):
                    xdotool('windowsize', '--sync', smoke.window[0], *action.split())
                elif action:
                    smoke.keys(*action)
                if not smoke.expect_screen(name, session_keys, shown):
                    break
            else:
                smoke.keys('Escape', 'Escape')  # back to the command menu
                time.sleep(1)
                xdotool('key', 'q')
                smoke.expect_exit('Q', 1.0)
        finally:
            smoke.stop()
    # 2: no song; L opens the dialog, which takes a typed name; P plays; the
    # window is closed while the application thread runs the play monitor.
    if smoke.start():
        try:
            time.sleep(1)
            smoke.keys('l')
            dialog = wait_for(lambda: [w for w in xdotool('search', '--onlyvisible', '--name', '.', check=False)
                                       if w != smoke.window[0]], 100)
            if not dialog:
                smoke.failures.append('L showed no open dialog')
            else:
                time.sleep(1)
                xdotool('windowfocus', '--sync', dialog[0])
                xdotool('type', '--delay', '30', 'Z:' + os.path.abspath(song).replace('/', '\\'))
                xdotool('key', 'Return')
                if smoke.expect_screen('opened', 'wait=500'):
                    smoke.keys('p')
                    time.sleep(1.5)
                    smoke.keys('alt+F4')
                    # Wine itself takes about 2 s to destroy a window on Xvfb.
                    smoke.expect_exit('closing the window while playing', 5.0)
        finally:
            smoke.stop()
    # 3: enhanced mode and the clock from the command line, before the song's
    # name: the song's own header values. A MIDI input device (Wine's come from
    # the ALSA sequencer) reads as one in the session too.
    if smoke.start('--enhanced', '--midi-clock', 'Z:' + os.path.abspath(song).replace('/', '\\')):
        try:
            keys = 'wait=500' + (' midi=B07B00' if os.path.exists('/dev/snd/seq') else '')
            smoke.expect_screen('enhanced', keys, options=['--enhanced', '--midi-clock'])
        finally:
            smoke.stop()
    if smoke.failures:
        sys.exit('smoke: ' + '\n'.join(smoke.failures))


if __name__ == '__main__':
    main()
