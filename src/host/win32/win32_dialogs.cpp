// Message boxes and the open and save dialogs.
#include <cstring>
#include <string>

#include "host/host.h"
#include "host/win32/win32.h"

namespace {
// Shift-JIS: "デバッグ情報", "SQFファイル(*.sqf)", "すべて(*.*)".
constexpr char CAPTION[] = "\x83\x66\x83\x6F\x83\x62\x83\x4F\x8F\xEE\x95\xF1";
constexpr char SQF_FILTER[] = "SQF\x83t\x83@\x83\x43\x83\x8B(*.sqf)";
constexpr char ALL_FILTER[] = "\x82\xB7\x82\xD7\x82\xC4(*.*)";

int ask_name(bool save) {
  // Pairs of name and pattern, each ended by a zero, the list by another.
  std::wstring filter = sjis_to_wide(SQF_FILTER);
  filter += L'\0';
  filter += L"*.sqf";
  filter += L'\0';
  filter += sjis_to_wide(ALL_FILTER);
  filter += L'\0';
  filter += L"*.*";
  filter += L'\0';
  wchar_t name[FILE_NAME_SIZE] = {};
  char current[FILE_NAME_SIZE];
  copy_file_name(current);
  const std::wstring start = utf8_to_wide(current);
  if (start.size() < FILE_NAME_SIZE) std::wmemcpy(name, start.c_str(), start.size());

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name;
  ofn.nMaxFile = FILE_NAME_SIZE;
  ofn.lpstrDefExt = L"sqf";
  ofn.Flags =
      save ? OFN_OVERWRITEPROMPT | OFN_NOREADONLYRETURN : OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!chosen) return 0;
  if (!set_file_name_wide(name)) {
    alert_box("File name too long");
    return 0;
  }
  return 1;
}
}  // namespace

void alert_box(const char* text) {
  MessageBoxW(nullptr, sjis_to_wide(text).c_str(), sjis_to_wide(CAPTION).c_str(), MB_OK | MB_ICONINFORMATION);
}

int ask_open_name() { return ask_name(false); }
int ask_save_name() { return ask_name(true); }
