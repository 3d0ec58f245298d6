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
        return (w.getframerate(), w.getnchannels()), frames.reshape(-1, w.getnchannels())


def envelope(x, window):
    n = len(x) // window
    return np.sqrt((x[:n * window] ** 2).mean(axis=1).reshape(n, window).mean(axis=1))


def main():
    fmt, ours = read(sys.argv[1])
    peer_fmt, peer = read(sys.argv[2])
    if fmt != peer_fmt:
        sys.exit('formats differ: %d Hz %d ch against %d Hz %d ch' % (fmt + peer_fmt))
    ms = fmt[0] // 1000
    length = max(len(ours), len(peer)) + 2 * MAX_LAG_MS * ms
    pad = lambda x, at: np.pad(x, ((at * ms, length - at * ms - len(x)), (0, 0)))
    a = envelope(pad(ours, MAX_LAG_MS), fmt[0] * WINDOW_MS // 1000)
    lags = [(lag, envelope(pad(peer, MAX_LAG_MS + lag), fmt[0] * WINDOW_MS // 1000))
            for lag in range(-MAX_LAG_MS, MAX_LAG_MS + 1)]
    overall, lag, b = max(((np.corrcoef(a, b)[0, 1], lag, b) for lag, b in lags), key=lambda t: t[0])
    top = max(a.max(), b.max())
    if top == 0:
        sys.exit('both renders are silent')
    floor = max(top * 10 ** (END_DB / 20), NOISE_FLOOR)
    # Where sound ends: the last window above the floor, 0 when none is.
    end_ours, end_peer = [(np.nonzero(e > floor)[0][-1:] + 1).sum() * WINDOW_MS for e in (a, b)]
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
    sys.exit(0 if abs(end_ours - end_peer) <= 50 and overall >= 0.99 and worst >= 0.95 else 1)


main()
