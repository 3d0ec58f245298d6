"""Compares two renders of one song by their loudness envelopes.

usage: compare_audio.py OURS.wav PEER.wav
Prints the figures and exits 1 when the renders disagree: the end of sound
more than 50 ms apart, or the RMS envelopes (10 ms windows, the better of
every lag within 60 ms) correlating below 0.99 overall or below 0.95 in an
audible 2 s section.
"""
import sys
import wave

import numpy as np

WINDOW_MS, MAX_LAG_MS, SECTION_MS = 10, 60, 2000
# A reverb tail fades slowly: its last 10 dB above the floor may differ by
# tenths of a dB and so by a second; the end is where it falls 50 dB.
END_DB, AUDIBLE_DB = -50.0, -40.0
# A dithered peer writes a 1-bit noise floor; sound is above it.
NOISE_FLOOR = 4 / 32768


def read(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2, path + ': not 16-bit'
        frames = np.frombuffer(w.readframes(w.getnframes()), dtype='<i2').astype(np.float64) / 32768
        return w.getframerate(), w.getnchannels(), frames.reshape(-1, w.getnchannels())


def envelope(x, window):
    n = len(x) // window
    power = (x[:n * window] ** 2).mean(axis=1).reshape(n, window).mean(axis=1)
    return np.sqrt(power)


def end_ms(env, floor):
    loud = np.nonzero(env > floor)[0]
    return (loud[-1] + 1) * WINDOW_MS if len(loud) else 0


def main():
    rate, channels, ours = read(sys.argv[1])
    peer_rate, peer_channels, peer = read(sys.argv[2])
    if (rate, channels) != (peer_rate, peer_channels):
        sys.exit('formats differ: %d Hz %d ch against %d Hz %d ch' % (rate, channels, peer_rate, peer_channels))
    window, ms = rate * WINDOW_MS // 1000, rate // 1000
    length = max(len(ours), len(peer)) + 2 * MAX_LAG_MS * ms
    pad = lambda x, at: np.pad(x, ((at, length - at - len(x)), (0, 0)))
    a = envelope(pad(ours, MAX_LAG_MS * ms), window)
    best = None
    for lag in range(-MAX_LAG_MS, MAX_LAG_MS + 1):
        b = envelope(pad(peer, (MAX_LAG_MS + lag) * ms), window)
        r = np.corrcoef(a, b)[0, 1]
        if best is None or r > best[0]:
            best = (r, lag, b)
    overall, lag, b = best
    top = max(a.max(), b.max())
    if top == 0:
        sys.exit('both renders are silent')
    floor = max(top * 10 ** (END_DB / 20), NOISE_FLOOR)
    end_ours, end_peer = end_ms(a, floor), end_ms(b, floor)
    section = SECTION_MS // WINDOW_MS
    worst, worst_at = 1.0, None
    for s in range(0, len(a), section):
        sa, sb = a[s:s + section], b[s:s + section]
        if max(sa.max(), sb.max()) < max(top * 10 ** (AUDIBLE_DB / 20), NOISE_FLOOR) or len(sa) < 2:
            continue
        r = np.corrcoef(sa, sb)[0, 1] if sa.std() > 0 and sb.std() > 0 else 0.0
        if r < worst:
            worst, worst_at = r, s * WINDOW_MS - MAX_LAG_MS
    print('lag %d ms, correlation %.4f overall, %.4f worst section (at %s ms), end %d ms against %d ms'
          % (lag, overall, worst, worst_at, end_ours, end_peer))
    ok = abs(end_ours - end_peer) <= 50 and overall >= 0.99 and worst >= 0.95
    sys.exit(0 if ok else 1)


main()
