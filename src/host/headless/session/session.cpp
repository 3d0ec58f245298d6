// The session runtime: the application thread's 1 ms sleep is the one place
// where time passes, and everything the script says happens there.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "host/headless/headless.h"
#include "host/headless/session/session.h"
#include "host/host.h"
#include "host/png/png_picture.h"
#include "host/screen.h"

namespace {
// Thrown by the sleep when the session's time is up, caught at the top of the
// application thread: the program is ended wherever it waits.
struct SessionOver {};

std::atomic<bool> running{false};
std::atomic<std::thread::id> app_thread;

const std::vector<ScriptToken>* script = nullptr;
std::vector<std::uint32_t> times;
std::vector<bool> answered;  // dialog tokens already used
std::size_t next_token = 0;  // the first token whose time has not come
std::uint32_t now = 0;
std::uint32_t end_ms = 0;
void (*timer_call)() = nullptr;
int failures = 0;

void press(const ScriptToken& t) {
  for (int vk : t.held) on_key_down(vk);
  on_key_down(t.vk);
  on_key_up(t.vk);
  for (auto vk = t.held.rbegin(); vk != t.held.rend(); ++vk) on_key_up(*vk);
}

void snap(const std::string& name) {
  std::string error;
  if (save_screen_dump((name + ".txt").c_str(), error) != 0 || save_picture_png((name + ".png").c_str(), error) != 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    ++failures;
  }
}

// The tokens whose script time the clock has reached, in script order.
void run_due_tokens() {
  for (; next_token < script->size() && times[next_token] <= now; ++next_token) {
    const ScriptToken& t = (*script)[next_token];
    if (t.kind == ScriptToken::KEY)
      press(t);
    else if (t.kind == ScriptToken::DROP)
      set_file_name(t.text.c_str());
    else if (t.kind == ScriptToken::SNAP)
      snap(t.text);
    else if (t.kind == ScriptToken::MIDI)
      midi_in_push(t.ms);
  }
}

void application(void (*app)()) {
  try {
    app();
  } catch (const SessionOver&) {
  }
}

bool in_session() { return running.load() && std::this_thread::get_id() == app_thread.load(); }

bool sleep_1ms() {
  if (!in_session()) return false;
  if (now >= end_ms) throw SessionOver{};
  ++now;
  headless_set_clock(now);
  if (timer_call) timer_call();
  run_due_tokens();
  if (now % BLINK_PERIOD_MS == 0) blink_cursor();
  return true;
}

// The first unused answer for this dialog in script order, whatever its time:
// a script names the answer before or after the key that opens the dialog.
int dialog_answer(bool save, std::string& name) {
  if (!in_session()) return -1;
  const ScriptToken::Kind wanted = save ? ScriptToken::SAVE : ScriptToken::OPEN;
  for (std::size_t i = 0; i < script->size(); ++i) {
    const ScriptToken& t = (*script)[i];
    if (answered[i] || (t.kind != wanted && t.kind != ScriptToken::CANCEL)) continue;
    answered[i] = true;
    name = t.text;
    return t.kind == ScriptToken::CANCEL ? 0 : 1;
  }
  return 0;
}

// Alerts are read by people: UTF-8, and marked as alerts.
bool print_alert(const char* text) {
  if (!in_session()) return false;
  std::fprintf(stderr, "alert: %s\n", sjis_to_utf8(text).c_str());
  return true;
}

const SessionHooks hooks = {sleep_1ms, print_alert, dialog_answer};
}  // namespace

int run_session(const std::vector<ScriptToken>& tokens, void (*app)(), void (*timer)()) {
  std::uint32_t length = 0;
  script = &tokens;
  times = script_times(tokens, length);
  answered.assign(tokens.size(), false);
  next_token = 0;
  now = 0;
  end_ms = length + SESSION_TAIL_MS;
  timer_call = timer;
  failures = 0;
  init_text_screen();
  reset_keys();
  headless_set_clock(0);

  std::thread thread;
  {
    // The thread must not sleep before it is known as the session's.
    static std::mutex starting;
    std::unique_lock<std::mutex> hold(starting);
    thread = std::thread([app] {
      { std::lock_guard<std::mutex> wait_for_start(starting); }
      application(app);
    });
    app_thread = thread.get_id();
    running.store(true);
    session_hooks.store(&hooks);
  }
  thread.join();
  session_hooks.store(nullptr);
  running.store(false);
  script = nullptr;
  return failures != 0 ? 1 : 0;
}
