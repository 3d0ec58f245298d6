// The key script reader: names of keys to virtual keys, and the other tokens.
#include <cstring>

#include "host/headless/session/session.h"
#include "host/host.h"

namespace {
constexpr int VK_SHIFT = 16;
constexpr int VK_CONTROL = 17;
constexpr std::size_t MAX_PATH_BYTES = FILE_NAME_SIZE - 1;  // what a drop or a dialog can hand over

struct KeyName {
  const char* name;
  int vk;
};
constexpr KeyName key_names[] = {
    {"RETURN", 13}, {"ESC", 27},   {"SPACE", 32}, {"TAB", 9},      {"BS", 8},          {"DEL", 46},
    {"INS", 45},    {"HOME", 36},  {"END", 35},   {"PGUP", 33},    {"PGDN", 34},       {"UP", 38},
    {"DOWN", 40},   {"LEFT", 37},  {"RIGHT", 39}, {"NUM*", 106},   {"NUM+", 107},      {"NUM-", 109},
    {"NUM.", 110},  {"NUM/", 111}, {"CLEAR", 12}, {"CONVERT", 28}, {"NONCONVERT", 29},
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Decimal digits only, within 0..max.
bool read_count(const std::string& s, std::uint32_t max, std::uint32_t& out) {
  if (s.empty() || s.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > max) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

// One channel message in hexadecimal: a status byte 80-EF and its data bytes.
bool read_midi(const std::string& hex, std::uint32_t& out) {
  if (hex.size() < 4 || hex.size() > 6 || hex.size() % 2 != 0) return false;
  std::uint32_t bytes[3] = {};
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
    if (digit < 0) return false;
    bytes[i / 2] = bytes[i / 2] * 16 + static_cast<std::uint32_t>(digit);
  }
  const std::size_t n = hex.size() / 2;
  if (bytes[0] < 0x80 || bytes[0] > 0xEF ||
      n != static_cast<std::size_t>(short_message_length(static_cast<std::uint8_t>(bytes[0]))))
    return false;
  if (bytes[1] > 0x7F || bytes[2] > 0x7F) return false;
  out = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return true;
}

// The virtual key of a key name without prefixes; 0 when it names none.
int key_vk(const std::string& name) {
  if (name.size() == 1 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= '0' && name[0] <= '9'))) return name[0];
  for (const KeyName& k : key_names)
    if (name == k.name) return k.vk;
  std::uint32_t n = 0;
  if (name.size() > 1 && name[0] == 'F' && read_count(name.substr(1), 12, n) && n >= 1 && name[1] != '0')
    return static_cast<int>(111 + n);
  if (name.size() == 4 && name.compare(0, 3, "NUM") == 0 && name[3] >= '0' && name[3] <= '9')
    return 96 + (name[3] - '0');
  if (name.size() > 2 && name.compare(0, 2, "VK") == 0 && name[2] != '0' && read_count(name.substr(2), 255, n))
    return static_cast<int>(n);
  return 0;
}

// A key token: prefixes S- and C- (each at most once) and a key name.
bool read_key(const std::string& word, ScriptToken& t) {
  std::size_t i = 0;
  while (word.size() > i + 2 && word[i + 1] == '-' && (word[i] == 'S' || word[i] == 'C')) {
    int vk = word[i] == 'S' ? VK_SHIFT : VK_CONTROL;
    for (int held : t.held)
      if (held == vk) return false;
    t.held.push_back(vk);
    i += 2;
  }
  t.vk = key_vk(word.substr(i));
  t.kind = ScriptToken::KEY;
  return t.vk != 0;
}

// name=VALUE tokens; false when word is none of them or its value is bad.
bool read_setting(const std::string& word, ScriptToken& t) {
  std::size_t eq = word.find('=');
  if (eq == std::string::npos) return false;
  std::string name = word.substr(0, eq);
  std::string value = word.substr(eq + 1);
  if (name == "wait") {
    t.kind = ScriptToken::WAIT;
    return read_count(value, MAX_SCRIPT_MS, t.ms);
  }
  if (name == "midi") {
    t.kind = ScriptToken::MIDI;
    return read_midi(value, t.ms);
  }
  t.text = value;
  if (name == "open")
    t.kind = ScriptToken::OPEN;
  else if (name == "save")
    t.kind = ScriptToken::SAVE;
  else if (name == "drop")
    t.kind = ScriptToken::DROP;
  else if (name == "snap")
    t.kind = ScriptToken::SNAP;
  else
    return false;
  return !t.text.empty() && (t.kind == ScriptToken::SNAP || t.text.size() <= MAX_PATH_BYTES);
}

bool read_token(const std::string& word, ScriptToken& t) {
  t = ScriptToken{ScriptToken::KEY, 0, {}, 0, {}, word};
  if (word == "cancel") {
    t.kind = ScriptToken::CANCEL;
    return true;
  }
  if (word.find('=') != std::string::npos) return read_setting(word, t);
  return read_key(word, t);
}

std::uint32_t token_ms(const ScriptToken& t) {
  if (t.kind == ScriptToken::KEY) return KEY_TOKEN_MS;
  return t.kind == ScriptToken::WAIT ? t.ms : 0;
}
}  // namespace

bool parse_key_script(const std::string& text, std::vector<ScriptToken>& tokens, std::string& error) {
  tokens.clear();
  std::uint64_t length = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (is_blank(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !is_blank(text[end])) ++end;
    std::string word = text.substr(i, end - i);
    i = end;
    ScriptToken t;
    if (!read_token(word, t)) {
      error = "cannot read key script token '" + word + "'";
      return false;
    }
    length += token_ms(t);
    if (length > MAX_SCRIPT_MS) {
      error = "key script longer than " + std::to_string(MAX_SCRIPT_MS) + " ms at token '" + word + "'";
      return false;
    }
    tokens.push_back(std::move(t));
  }
  return true;
}

std::vector<std::uint32_t> script_times(const std::vector<ScriptToken>& tokens, std::uint32_t& length) {
  std::vector<std::uint32_t> times;
  times.reserve(tokens.size());
  length = 0;
  for (const ScriptToken& t : tokens) {
    times.push_back(length);
    length += token_ms(t);
  }
  return times;
}
