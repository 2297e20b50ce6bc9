#pragma once
// The library's one log sink. Every log line goes through AvmLog, which
// formats it and hands it to the installed sink (standard output unless one
// is set), so tests can capture the lines and an application can redirect
// them.

// Receives one formatted line (its text as the format made it, usually
// ending in a newline).
typedef void (*AvmLogSink)(const char* line);

// Installs a sink; null restores standard output. Returns the previous sink
// (null for standard output). Safe to call from any thread.
AvmLogSink AvmLog_SetSink(AvmLogSink sink);

// printf-style; lines longer than 1023 characters are cut.
void AvmLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
