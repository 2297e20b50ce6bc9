// Runs the built avmhost binary as the display application would run it.
#pragma once

#include <string>

// Where the binary's error stream goes: into the captured text (log lines
// among the printed results) or away (a test that parses the standard
// output alone, e.g. JSON).
enum class HostStderr { kCaptured, kDropped };

// Runs `avmhost <args>`, appends its standard output (and, with kCaptured,
// its error stream) to *out when out is not null, and returns its exit
// status; -1 when it could not be started or did not exit normally.
int RunHost(const std::string& args, std::string* out, HostStderr err = HostStderr::kCaptured);
