#pragma once
// Which code path the benchmarks run: the vector instruction set the build
// targets (the width of the 8-float lanes) and whether the machine has the
// 512-bit registers the edge detector and the 5 x 5 correlation choose at
// run time. Printed in the benchmark context, so that every table says
// which path it measured.
#include <benchmark/benchmark.h>

#include <string>

inline const char* BuildVectorPath() {
#if defined(__AVX512F__)
  return "AVX-512 build: 8-float lanes in one 256-bit register";
#elif defined(__AVX2__) && defined(__FMA__)
  return "x86-64-v3 build (AVX2, FMA): 8-float lanes in one 256-bit register";
#elif defined(__AVX__)
  return "AVX build (no AVX2): 8-float lanes in one 256-bit register";
#elif defined(__SSE4_2__)
  return "x86-64-v2 build (SSE4.2, no FMA): 8-float lanes in two 128-bit registers";
#elif defined(__aarch64__)
  return "aarch64 build: 8-float lanes in two 128-bit NEON registers";
#elif defined(__x86_64__)
  return "x86-64 baseline build (SSE2): 8-float lanes in two 128-bit registers";
#else
  return "portable build";
#endif
}

inline bool MachineHas512BitRegisters() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  return __builtin_cpu_supports("avx512f");
#else
  return false;
#endif
}

// The path of a kernel limited to `lanes` float lanes (16: the 512-bit
// forms where the machine has them).
inline std::string LanePath(int lanes) {
  if (lanes >= 16) return MachineHas512BitRegisters() ? "16-lane 512-bit forms" : "portable (no 512-bit registers)";
  return "portable 8-lane form";
}

inline void AddLaneContext() {
  benchmark::AddCustomContext("avm_vector_path", BuildVectorPath());
  benchmark::AddCustomContext("avm_512bit_registers", MachineHas512BitRegisters() ? "yes" : "no");
}
