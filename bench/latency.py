#!/usr/bin/env python3
"""Key-to-sound latency of takto with the built-in synthesizer, as a user
meets it: takto under Xvfb, P typed with xdotool at the main screen (a song of
claves whose first note is on its first tick), SDL's disk audio driver as the
sound device. The file's size is sampled every 0.2 ms; a press's latency is
the time from xdotool's return (the key has been sent) to the moment the
device has been given the buffer that holds the first click.

  bench/latency.py TAKTO-CLI TAKTO [DIR]"""
import os, struct, subprocess, sys, tempfile, threading, time
cli, takto = sys.argv[1], sys.argv[2]
out = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp()
os.makedirs(out, exist_ok=True)
def vlq(n):
    b = [n & 0x7F]; n >>= 7
    while n: b.insert(0, 0x80 | (n & 0x7F)); n >>= 7
    return bytes(b)
ev = b''
for i in range(4):
    ev += vlq(0 if i == 0 else 36) + bytes([0x99, 75, 100]) + vlq(12) + bytes([0x89, 75, 0])
ev += vlq(0) + b'\xff\x2f\x00'
mid = b'MThd' + struct.pack('>IHHH', 6, 0, 1, 48) + b'MTrk' + struct.pack('>I', len(ev)) + ev
open(f'{out}/c.mid', 'wb').write(mid)
subprocess.run([cli, 'import-midi', f'{out}/c.mid', f'{out}/c.sqf'], check=True)
r, w = os.pipe()
xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], pass_fds=[w])
os.close(w)
display = ':' + os.fdopen(r).readline().strip()
env = dict(os.environ, DISPLAY=display, SDL_AUDIODRIVER='disk', SDL_DISKAUDIOFILE=f'{out}/cap.raw')
cap = f'{out}/cap.raw'
if os.path.exists(cap): os.remove(cap)
p = subprocess.Popen([takto, '--scale', '1', f'{out}/c.sqf'], env=env, stderr=subprocess.DEVNULL)
win = subprocess.run(['xdotool', 'search', '--sync', '--name', '^TAKTO$'], env=env, capture_output=True, text=True).stdout.split()[0]
subprocess.run(['xdotool', 'windowfocus', '--sync', win], env=env)
samples = []; stop = False
def sampler():
    while not stop:
        try: samples.append((time.monotonic(), os.path.getsize(cap)))
        except OSError: pass
        time.sleep(0.0002)
th = threading.Thread(target=sampler); th.start()
time.sleep(1.5)
presses = []
for i in range(10):
    t0 = time.monotonic()
    subprocess.run(['xdotool', 'key', 'p'], env=env)
    presses.append((t0, time.monotonic()))
    time.sleep(1.2)
    subprocess.run(['xdotool', 'key', 'Escape'], env=env)
    time.sleep(0.6)
stop = True; th.join()
p.terminate(); p.wait(); xvfb.terminate()
raw = open(cap, 'rb').read()
n = len(raw) // 4
lev = [max(abs(struct.unpack_from('<h', raw, 4*i)[0]), abs(struct.unpack_from('<h', raw, 4*i+2)[0])) for i in range(n)]
def frames_at(t):  # bytes in the file at time t, as frames
    best = 0
    for ts, size in samples:
        if ts <= t: best = size
        else: break
    return best // 4
def time_of(frame):
    for ts, size in samples:
        if size // 4 > frame: return ts
    return None
res = []
for t0, t1 in presses:
    f0 = frames_at(t0)
    f = next((i for i in range(f0, n) if lev[i] > 2000), None)
    if f is None: continue
    ts = time_of(f)
    res.append((ts - t1) * 1000)
v = sorted(res)
print('%d presses: key to sound median %.1f ms, min %.1f, max %.1f' % (len(v), v[len(v) // 2], v[0], v[-1]))
