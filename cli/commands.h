// takto-cli's command table. Each command file registers its commands at start-up.
#pragma once

// Exit codes: 0 done, 1 the file or song was refused, 2 bad usage.
using CommandFn = int (*)(int argc, char** argv);  // argv[0] is the command name

// `usage` is the command line after "takto-cli", `summary` what the command
// does, in a few words; both go into the usage lines, --help and the manual.
bool register_command(const char* name, const char* usage, CommandFn fn, const char* summary = "");

// Prints "usage: takto-cli USAGE" to stderr and returns 2.
int usage_error(const char* usage);

// Starts the headless host and the empty song for a command; 0 when ready.
int start_song();
