// The play start, pause and stop protocol with a real 1 ms timer thread.
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "player/player_fixture.h"

namespace {

using namespace std::chrono_literals;

class PlayerThreads : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    image()[SONG_TEMPO] = 240;  // ticks of about 5 ms
    std::vector<std::vector<Event>> lists(TRACK_COUNT);
    for (int t = 0; t < TRACK_COUNT; ++t)
      for (int i = 0; i < 400; ++i) {
        lists[t].push_back(note(40 + (t + i) % 40, 0, 3 + (i % 7), 60 + t));
        lists[t].push_back(note(45 + (t + i) % 40, 1 + i % 2, 1 + (i % 5), 100));
        if (i % 8 == 7) lists[t].push_back(measure_end_ev());
      }
    tracks(lists);
    timer = std::thread([this] {
      while (!quit.load()) {
        headless_advance_clock(1);
        on_timer();
        std::this_thread::sleep_for(1ms);
      }
    });
  }
  void TearDown() override {
    quit.store(true);
    timer.join();
    PlayerTest::TearDown();
  }

  // The command prompt's play start, with the timer running.
  void start(std::uint32_t offset) {
    player_reset();
    current_track = 0;
    relink_measures();
    screen_mode.store(MODE_COMMAND);
    paused.store(0);
    seek_target.store(offset);
    prepare_play();
    screen_mode.store(MODE_PLAY_MONITOR, std::memory_order_release);
  }
  // Waits until the player has run n more ticks, reading what the play
  // monitor reads meanwhile.
  void wait_ticks(int n) {
    std::int32_t until = tick.load(std::memory_order_relaxed) + n;
    auto give_up = std::chrono::steady_clock::now() + 20s;
    while (tick.load(std::memory_order_relaxed) < until) {
      ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the clock does not run";
      for (int t = 0; t < TRACK_COUNT; ++t) {
        std::uint32_t p = position[t].load(std::memory_order_relaxed);
        EXPECT_GE(p, first_event(t));
        EXPECT_LT(p, track_end(t));
        EXPECT_LE(level[t].load(std::memory_order_relaxed), 254);
        EXPECT_GE(measure[t].load(std::memory_order_relaxed), 1);
      }
      std::this_thread::sleep_for(1ms);
    }
  }
  // Holds the clock and ends the sounding notes; returns how much was sent.
  std::size_t hold() {
    paused.store(1);
    silence_sounding_notes();
    return headless_sent_count();
  }

  std::thread timer;
  std::atomic<bool> quit{false};
};

// After a stop, every key that was struck has had its note-off last.
void expect_all_keys_released() {
  std::map<int, int> last;  // (channel << 8 | note) -> last velocity
  for (const SentMidi& m : headless_sent_midi())
    if (!m.exclusive && (m.bytes[0] & 0xF0) == 0x90) last[(m.bytes[0] & 15) << 8 | m.bytes[1]] = m.bytes[2];
  EXPECT_FALSE(last.empty());
  for (const auto& [key, velocity] : last) EXPECT_EQ(velocity, 0) << "channel " << (key >> 8) << " note " << (key & 255);
}

TEST_F(PlayerThreads, StartPauseStop) {
  start(TRACK_HEAD_SIZE);
  wait_ticks(40);

  std::size_t held = hold();
  std::int32_t held_tick = tick.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(headless_sent_count(), held) << "nothing is sent while paused";
  EXPECT_EQ(tick.load(), held_tick);
  expect_all_keys_released();

  paused.store(0);
  wait_ticks(40);

  std::size_t stopped = hold();
  screen_mode.store(MODE_COMMAND);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(headless_sent_count(), stopped) << "no note starts after the stop";
  expect_all_keys_released();

  // A second play from a later event, positioned while the timer runs.
  headless_clear_midi();
  start(TRACK_HEAD_SIZE + 4 * 200);
  EXPECT_GT(tick.load(), 100);
  wait_ticks(20);
  hold();
  screen_mode.store(MODE_COMMAND);
  expect_all_keys_released();
}

}  // namespace
