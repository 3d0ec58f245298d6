#include "host/headless/headless.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "host/host.h"

std::atomic<const SessionHooks*> session_hooks{nullptr};

namespace {
std::mutex alerts_lock;
std::vector<std::string> alerts;
bool echo = true;
bool dialog_answers = false;
std::string dialog_name;

int answer_dialog(bool save) {
  std::string name;
  const SessionHooks* session = session_hooks.load();
  int scripted = session ? session->dialog(save, name) : -1;
  if (scripted == 0) return 0;
  if (scripted < 0) {
    if (!dialog_answers) return 0;
    name = dialog_name;
  }
  // A name typed without an extension gets the default one.
  std::size_t slash = name.find_last_of("/\\");
  std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) name += ".sqf";
  if (name.size() > FILE_NAME_SIZE - 1) return 0;
  set_file_name(name.c_str());
  return 1;
}
}  // namespace

void alert_box(const char* text) {
  std::lock_guard<std::mutex> hold(alerts_lock);
  alerts.emplace_back(text);
  const SessionHooks* session = session_hooks.load();
  if (session && session->alert(text)) return;
  if (echo) std::fprintf(stderr, "%s\n", text);
}

std::vector<std::string> headless_alerts() {
  std::lock_guard<std::mutex> hold(alerts_lock);
  return alerts;
}

void headless_clear_alerts() {
  std::lock_guard<std::mutex> hold(alerts_lock);
  alerts.clear();
}

void headless_echo_alerts(bool on) { echo = on; }

void headless_answer_dialogs(const char* name) {
  dialog_answers = true;
  dialog_name = name;
}

void headless_cancel_dialogs() {
  dialog_answers = false;
  dialog_name.clear();
}

int ask_open_name() { return answer_dialog(false); }
int ask_save_name() { return answer_dialog(true); }
