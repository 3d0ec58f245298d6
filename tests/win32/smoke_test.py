#!/usr/bin/env python3
"""Smoke test of takto.exe under Wine (DISPLAY and WINEPREFIX set by the caller,
a 1920 x 1080 screen): each window compared cell by cell with what takto-cli
session draws, in three runs of the program (see main).
usage: smoke_test.py TAKTO_EXE TAKTO_CLI SONG OUT_DIR"""
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

import numpy as np

# Where the window shows the picture: width, height, scale, left, top.
START = (1280, 800, 2, 0, 0)  # the largest whole scale whose window fits the screen
FULL_SCREEN = (1920, 1080, 2, 320, 140)


def read_png(path):
    """The 400 x 640 x 3 pixels of the 4-bit palette PNG takto-cli writes (unfiltered rows)."""
    data, pos, chunks = open(path, 'rb').read(), 8, {}
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        chunks[kind] = chunks.get(kind, b'') + data[pos + 8:pos + 8 + n]
        pos += 12 + n
    palette = np.frombuffer(chunks[b'PLTE'], np.uint8).reshape(-1, 3)
    rows = np.frombuffer(zlib.decompress(chunks[b'IDAT']), np.uint8).reshape(400, 321)
    assert not rows[:, 0].any(), 'unfiltered rows expected'
    return palette[np.stack([rows[:, 1:] >> 4, rows[:, 1:] & 15], 2).reshape(400, 640)]


def read_xwd(path):
    """The height x width x 3 pixels of a window dump of a 24-bit X server."""
    d = open(path, 'rb').read()
    h = struct.unpack('>25I', d[:100])
    assert h[12] == 4 * h[4] and h[7] == 0, 'little-endian 32-bit pixels expected'
    return np.frombuffer(d, np.uint8, h[5] * h[12], h[0] + h[19] * 12).reshape(h[5], h[4], 4)[:, :, 2::-1]


def read_dump(path):
    """The cells where a character other than a blank stands (both cells of a
    double-byte one), and the cursor cell (-1, -1 when there is none)."""
    lines = open(path, encoding='utf-8').read().split('\n')
    text = set()
    for y in range(25):
        x = 0
        for ch in lines[y]:
            # Outside the code page one cell; a pair whose trail cell lacks bit 5 one.
            width = 1 + (len(ch.encode('cp932', errors='replace')) == 2 and x + 1 < 80
                         and int(lines[26 + y][2 * x + 2:2 * x + 4], 16) & 32 != 0)
            if ch not in ' \u3000':
                text.update((x + i, y) for i in range(width) if x + i < 80)
            x += width
    return text, tuple(int(n) for n in (lines[51].split() + ['-1'])[1:3])


def faults_of(window, shown, expected, text, cursor_cell):
    """What is wrong with a window that should show the 640 x 400 picture
    `expected` scaled by a whole multiple on black, as `shown` says, and the
    picture it shows."""
    if window.shape[1::-1] != shown[:2]:
        return ['client area %d x %d, not %d x %d' % (window.shape[1::-1] + shown[:2])], None
    _, _, scale, left, top = shown
    inner = window[top:top + 400 * scale, left:left + 640 * scale]
    picture, border = inner[::scale, ::scale], window.copy()
    border[top:top + 400 * scale, left:left + 640 * scale] = 0
    faults = ['the border is not black'] if border.any() else []
    if not np.array_equal(inner, picture.repeat(scale, 0).repeat(scale, 1)):
        faults.append('pixels are not %d x %d squares' % (scale, scale))
    if not np.isin(picture, (0, 255)).all():
        faults.append('colours outside the table')
    got, want = (p.reshape(25, 16, 80, 8, 3).swapaxes(1, 2) for p in (picture, expected))
    colours = lambda c: sorted(set(map(tuple, c.reshape(-1, 3))))
    for y, x in np.ndindex(25, 80):
        if y == cursor_cell[1] and abs(x - cursor_cell[0]) <= 1:
            continue  # its cell depends on the moment
        # Blanks and graphics are the program's own pixels, exact; GDI's text
        # must show the same colours.
        if (x, y) not in text and not np.array_equal(got[y, x], want[y, x]):
            faults.append('cell %d,%d: blank or graphics differ' % (x, y))
        elif colours(got[y, x]) != colours(want[y, x]):
            faults.append('cell %d,%d: colours %s, expected %s' % (x, y, colours(got[y, x]), colours(want[y, x])))
    return faults, picture


def xdotool(*args, check=True):
    return subprocess.run(['xdotool'] + list(args), capture_output=True, text=True, check=check).stdout.split()


def wait_for(find, tries):
    """find() every 0.2 s until it returns something, or None."""
    for _ in range(tries):
        if found := find():
            return found
        time.sleep(0.2)
    return None


class Failure(Exception):
    """What ends a run of the program: it is reported, and the next run starts."""


def require(ok, message):
    if not ok:
        raise Failure(message)


class Smoke:
    def __init__(self, exe, cli, song, out_dir):
        self.exe, self.cli, self.song, self.out_dir = exe, cli, song, out_dir
        self.log = open(os.path.join(out_dir, 'wine.log'), 'w')
        self.failures = []

    def run(self, steps, *args):
        """Starts takto.exe with args, takes the steps once its window shows,
        and ends the program if they did not."""
        self.last = None  # the session keys and the picture of the last screen shown
        self.program = subprocess.Popen(['wine', self.exe] + list(args), stdout=self.log, stderr=self.log)
        try:
            window = wait_for(lambda: xdotool('search', '--onlyvisible', '--name', '^TAKTO$', check=False), 150)
            require(window, 'the TAKTO window did not appear within 30 s')
            self.window = window[0]
            steps()
        except Failure as f:
            self.failures.append(str(f))
        finally:
            if self.program.poll() is None:
                self.program.kill()
                self.program.wait()

    def keys(self, *keys):
        xdotool('windowfocus', '--sync', self.window)
        xdotool('key', '--delay', '150', *keys)

    def expect_screen(self, name, session_keys, shown=START, options=()):
        """Waits up to 20 s for the window to show what takto-cli session
        shows after the same keys (and options), as `shown` says."""
        dump, png, xwd = (os.path.join(self.out_dir, name + ext) for ext in ('-session.txt', '-session.png', '.xwd'))
        subprocess.run([self.cli, 'session', self.song, '--keys', session_keys, '--screen', dump, '--png', png]
                       + list(options), check=True)
        expected, (text, cursor_cell) = read_png(png), read_dump(dump)
        faults, deadline = ['no picture taken'], time.time() + 20
        while faults and time.time() < deadline:
            time.sleep(0.3)
            # A window just uncovered by the dialog may not be capturable yet (0 x 0).
            shot = subprocess.run(['xwd', '-silent', '-id', self.window, '-out', xwd], capture_output=True)
            got = read_xwd(xwd) if shot.returncode == 0 else np.zeros((0, 0, 3), np.uint8)
            faults, picture = faults_of(got, shown, expected, text, cursor_cell)
            # After keys that the screens never see, the same pixels: a window
            # key that reached the edit screen would show, as it counts every
            # key it reads.
            if not faults and self.last and self.last[0] == session_keys:
                faults = [f.replace('blank or graphics differ', 'changed since the last picture')
                          for f in faults_of(got, shown, self.last[1], set(), cursor_cell)[0]]
        require(not faults, '%s: the window differs from the session (%s.xwd, %s-session.png in %s):\n  %s'
                % (name, name, name, self.out_dir, '\n  '.join(faults[:40])))
        self.last = (session_keys, picture)
        print('smoke: %s matches the session cell by cell (%d x %d at scale %d)' % ((name,) + shown[:3]))

    def expect_exit(self, what, limit):
        asked = time.time()
        try:
            status, took = self.program.wait(timeout=5), time.time() - asked
        except subprocess.TimeoutExpired:
            raise Failure('%s did not end the program within 5 s' % what)
        require(status == 0 and took <= limit, '%s ended the program with status %d in %.2f s' % (what, status, took))
        print('smoke: %s ended takto.exe with 0 in %.2f s' % (what, took))


def main():
    exe, cli, song, out_dir = sys.argv[1:5]
    os.makedirs(out_dir, exist_ok=True)
    smoke = Smoke(exe, cli, song, out_dir)
    windows_name = lambda path: 'Z:' + os.path.abspath(path).replace('/', '\\')

    def edit_and_quit():
        """A song on the command line, named outside the code page, with
        blanks; into the edit screen (track 1, measure 3, step 2) and out with Q."""
        edit = 'RETURN 3 RETURN 2 RETURN'
        # The edit screen counts every key it reads at (78, 24): F11 and
        # Alt+Return must not reach it. A key, or a size for the window:
        steps = [('', 'main-screen', 'wait=500', START),
                 ('F11', 'main-full-screen', 'wait=500', FULL_SCREEN),
                 ('F11', 'main-back', 'wait=500', START),
                 ('Return 3 Return 2 Return', 'edit-screen', edit, START),
                 ('F11', 'edit-full-screen', edit, FULL_SCREEN),
                 ('alt+Return', 'edit-back', edit, START),
                 ('1400 900', 'edit-resized', edit, (1400, 900, 2, 60, 50)),
                 ('1279 800', 'edit-narrow', edit, (1279, 800, 1, 319, 200))]
        for action, name, session_keys, shown in steps:
            if action[:1].isdigit():
                xdotool('windowsize', '--sync', smoke.window, *action.split())
            elif action:
                smoke.keys(*action.split())
            smoke.expect_screen(name, session_keys, shown)
        smoke.keys('Escape', 'Escape')  # back to the command menu
        time.sleep(1)
        xdotool('key', 'q')
        smoke.expect_exit('Q', 1.0)

    def open_play_close():
        """No song; L opens the dialog, which takes a typed name; P plays; the
        window is closed while the application thread runs the play monitor."""
        time.sleep(1)
        smoke.keys('l')
        dialog = wait_for(lambda: [w for w in xdotool('search', '--onlyvisible', '--name', '.', check=False)
                                   if w != smoke.window], 100)
        require(dialog, 'L showed no open dialog')
        time.sleep(1)
        xdotool('windowfocus', '--sync', dialog[0])
        xdotool('type', '--delay', '30', windows_name(song))
        xdotool('key', 'Return')
        smoke.expect_screen('opened', 'wait=500')
        smoke.keys('p')
        time.sleep(1.5)
        smoke.keys('alt+F4')
        # Wine itself takes about 2 s to destroy a window on Xvfb.
        smoke.expect_exit('closing the window while playing', 5.0)

    unusual = os.path.join(out_dir, '\u66f2 \u00fc\u0439.sqf')
    shutil.copyfile(song, unusual)
    smoke.run(edit_and_quit, windows_name(unusual))
    smoke.run(open_play_close)
    # Enhanced mode and the clock from the command line, before the song's
    # name: the song's own header values. A MIDI input device (Wine's come from
    # the ALSA sequencer) reads as one in the session too.
    keys = 'wait=500' + (' midi=B07B00' if os.path.exists('/dev/snd/seq') else '')
    smoke.run(lambda: smoke.expect_screen('enhanced', keys, options=['--enhanced', '--midi-clock']),
              '--enhanced', '--midi-clock', windows_name(song))
    if smoke.failures:
        sys.exit('smoke: ' + '\n'.join(smoke.failures))


if __name__ == '__main__':
    main()
