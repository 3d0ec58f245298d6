// Repeats, same-measure calls, measure ends and the end of a track. The
// handlers leave work_position on the event after which play continues.
#include "player/internal.h"

using namespace player_detail;

std::atomic<std::uint32_t> return_position[TRACK_COUNT];
int repeat_depth[TRACK_COUNT];
RepeatEntry repeat_stack[TRACK_COUNT][MAX_REPEAT_DEPTH];

namespace {
std::uint32_t returning() { return return_position[work_track].load(std::memory_order_relaxed); }
void set_return(std::uint32_t p) { return_position[work_track].store(p, std::memory_order_relaxed); }

// Where the same-measure event at p calls. The link comes from relink_measures
// but may be stale or damaged; one that leaves the track's event list is taken
// as the track's first event, where relink_measures sends unknown measures.
std::uint32_t link_target(std::uint32_t p) {
  const std::uint8_t* ev = image() + p;
  std::uint32_t first = first_event(work_track);
  std::uint32_t target = start[work_track] + same_measure_link(ev);
  if (target < first || target > last_event[work_track]) return first;
  return target;
}
}  // namespace

void repeat_start() {
  int& depth = repeat_depth[work_track];
  if (depth == MAX_REPEAT_DEPTH) return;
  repeat_stack[work_track][depth] = RepeatEntry{work_position, returning(), 0, work_measure};
  ++depth;
}

void repeat_end() {
  int& depth = repeat_depth[work_track];
  if (depth == 0) return;
  RepeatEntry& entry = repeat_stack[work_track][depth - 1];
  ++entry.passes;
  if ((entry.passes & 255) == step) {
    --depth;
    return;
  }
  work_position = entry.loop_start;
  set_return(entry.saved_return);
  work_measure = entry.saved_measure;
}

void same_measure() {
  const std::uint8_t* s = image();
  if (std::uint32_t back = returning()) {
    // A called measure ends where the next measure begins; calls never nest.
    ++work_measure;
    work_position = back;
    set_return(0);
    return;
  }
  if (work_position != first_event(work_track) && inside_measure(s[work_position - 4])) ++work_measure;
  set_return(work_position);
  std::uint32_t target = link_target(work_position);
  for (int links = 1;; ++links) {
    if (s[target] != EV_SAME_MEASURE) {
      work_position = target - 4;
      return;
    }
    if (links == 10) break;
    target = link_target(target);
  }
  // A chain of ten: give up the call.
  work_position = returning();
  set_return(0);
  ++work_measure;
}

void measure_end() {
  ++work_measure;
  if (std::uint32_t back = returning()) {
    work_position = back;
    set_return(0);
  }
}

bool end_of_track() {
  if (std::uint32_t back = returning()) {
    ++work_measure;
    work_position = back;
    set_return(0);
    return false;
  }
  return true;
}
