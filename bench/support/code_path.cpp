// Linked into every benchmark executable: puts the vector code its figures
// come from into the report's context before main runs (the instruction set
// the build targets, the register width of the eight-lane forms, whether the
// 16-lane 512-bit forms run), so that figures of different builds and hosts
// are told apart by the report alone. AVM_BENCH_NO_512=1 in the environment
// turns the 512-bit forms off, to measure as on a CPU without them.
// Google Benchmark creates its context map on first use, so adding to it
// before its Initialize runs is safe.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "toolkit/code_path.h"

namespace {

const bool kRegistered = [] {
  const char* off = std::getenv("AVM_BENCH_NO_512");
  const bool turnedOff = off != nullptr && std::strcmp(off, "1") == 0;
  if (turnedOff) CodePath_AllowWideForms(0);
  const int32_t bits = CodePath_VectorBits();
  benchmark::AddCustomContext("avm_instruction_set", CodePath_InstructionSet());
  benchmark::AddCustomContext("avm_lane_width",
                              std::to_string(bits) + "-bit registers" + (bits < 256 ? " (8 lanes in two)" : ""));
  benchmark::AddCustomContext("avm_512bit_forms", CodePath_WideForms()   ? "on (AVX-512F)"
                                                  : turnedOff             ? "off (AVM_BENCH_NO_512=1)"
                                                                          : "off (CPU lacks AVX-512F)");
  return true;
}();

}  // namespace
