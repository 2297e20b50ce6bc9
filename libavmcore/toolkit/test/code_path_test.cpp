// The code-path report against the compiler's target macros and the
// kernel's list of CPU features: benchmark figures are labelled with it, and
// the aarch64 build takes its own branch of every answer.
#include "toolkit/code_path.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

#if defined(__x86_64__)
// True when the first "flags" line of /proc/cpuinfo names the feature.
bool CpuInfoFlag(const std::string& flag) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 5, "flags") != 0 || line.find(':') == std::string::npos) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    std::string w;
    while (words >> w)
      if (w == flag) return true;
    return false;
  }
  return false;
}
#endif

TEST(CodePath, InstructionSetAndWidthAreTheBuildTargets) {
  const std::string isa = CodePath_InstructionSet();
#if defined(__FMA__) || defined(__ARM_FEATURE_FMA)
  const bool fused = true;
#else
  const bool fused = false;
#endif
  // "FMA" is named exactly when the build has fused multiply-add instructions
  // (the bit-exact chain tests depend on it).
  EXPECT_EQ(isa.find("FMA") != std::string::npos && isa.find("no FMA") == std::string::npos, fused) << isa;
#if defined(__aarch64__)
  // The target: two 128-bit NEON registers per eight-lane vector.
  EXPECT_EQ(isa, "aarch64 NEON FMA");
  EXPECT_EQ(CodePath_VectorBits(), 128);
#elif defined(__x86_64__)
  EXPECT_EQ(isa.rfind("x86-64", 0), 0u) << isa;
#if defined(__AVX512F__)
  EXPECT_EQ(CodePath_VectorBits(), 512);
#elif defined(__AVX__)
  EXPECT_EQ(CodePath_VectorBits(), 256);
#else
  EXPECT_EQ(CodePath_VectorBits(), 128);
#endif
#endif
}

TEST(CodePath, WideFormsRunOnlyOnCpusWithThemAndTurnOff) {
#if defined(__x86_64__)
  const int32_t present = CpuInfoFlag("avx512f") ? 1 : 0;
#else
  const int32_t present = 0;  // no 512-bit forms outside x86-64
#endif
  EXPECT_EQ(CodePath_WideForms(), present);
  CodePath_AllowWideForms(0);
  EXPECT_EQ(CodePath_WideForms(), 0);
  CodePath_AllowWideForms(1);
  EXPECT_EQ(CodePath_WideForms(), present);
}

}  // namespace
