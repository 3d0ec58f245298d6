// File names as the operating system takes them.
#include "host/host.h"

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace {
std::wstring wide(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}
}  // namespace

std::filesystem::path host_path(const char* name) { return std::filesystem::path(wide(name)); }

std::FILE* host_open_file(const char* name, const char* mode) {
  const std::wstring path = wide(name);
  if (path.empty()) return nullptr;
  return _wfopen(path.c_str(), wide(mode).c_str());
}
#else
std::filesystem::path host_path(const char* name) { return std::filesystem::path(name); }

std::FILE* host_open_file(const char* name, const char* mode) { return std::fopen(name, mode); }
#endif
