#include <cstring>

#include "song/song.h"

namespace {

std::uint8_t code_at(std::uint32_t p) { return image()[p]; }

// True when p is an event position of the current track (end event included).
bool in_current_track(std::uint32_t p) {
  std::uint32_t first = first_event(current_track);
  return p >= first && p < track_end(current_track) && (p - first) % 4 == 0;
}

// Offset just past the 18th block, from the track table.
std::uint32_t song_end() { return track_end(TRACK_COUNT - 1); }

void shift_later_starts(long delta) {
  for (int t = current_track + 1; t < TRACK_COUNT; ++t) start[t] = static_cast<std::uint32_t>(start[t] + delta);
}

bool is_first(std::uint32_t p) { return p == first_event(current_track); }

// A continuation event may stand at p.
bool continuation_may_follow(std::uint32_t p) {
  if (is_first(p)) return false;
  std::uint8_t before = code_at(p - 4);
  return before == EV_TRACK_EXCL || before == EV_COMMENT || before == EV_CONTINUE;
}

// The event before p lies inside its measure (not a boundary).
bool follows_measure_content(std::uint32_t p) { return !is_first(p) && inside_measure(code_at(p - 4)); }

}  // namespace

int open_gap(std::uint32_t p, int n) {
  if (n <= 0 || !in_current_track(p)) return 1;
  // A continuation must stay glued to its exclusive or comment.
  if (code_at(p) == EV_CONTINUE) return 1;
  unsigned len = track_length(current_track);
  std::uint32_t bytes = 4u * static_cast<std::uint32_t>(n);
  std::uint32_t end = song_end();
  if (len + bytes > 65535 || end + bytes > SONG_IMAGE_SIZE) return 1;
  write16(image() + start[current_track], len + bytes);
  std::memmove(image() + p + bytes, image() + p, end - p);
  shift_later_starts(bytes);
  std::memset(image() + p, 0, bytes);
  return 0;
}

int close_gap(std::uint32_t p, int n) {
  if (n <= 0 || !in_current_track(p)) return 1;
  unsigned len = track_length(current_track);
  std::uint32_t bytes = 4u * static_cast<std::uint32_t>(n);
  if (p + bytes >= start[current_track] + len) return 1;
  // Never leave a continuation without its exclusive or comment.
  if (code_at(p + bytes) == EV_CONTINUE && !continuation_may_follow(p)) return 1;
  std::uint32_t end = song_end();
  write16(image() + start[current_track], len - bytes);
  std::memmove(image() + p, image() + p + bytes, end - p - bytes);
  shift_later_starts(-static_cast<long>(bytes));
  return 0;
}

void renumber_measure_refs(int from, int delta) {
  std::uint32_t end = track_end(current_track);
  for (std::uint32_t p = first_event(current_track); p < end; p += 4) {
    std::uint8_t* ev = image() + p;
    if (ends_track(ev[0])) break;
    if (ev[0] != EV_SAME_MEASURE) continue;
    int ref = static_cast<int>(same_measure_ref(ev)) + 1;
    if (ref < from) continue;
    set_same_measure_ref(ev, static_cast<unsigned>(ref + delta - 1) & 1023);  // references are 10 bits
  }
}

void relink_track(int t) {
  constexpr int TABLE = 1000;
  constexpr int LAST = 998;
  std::uint32_t table[TABLE];
  table[0] = TRACK_HEAD_SIZE;
  int count = 0;
  std::uint32_t base = start[t];
  std::uint32_t end = track_end(t);
  for (std::uint32_t p = first_event(t); p + 4 < end && count < LAST; p += 4) {
    std::uint8_t x = code_at(p);
    if (ends_track(x)) break;
    if (!inside_measure(x) || code_at(p + 4) == EV_SAME_MEASURE) table[++count] = p + 4 - base;
  }
  for (std::uint32_t p = first_event(t); p < end; p += 4) {
    std::uint8_t* ev = image() + p;
    if (ends_track(ev[0])) break;
    if (ev[0] != EV_SAME_MEASURE) continue;
    unsigned m = same_measure_ref(ev);
    std::uint32_t offset = m <= static_cast<unsigned>(count) ? table[m] : TRACK_HEAD_SIZE;
    ev[2] = static_cast<std::uint8_t>((ev[2] & 3) | (offset & 252));
    ev[3] = static_cast<std::uint8_t>(offset >> 8);
  }
}

void relink_measures() {
  for (int t = 0; t < TRACK_COUNT; ++t) relink_track(t);
}

int insert_same_measure(std::uint32_t p, int& k) {
  // Check first: a refused gap must leave the references as they were.
  if (!in_current_track(p) || code_at(p) == EV_CONTINUE || track_length(current_track) + 4 > MAX_TRACK_SIZE) return 1;
  if (follows_measure_content(p) && code_at(p) != EV_SAME_MEASURE) {
    // The new event splits measure k into a head, itself and a tail.
    renumber_measure_refs(k, +2);
    k += 1;
  } else {
    renumber_measure_refs(k, +1);
  }
  if (open_gap(p, 1) != 0) return 1;
  std::uint8_t* ev = image() + p;
  ev[0] = EV_SAME_MEASURE;
  set_same_measure_ref(ev, 0);
  return 0;
}

int insert_measure_end(std::uint32_t& p, int& k) {
  if (open_gap(p, 1) != 0) return 1;
  image()[p] = EV_MEASURE_END;
  // A measure end right before a same-measure event closes a measure that is
  // already closed: no new measure.
  if (!(follows_measure_content(p) && code_at(p + 4) == EV_SAME_MEASURE)) {
    renumber_measure_refs(k + 1, +1);
    k += 1;
  }
  p += 4;
  return 0;
}

int delete_event(std::uint32_t p, int& k) {
  if (!in_current_track(p) || code_at(p) == EV_END) return 1;
  std::uint8_t code = code_at(p);
  bool after_content = follows_measure_content(p);
  // Check first, as close_gap does: a refused delete must leave the
  // references as they were.
  if ((code == EV_SAME_MEASURE || code == EV_MEASURE_END) && code_at(p + 4) == EV_CONTINUE &&
      !continuation_may_follow(p))
    return 1;
  if (code == EV_SAME_MEASURE) {
    if (!after_content || code_at(p + 4) == EV_SAME_MEASURE) {
      renumber_measure_refs(k + 1, -1);
    } else {
      // The measure before and the one after join: measures k and k + 1 become
      // the joined measure k - 1, later ones move down by two.
      renumber_measure_refs(k, -1);
      renumber_measure_refs(k, -1);
      k -= 1;
    }
    if (close_gap(p, 1) != 0) return 1;  // not reached: checked above
  } else if (code == EV_MEASURE_END) {
    if (after_content && code_at(p + 4) == EV_SAME_MEASURE) {
      k += 1;
    } else {
      renumber_measure_refs(k + 1, -1);
    }
    if (close_gap(p, 1) != 0) return 1;  // not reached: checked above
  } else {
    // An exclusive or comment goes together with its continuation events.
    int n = 1;
    while (code_at(p + 4 * n) == EV_CONTINUE) ++n;
    if (close_gap(p, n) != 0) return 1;
    if (code_at(p) == EV_SAME_MEASURE) {
      if (after_content) {
        k += 1;
      } else {
        // The measure's only event is gone, and with it the measure: later
        // references move down.
        renumber_measure_refs(k + 1, -1);
      }
    }
  }
  return 0;
}
