// The audio clock: the one loop of takto-cli render and of live play.
#include "host/synth/synth.h"

namespace {
std::int64_t frame_of(const AudioClock& c, std::uint32_t ms) {
  return c.origin_frame + static_cast<std::int64_t>(ms - c.origin_ms) * c.rate / 1000;
}

void render_into(std::int16_t* out, int n) { synth_render(out, n); }
void render_into(float* out, int n) { synth_render_float(out, n); }

template <typename Sample>
int render_clocked(AudioClock& clock, Sample* out, int frames, AudioClockWork work, void* context) {
  int done = 0;
  while (done < frames) {
    if (clock.frames >= clock.next_frame) {
      const std::uint32_t k = clock.ms++;
      clock.next_frame = frame_of(clock, clock.ms);
      work(clock, k, context);
      if (clock.stop) {
        clock.stop = false;
        break;
      }
    }
    const int n = static_cast<int>(std::min<std::int64_t>(frames - done, clock.next_frame - clock.frames));
    render_into(out + 2 * static_cast<std::size_t>(done), n);
    clock.frames += n;
    done += n;
  }
  return done;
}
}  // namespace

int audio_clock_render(AudioClock& clock, std::int16_t* out, int frames, AudioClockWork work, void* context) {
  return render_clocked(clock, out, frames, work, context);
}

int audio_clock_render_float(AudioClock& clock, float* out, int frames, AudioClockWork work, void* context) {
  return render_clocked(clock, out, frames, work, context);
}

void audio_clock_align(AudioClock& clock) {
  const std::uint32_t k = clock.ms - 1;  // the millisecond whose work this is
  clock.origin_ms = k;
  clock.origin_frame = (clock.frames + SYNTH_BLOCK_FRAMES - 1) / SYNTH_BLOCK_FRAMES * SYNTH_BLOCK_FRAMES;
  clock.next_frame = frame_of(clock, clock.ms);
}
