// Build- and run-time facts about the vector code (see the header).
#include "toolkit/code_path.h"

#include <atomic>

namespace {
std::atomic<int32_t> gAllowWide{1};
}  // namespace

int32_t CodePath_VectorBits() {
#if defined(__AVX512F__)
  return 512;
#elif defined(__AVX__)
  return 256;
#else
  return 128;
#endif
}

int32_t CodePath_WideForms() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool wide = __builtin_cpu_supports("avx512f");
  return wide && gAllowWide.load(std::memory_order_relaxed) != 0 ? 1 : 0;
#else
  return 0;
#endif
}

void CodePath_AllowWideForms(int32_t allow) { gAllowWide.store(allow != 0 ? 1 : 0); }

const char* CodePath_InstructionSet() {
#if defined(__x86_64__)
#if defined(__AVX2__) && defined(__FMA__)
  return "x86-64 AVX2 FMA";
#elif defined(__AVX2__)
  return "x86-64 AVX2";
#elif defined(__AVX__) && defined(__FMA__)
  return "x86-64 AVX FMA";
#elif defined(__SSE4_2__)
  return "x86-64 SSE4.2 (no FMA)";
#else
  return "x86-64 SSE2";
#endif
#elif defined(__aarch64__)
  return "aarch64 NEON FMA";
#else
  return "generic";
#endif
}
