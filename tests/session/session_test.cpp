// The session runtime with small applications of the tests' own: the key
// script reader, when keys, timer calls, blinks, drops and snaps happen, the
// end rule, the scripted dialogs and alerts, and the screen dump.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/headless/headless.h"
#include "host/headless/session/session.h"
#include "host/host.h"
#include "host/screen.h"

namespace {
std::vector<ScriptToken> script(const std::string& text) {
  std::vector<ScriptToken> tokens;
  std::string error;
  EXPECT_TRUE(parse_key_script(text, tokens, error)) << error;
  return tokens;
}

// What the test applications saw: (clock, key) pairs and the clocks of the timer calls.
using Seen = std::pair<std::uint32_t, int>;
std::vector<Seen> keys_seen;
std::vector<std::uint32_t> timer_calls;
std::uint32_t last_ms;

// Reads keys for ever, as a screen loop does; an RAII object is alive when
// the session ends it.
void key_reader() {
  std::vector<int> alive(100);
  for (;;) {
    host_sleep_1ms();
    last_ms = host_time_ms();
    if (int k = poll_key()) keys_seen.push_back({last_ms, k});
  }
}

void run(const std::string& text, void (*app)(), void (*timer)() = nullptr) {
  keys_seen.clear();
  timer_calls.clear();
  last_ms = 0;
  EXPECT_EQ(run_session(script(text), app, timer), 0);
}
}  // namespace

TEST(KeyScript, TokensAndWhatTheyMean) {
  const std::vector<ScriptToken> keys = script(
      "A Z 0 9 RETURN ESC SPACE TAB BS DEL INS HOME END PGUP PGDN UP DOWN LEFT RIGHT F1 F12 NUM0 NUM9\n"
      "NUM* NUM+ NUM- NUM. NUM/ CLEAR CONVERT NONCONVERT VK186 VK255\tS-ESC C-K C-S-A S-S");
  const std::vector<int> vks = {65,  90,  48, 57,  13,  27,  32,  9,   8,   46, 45, 36, 35,  33,  34, 38, 40, 37, 39,
                                112, 123, 96, 105, 106, 107, 109, 110, 111, 12, 28, 29, 186, 255, 27, 75, 65, 83};
  ASSERT_EQ(keys.size(), vks.size());
  for (std::size_t i = 0; i < vks.size(); ++i)
    EXPECT_EQ(std::pair(keys[i].kind, keys[i].vk), std::pair(ScriptToken::KEY, vks[i])) << keys[i].source;
  EXPECT_EQ(keys[33].held, std::vector<int>{16});
  EXPECT_EQ(keys[35].held, (std::vector<int>{17, 16}));
  const std::vector<ScriptToken> rest =
      script("wait=0 wait=250 open=a/b save=x.sqf cancel drop=d snap=out/s midi=903c64 midi=C07F");
  using T = ScriptToken;
  const std::tuple<T::Kind, std::uint32_t, std::string> want[] = {
      {T::WAIT, 0, ""},  {T::WAIT, 250, ""},    {T::OPEN, 0, "a/b"},     {T::SAVE, 0, "x.sqf"}, {T::CANCEL, 0, ""},
      {T::DROP, 0, "d"}, {T::SNAP, 0, "out/s"}, {T::MIDI, 0x643C90, ""}, {T::MIDI, 0x7FC0, ""}};
  ASSERT_EQ(rest.size(), std::size(want));
  for (std::size_t i = 0; i < rest.size(); ++i)
    EXPECT_EQ(std::tie(rest[i].kind, rest[i].ms, rest[i].text), want[i]) << rest[i].source;
}

TEST(KeyScript, UnreadableTokensAreNamed) {
  const std::string long_path = "open=" + std::string(FILE_NAME_SIZE, 'p');
  std::vector<ScriptToken> t;
  std::string error;
  std::istringstream bad_tokens(
      "a F0 F13 F01 VK0 VK256 VK01 VK NUM10 S- S-S-A C-S-C-A s-A wait= wait=x wait=-1 wait=100000001 open= snap= "
      "drop= foo=bar Cancel midi=90 midi=903C midi=C00505 midi=F8 midi=F0437F midi=903C80 midi=903G64 RETURN2 " +
      long_path);
  for (std::string bad; bad_tokens >> bad;) {
    EXPECT_FALSE(parse_key_script("A wait=5\n\t" + bad + " B", t, error)) << bad;
    EXPECT_NE(error.find("'" + bad + "'"), std::string::npos) << error;
  }
  EXPECT_FALSE(parse_key_script("wait=99999960 A wait=11", t, error));  // the whole script is bounded too
  EXPECT_NE(error.find("'wait=11'"), std::string::npos) << error;
  EXPECT_TRUE(parse_key_script(" \n\t ", t, error));
  EXPECT_TRUE(t.empty());
}

// A key at script time T comes in the first sleep whose clock reached T, with
// its modifiers; the timer runs once every millisecond first; the session
// ends 1,000 ms after the script's length, ending the endless reader.
TEST(Session, KeysTimerAndTheEnd) {
  run("A wait=100 S-B C-C C-S-D wait=0 VK16 E", key_reader, [] { timer_calls.push_back(host_time_ms()); });
  // VK16 is Shift itself: no key, and Shift is not left held for E.
  EXPECT_EQ(keys_seen, (std::vector<Seen>{{1, 65}, {130, 98 + 256}, {160, 3}, {190, 4 + 256}, {250, 69}}));
  EXPECT_EQ(last_ms, 280u + SESSION_TAIL_MS);
  ASSERT_EQ(timer_calls.size(), 1280u);
  for (std::size_t i = 0; i < timer_calls.size(); ++i) ASSERT_EQ(timer_calls[i], i + 1);

  // An application that returns ends the session at once; the keys left are not sent.
  run("A wait=5000 B", [] {
    while (poll_key() == 0) host_sleep_1ms();
    last_ms = host_time_ms();
  });
  EXPECT_EQ(last_ms, 1u);
  run("", key_reader);
  EXPECT_EQ(last_ms, SESSION_TAIL_MS);
}

// The cursor blinks every 422 ms of the clock, as the window timer would.
TEST(Session, CursorBlinks) {
  static std::vector<int> phases;
  phases.clear();
  run("wait=900", [] {
    set_cursor(3, 4);
    for (;;) {
      host_sleep_1ms();
      const std::uint32_t t = host_time_ms();
      if (t == 421 || t == 422 || t == 843 || t == 844) phases.push_back(text_screen.blink_phase);
    }
  });
  EXPECT_EQ(phases, (std::vector<int>{0, 1, 1, 0}));
}

// Each dialog takes the first unused answer meant for it (cancel answers
// either), wherever it stands in the script; with none left it is cancelled.
// A drop sets the file name at its time and loads nothing.
TEST(Session, DialogsAndDrops) {
  static std::vector<std::string> seen;
  seen.clear();
  run("open=a.sqf cancel save=dir.v2/b wait=100 drop=dropped.sqf", [] {
    set_file_name("start");
    for (int (*ask)() : {ask_save_name, ask_open_name, ask_save_name, ask_open_name, ask_save_name})
      seen.push_back(std::to_string(ask()) + " " + file_name);
    while (std::string(file_name) == seen.back().substr(2)) host_sleep_1ms();
    seen.push_back(std::to_string(host_time_ms()) + " " + file_name);
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"0 start", "1 a.sqf", "1 dir.v2/b.sqf", "0 dir.v2/b.sqf", "0 dir.v2/b.sqf",
                                            "100 dropped.sqf"}));
}

// Alerts in a session are printed for people: marked and in UTF-8.
TEST(Session, AlertsArePrintedInUtf8) {
  testing::internal::CaptureStderr();
  run("", [] { alert_box("\x83\x5C\x83\x93\x83O Song"); });  // "ソング Song"
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "alert: \xE3\x82\xBD\xE3\x83\xB3\xE3\x82\xB0 Song\n");
  EXPECT_EQ(headless_alerts().back(), "\x83\x5C\x83\x93\x83O Song");
  EXPECT_EQ(sjis_to_utf8("a\x81\x82\xFF\x81"), "a\xE2\x89\xA0??");  // "a≠" and two bytes that decode to nothing
}

// The dump's rows decoded from code page 932: a pair once from its lead cell,
// NUL as a space and "?" for what does not decode or would break the lines.
// (The goldens hold its attribute rows and cursor line.)
TEST(ScreenDump, RowsDecodeAsCodePage932) {
  init_text_screen();
  print_at(0, 0, "A\x8A\xBF\x62\xB1", 7);      // "A漢bｱ"
  print_at(10, 0, "\x01\x7F\x80\xA0\xFD", 6);  // a control byte, DEL, and bytes no character has
  print_at(20, 0, "x\x81", 15);                // a lead byte last: no pair
  print_at(30, 0, "\x82\xA0", 5);              // "あ", then its lead covered
  print_at(30, 0, "y", 5);
  print_at(79, 1, "\x8A\xBF", 7);  // a pair across rows is two lone bytes
  std::istringstream dump(screen_dump());
  std::vector<std::string> lines(3);
  for (std::string& line : lines) std::getline(dump, line);
  EXPECT_EQ(lines[0], "A\xE6\xBC\xA2\x62\xEF\xBD\xB1     ?????     x?        y?" + std::string(48, ' '));
  EXPECT_EQ(lines[1], std::string(79, ' ') + "?");
  EXPECT_EQ(lines[2], "\xEF\xBD\xBF" + std::string(79, ' '));  // the lone trail byte 0xBF alone is "ｿ"
}
