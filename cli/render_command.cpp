// takto-cli render: plays a song on the virtual clock into the built-in
// synthesizer and writes the audio with libsndfile.
#include <sndfile.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/play.h"
#include "host/replace_file.h"
#include "host/synth/synth.h"

namespace {

// Set by Ctrl-C or a termination request: the render stops and OUT stays as
// it was. A second one ends the program at once.
volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int signal) {
  interrupted = 1;
  std::signal(signal, SIG_DFL);
}

constexpr const char* RENDER_USAGE =
    "render SONG.sqf OUT.wav [--soundfont PATH] [--rate HZ] [--gain DB | --normalize] [--track N] [--offset BYTES]";
constexpr int DEFAULT_RATE = 44100;
constexpr int CHUNK_FRAMES = 4096;    // frames rendered and written at a time
constexpr int TAIL_SILENCE_MS = 100;  // the render ends after this much silence
constexpr int TAIL_MAX_MS = 10000;    // and at most this long after the last message
constexpr double MAX_GAIN_DB = 40;
constexpr double NORMAL_PEAK = 0.891250938;  // -1 dBFS, where --normalize puts the peak

// The file type for OUT's extension; 0 when it has none we write.
int format_for(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
  const char* ext = path.c_str() + dot + 1;
  if (strcasecmp(ext, "wav") == 0) return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  if (strcasecmp(ext, "flac") == 0) return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  if (strcasecmp(ext, "ogg") == 0 || strcasecmp(ext, "oga") == 0) return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  return 0;
}

// The progress line on a terminal: song time rendered, the total, and the
// speed as a multiple of real time.
struct Progress {
  bool on = false;
  double total_s = 0;
  std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown{};

  void show(double done_s, bool last) {
    if (!on) return;
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - shown < std::chrono::milliseconds(100)) return;
    shown = now;
    const double wall = std::chrono::duration<double>(now - begun).count();
    const double speed = wall > 0 ? done_s / wall : 0.0;
    // The release tail after the song is rendered at the full bar.
    const double song_s = last ? total_s : std::min(done_s, total_s);
    const int filled = total_s > 0 && !last ? static_cast<int>(song_s / total_s * 30) : 30;
    std::fprintf(stderr, "\r[%-30s] %7.1f / %.1f s  %5.0fx real time", std::string(filled, '#').c_str(), song_s,
                 total_s, speed);
    if (last) std::fprintf(stderr, ", %.1f s of audio\n", done_s);
    std::fflush(stderr);
  }
};

// The audio being written: frames rendered so far, and how each span reaches
// the file. Normalized, the float frames go to a scratch file first and reach
// the audio file scaled once the peak is known.
struct Render {
  SNDFILE* file = nullptr;
  std::FILE* spill = nullptr;  // --normalize: the float frames, until the end
  int rate = DEFAULT_RATE;
  AudioClock clock;
  std::vector<std::int16_t> buffer = std::vector<std::int16_t>(2 * CHUNK_FRAMES);
  std::vector<float> floats = std::vector<float>(2 * CHUNK_FRAMES);
  float peak = 0;
  bool failed = false;
  std::string spill_error;  // why the scratch file failed, when it did
  Progress progress;

  long long silent = 0;  // frames at the end of what was rendered that are 0 as 16 bits

  // Renders up to `frames` frames through the audio clock, each millisecond
  // after its work (as the desktop's audio callback does); fewer when the
  // work stops the clock.
  void render(long long frames, AudioClockWork work, void* context) {
    while (frames > 0 && !failed) {
      if (interrupted) {
        failed = true;
        break;
      }
      const int want = static_cast<int>(std::min<long long>(CHUNK_FRAMES, frames));
      int n = 0;
      if (spill) {
        n = audio_clock_render_float(clock, floats.data(), want, work, context);
        for (int i = 0; i < 2 * n; ++i) peak = std::max(peak, std::fabs(floats[i]));
        count_silence(floats.data(), n, [](float v) { return std::fabs(v) * 32767.0f < 0.5f; });
        if (n > 0 && std::fwrite(floats.data(), sizeof(float), 2 * n, spill) != static_cast<std::size_t>(2 * n))
          spill_failed();
      } else {
        n = audio_clock_render(clock, buffer.data(), want, work, context);
        count_silence(buffer.data(), n, [](std::int16_t v) { return v == 0; });
        if (n > 0 && sf_writef_short(file, buffer.data(), n) != n) failed = true;
      }
      frames -= n;
      if (n < want) break;
    }
    progress.show(static_cast<double>(clock.frames) / rate, false);
  }
  template <typename Sample, typename Quiet>
  void count_silence(const Sample* s, int n, Quiet quiet) {
    int zeros = 0;
    while (zeros < n && quiet(s[2 * (n - 1 - zeros)]) && quiet(s[2 * (n - 1 - zeros) + 1])) ++zeros;
    silent = zeros == n ? silent + n : zeros;
  }
  // --normalize: the spilled frames scaled so that the peak is at -1 dBFS.
  void write_normalized() {
    const float scale = peak > 0 ? static_cast<float>(NORMAL_PEAK / peak) : 1.0f;
    if (std::fflush(spill) != 0 || std::fseek(spill, 0, SEEK_SET) != 0) spill_failed();
    for (long long done = 0; done < clock.frames && !failed && !interrupted;) {
      const int n = static_cast<int>(std::min<long long>(CHUNK_FRAMES, clock.frames - done));
      if (std::fread(floats.data(), sizeof(float), 2 * n, spill) != static_cast<std::size_t>(2 * n)) spill_failed();
      for (int i = 0; i < 2 * n; ++i) floats[i] *= scale;
      synth_to_pcm16(floats.data(), buffer.data(), 2 * static_cast<std::size_t>(n));
      if (!failed && sf_writef_short(file, buffer.data(), n) != n) failed = true;
      done += n;
    }
    if (interrupted) failed = true;
  }
  void spill_failed() {
    spill_error = std::string("the temporary file: ") + (errno ? std::strerror(errno) : "short read");
    failed = true;
  }
  long long frame_of_ms(long long ms) const { return ms * rate / 1000; }
};

// A level in dB: a number within +-MAX_GAIN_DB.
bool read_gain(const char* text, double& db) {
  char* end = nullptr;
  errno = 0;
  db = std::strtod(text, &end);
  return errno == 0 && end != text && *end == 0 && std::isfinite(db) && std::fabs(db) <= MAX_GAIN_DB;
}

void deliver(const SentMidi& m) {
  if (m.exclusive) {
    synth_long(m.bytes.data(), m.bytes.size());
  } else if (!m.bytes.empty()) {
    std::uint32_t message = 0;
    for (std::size_t i = 0; i < m.bytes.size() && i < 4; ++i) message |= std::uint32_t{m.bytes[i]} << (8 * i);
    synth_short(message);
  }
}

int cmd_render(int argc, char** argv) {
  if (argc < 3) return usage_error(RENDER_USAGE);
  PlayOptions o;
  o.song = argv[1];
  const std::string out = argv[2];
  std::string soundfont;
  long long rate = DEFAULT_RATE;
  double gain_db = 0;
  bool gain = false, normalize = false;
  for (int i = 3; i < argc;) {
    const std::string name = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (name == "--soundfont" && value && *value) {
      soundfont = value;
      i += 2;
    } else if (name == "--rate" && value) {
      char* end = nullptr;
      errno = 0;
      rate = std::strtoll(value, &end, 10);
      if (errno != 0 || *end != 0 || end == value || rate < 1 || rate > 1000000) return usage_error(RENDER_USAGE);
      i += 2;
    } else if (name == "--gain" && value) {
      if (!read_gain(value, gain_db)) {
        std::fprintf(stderr, "--gain must be a level in dB from -40 to 40, not '%s'\n", value);
        return 2;
      }
      gain = true;
      i += 2;
    } else if (name == "--normalize") {
      normalize = true;
      i += 1;
    } else {
      const int took = parse_play_option(argc, argv, i, false, o);
      if (took <= 0) return usage_error(RENDER_USAGE);
      i += took;
    }
  }

  if (gain && normalize) {
    std::fprintf(stderr, "--gain and --normalize do not go together: --normalize sets the level itself\n");
    return 2;
  }
  const int format = format_for(out);
  if (format == 0) {
    std::fprintf(stderr, "Unknown audio file type: %s (use .wav, .flac or .ogg)\n", out.c_str());
    return 2;
  }
  std::vector<std::string> tried;
  const std::string font = find_soundfont(soundfont, &tried);
  if (font.empty()) {
    std::string list;
    for (const std::string& path : tried) list += "\n  " + path;
    std::fprintf(stderr, "No SoundFont found. Looked for:%s\n%s\n", list.c_str(),
                 soundfont.empty() ? "Install fluid-soundfont-gm (or timgm6mb-soundfont), or give --soundfont PATH."
                                   : "Give the path of an existing .sf2 file.");
    return 1;
  }

  // A first play, without sound, checks the song before anything is written
  // and gives the song's length for the progress bar.
  PlayResult dry;
  long long last_ms = 0;
  if (play_song(o, dry, [&](const SentMidi& m, const PlayResult&) { last_ms = m.ms; }) != 0) return 1;

  // A WAV file holds at most 4 GB of samples (some 6.7 hours at 44,100 Hz).
  const long long most_frames = (last_ms + TAIL_MAX_MS) * rate / 1000 + 1;
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && most_frames * 4 > 0xFFFFFF00LL) {
    std::fprintf(stderr, "The song plays %.1f hours, longer than a WAV file can hold at %lld Hz: use .flac or .ogg\n",
                 static_cast<double>(last_ms) / 3600000.0, rate);
    return 1;
  }

  std::string why;
  // Only the presets the song uses are read from the SoundFont.
  if (!synth_open(font, static_cast<int>(rate), &why, true)) {
    std::fprintf(stderr, "Cannot start the synthesizer: %s\n", why.c_str());
    return 1;
  }
  synth_set_gain_db(gain_db);

  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);
  Render r;
  r.rate = static_cast<int>(rate);
  r.clock.rate = r.rate;
  r.progress.on = isatty(STDERR_FILENO) != 0;
  r.progress.total_s = static_cast<double>(last_ms) / 1000.0;
  bool song_refused = false;
  std::string failure;  // why the audio could not be written, when it was libsndfile
  auto write = [&](std::FILE* f) {
    SF_INFO info{};
    info.samplerate = r.rate;
    info.channels = 2;
    info.format = format;
    r.file = sf_open_fd(fileno(f), SFM_WRITE, &info, 0);
    if (!r.file) {
      failure = sf_strerror(nullptr);
      return false;
    }
    if (normalize && !(r.spill = open_spill(out))) {
      failure = std::string("no temporary file (") + std::strerror(errno) + ")";
      sf_close(r.file);
      return false;
    }
    // Each millisecond plays the song's timer call, and its messages go to
    // the synthesizer before the millisecond's frames are rendered.
    PlayResult result;
    SongPlay play{o, [](const SentMidi& m, const PlayResult&) { deliver(m); }, result};
    const int played = play_start(play);
    auto play_work = [](AudioClock& clock, std::uint32_t ms, void* context) {
      auto* p = static_cast<SongPlay*>(context);
      play_ms(*p, ms);
      if (p->over) clock.stop = true;
    };
    while (played == 0 && !r.failed && !play.over) r.render(CHUNK_FRAMES, play_work, &play);
    // The tail: release and reverb go on until 100 ms of silence.
    auto idle = [](AudioClock&, std::uint32_t, void*) {};
    const long long quiet = r.frame_of_ms(TAIL_SILENCE_MS);
    const long long tail_end = r.clock.frames + r.frame_of_ms(TAIL_MAX_MS);
    while (played == 0 && !r.failed && r.silent < quiet && r.clock.frames < tail_end)
      r.render(std::min(tail_end - r.clock.frames, std::min<long long>(quiet - r.silent, r.rate / 100)), idle, nullptr);
    r.progress.show(static_cast<double>(r.clock.frames) / r.rate, true);
    if (r.spill && played == 0 && !r.failed) r.write_normalized();
    if (r.spill) std::fclose(r.spill);
    if (r.failed) failure = r.spill_error.empty() ? sf_strerror(r.file) : r.spill_error;
    const bool closed = sf_close(r.file) == 0;
    if (!closed && !r.failed) failure = "the audio file could not be finished";
    song_refused = played != 0;
    return played == 0 && !r.failed && closed;
  };
  const bool written = replace_file(out, write, &why);
  const long long clipped = synth_clipped_samples();
  synth_close();
  if (song_refused) return 1;
  if (interrupted) {
    std::fprintf(stderr, "Interrupted: %s left as it was\n", out.c_str());
    return 1;
  }
  if (!written) {
    std::fprintf(stderr, "Cannot write %s: %s\n", out.c_str(), (failure.empty() ? why : failure).c_str());
    return 1;
  }
  if (clipped > 0)
    std::fprintf(stderr, "%lld samples clipped at --gain %+.1f dB: a lower --gain, or --normalize, keeps them whole\n",
                 clipped, gain_db);
  return 0;
}

const bool registered = register_command(
    "render", RENDER_USAGE, cmd_render,
    "plays the song as trace does into the built-in synthesizer and writes the audio (.wav, .flac, .ogg)");

}  // namespace
