// Controls of the headless backend, for tests and takto-cli.
#pragma once

#include <string>
#include <vector>

// Every alert_box text, in order. alert_box also writes each to stderr unless
// echo is turned off.
const std::vector<std::string>& headless_alerts();
void headless_clear_alerts();
void headless_echo_alerts(bool on);

// What the next file dialogs answer: a file name, or cancel (the default).
void headless_answer_dialogs(const char* name);
void headless_cancel_dialogs();

// How many times the picture has been copied to the (absent) window.
int headless_present_count();
