#pragma once
// Millisecond clock and time pairs.
#include <cstddef>
#include <cstdint>

// {seconds, milliseconds}.
struct TimeMs {
  int32_t seconds;
  int32_t milliseconds;
};

// Monotonic milliseconds in 32 bits: wraps about every 49.7 days. The time
// base of every time-out, interval and hold of the library.
uint32_t GetTickMs();
// The same from a monotonic reading, for callers that have one.
uint32_t TickMsFrom(int64_t seconds, int64_t nanoseconds);

// Wall clock into out; returns the milliseconds.
int32_t GetTimeOfDayMs(TimeMs* out);
// out = a - b. Returns 0 (out zeroed) when the difference is negative or
// zero, else 1.
int TimeDiff(const TimeMs* a, const TimeMs* b, TimeMs* out);
// out = a + b; returns the milliseconds.
int32_t TimeAdd(const TimeMs* a, const TimeMs* b, TimeMs* out);
// "hh:mm:ss.mmm" into out (at most size bytes with the NUL).
void FormatTimeMs(const TimeMs* t, char* out, size_t size);
