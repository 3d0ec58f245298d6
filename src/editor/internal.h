// What the editor's files share besides editor.h.
#pragma once

#include <cstdint>

#include "editor/editor.h"
#include "host/screen.h"

namespace editor_detail {

// Replaces a lead byte that stands last in text, its trail cut off, by a space.
void clip_tail(char* text);

// A walker position of its own, so that a computation can walk without
// disturbing the shared walker.
struct Walk {
  std::uint32_t pos;
  std::int32_t measure, step, total;
};
void step_next(Walk& w);
void step_back(Walk& w);
void step_to_measure_start(Walk& w);
void recount(Walk& w, std::uint32_t p);
Walk from_track_start();
Walk load_walker();
void store_walker(const Walk& w);

}  // namespace editor_detail
