#include "frame/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<AvmLogSink> g_sink{nullptr};
}  // namespace

AvmLogSink AvmLog_SetSink(AvmLogSink sink) { return g_sink.exchange(sink); }

void AvmLog(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  const AvmLogSink sink = g_sink.load();
  if (sink != nullptr) {
    sink(line);
  } else {
    fputs(line, stdout);
  }
}
