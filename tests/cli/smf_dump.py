"""smf_dump.py FILE.mid: a Standard MIDI File as mido reads it, with absolute
times; fails if mido refuses the file."""
import sys, itertools, mido
f = mido.MidiFile(sys.argv[1])
print('format', f.type, 'division', f.ticks_per_beat, 'tracks', len(f.tracks))
for i, track in enumerate(f.tracks):
    for m, now in zip(track, itertools.accumulate(m.time for m in track)):
        if m.type == 'set_tempo': print(i, 'tempo', now, m.tempo)
        elif m.type == 'track_name': print(i, 'name', *['%02X' % b for b in m.name.encode('latin1')])
        elif m.type != 'end_of_track': print(i, now, *['%02X' % b for b in m.bytes()])
    print(i, 'last', track[-1].type)
