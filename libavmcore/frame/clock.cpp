#include "frame/clock.h"

#include <sys/time.h>
#include <time.h>

#include <cstdio>

uint32_t TickMsFrom(int64_t seconds, int64_t nanoseconds) {
  // Computed in 32 bits on purpose: callers compare ticks by unsigned difference.
  return static_cast<uint32_t>(nanoseconds / 1000000) + 1000u * static_cast<uint32_t>(seconds);
}

uint32_t GetTickMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return TickMsFrom(ts.tv_sec, ts.tv_nsec);
}

int32_t GetTimeOfDayMs(TimeMs* out) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  out->seconds = static_cast<int32_t>(tv.tv_sec);
  out->milliseconds = static_cast<int32_t>(tv.tv_usec / 1000);
  return out->milliseconds;
}

int TimeDiff(const TimeMs* a, const TimeMs* b, TimeMs* out) {
  int32_t s = a->seconds - b->seconds;
  int32_t ms = a->milliseconds - b->milliseconds;
  if (ms < 0) {
    ms += 1000;
    s -= 1;
  }
  if (s < 0 || (s == 0 && ms < 1)) {
    out->seconds = 0;
    out->milliseconds = 0;
    return 0;
  }
  out->seconds = s;
  out->milliseconds = ms;
  return 1;
}

int32_t TimeAdd(const TimeMs* a, const TimeMs* b, TimeMs* out) {
  int32_t s = a->seconds + b->seconds;
  int32_t ms = a->milliseconds + b->milliseconds;
  if (ms > 999) {
    ms -= 1000;
    s += 1;
  }
  out->seconds = s;
  out->milliseconds = ms;
  return ms;
}

void FormatTimeMs(const TimeMs* t, char* out, size_t size) {
  int32_t s = t->seconds;
  snprintf(out, size, "%02d:%02d:%02d.%03d", s / 3600, (s % 3600) / 60, s % 60, t->milliseconds);
}
