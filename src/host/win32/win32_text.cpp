#include <cstring>
#include <cwchar>

#include "host/host.h"
#include "host/win32/win32.h"

namespace {
constexpr UINT SHIFT_JIS = 932;

std::wstring to_wide(UINT code_page, const char* text) {
  const int n = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text, -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}
}  // namespace

std::wstring sjis_to_wide(const char* text) { return to_wide(SHIFT_JIS, text); }
std::wstring utf8_to_wide(const char* text) { return to_wide(CP_UTF8, text); }

std::string wide_to_utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

bool set_file_name_wide(const wchar_t* name) {
  const std::string utf8 = wide_to_utf8(name);
  if (utf8.size() > FILE_NAME_SIZE - 1) return false;
  set_file_name(utf8.c_str());
  return true;
}

const wchar_t* command_line_tail(const wchar_t* whole) {
  const wchar_t* p = whole;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

const wchar_t* take_option(const wchar_t* text, const wchar_t* name) {
  const std::size_t n = std::wcslen(name);
  if (std::wcsncmp(text, name, n) != 0) return nullptr;
  const wchar_t* p = text + n;
  if (*p != 0 && *p != L' ' && *p != L'\t') return nullptr;
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

void copy_command_line(const wchar_t* text) {
  std::wstring name;
  for (const wchar_t* p = text;; ++p) {
    if (*p == L'"') ++p;
    if (*p == 0) break;
    name += *p;
  }
  if (!set_file_name_wide(name.c_str())) {
    set_file_name("");
    alert_box("File name too long");
  }
}

void take_dropped_file(HDROP drop) {
  // A name longer than the 256-character buffer would come out cut, naming
  // another file: it is refused whole.
  constexpr UINT BUFFER = 256;
  if (DragQueryFileW(drop, 0, nullptr, 0) < BUFFER) {
    wchar_t name[BUFFER];
    if (DragQueryFileW(drop, 0, name, BUFFER) > 0 && !set_file_name_wide(name)) alert_box("File name too long");
  } else {
    alert_box("File name too long");
  }
  DragFinish(drop);
}
