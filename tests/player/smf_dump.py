# Reads a Standard MIDI File with mido (an independent parser) and prints it
# line by line for the export test:
#   format F division D tracks N
#   name TRACK HEX          (track-name meta event)
#   tempo TRACK TIME US     (set_tempo meta event)
#   ev TRACK TIME HEX       (channel or sysex message, whole bytes)
#   meta TRACK TIME TYPE    (any other meta event)
#   last TRACK TYPE         (the track's last event)
# TIME is absolute in file ticks. Exits non-zero if mido refuses the file.
import sys

import mido


def hexbytes(data):
    return " ".join("%02X" % b for b in data)


def main(path):
    f = mido.MidiFile(path)
    print("format %d division %d tracks %d" % (f.type, f.ticks_per_beat, len(f.tracks)))
    for i, track in enumerate(f.tracks):
        now = 0
        for msg in track:
            now += msg.time
            if msg.is_meta:
                if msg.type == "track_name":
                    print("name %d %s" % (i, hexbytes(msg.name.encode("latin1"))))
                elif msg.type == "end_of_track":
                    pass  # reported by the "last" line
                elif msg.type == "set_tempo":
                    print("tempo %d %d %d" % (i, now, msg.tempo))
                else:
                    print("meta %d %d %s" % (i, now, msg.type))
            else:
                print("ev %d %d %s" % (i, now, hexbytes(msg.bytes())))
        print("last %d %s" % (i, track[-1].type if len(track) else "none"))


if __name__ == "__main__":
    main(sys.argv[1])
