#include "host/host.h"

#include <cstring>
#include <mutex>

char file_name[FILE_NAME_SIZE];

namespace {
std::mutex file_name_lock;
}

void set_file_name(const char* name) {
  std::lock_guard<std::mutex> hold(file_name_lock);
  std::size_t n = std::strlen(name);
  if (n > FILE_NAME_SIZE - 1) n = FILE_NAME_SIZE - 1;
  std::memcpy(file_name, name, n);
  file_name[n] = 0;
}

void copy_file_name(char out[FILE_NAME_SIZE]) {
  std::lock_guard<std::mutex> hold(file_name_lock);
  std::memcpy(out, file_name, FILE_NAME_SIZE);
  out[FILE_NAME_SIZE - 1] = 0;
}
