# Warnings, floating-point contraction and sanitizers shared by every target.
add_compile_options(-Wall -Wextra)
if(AVM_WERROR)
  add_compile_options(-Werror)
endif()

# The target (64-bit ARM) contracts a * b + c into one fused multiply-add, and
# the numeric code is written to produce exactly those results. Contract the
# same way here; on x86-64 hosts that means enabling the FMA instructions.
add_compile_options(-ffp-contract=fast)
# No math function's caller reads errno; without it sqrt and friends become
# single instructions the vectoriser can use.
add_compile_options(-fno-math-errno)
option(AVM_X86_64_V3 "On x86-64 hosts that run it, build for the x86-64-v3 level (AVX2, FMA)" ON)
# An explicit instruction-set level replaces the choice below, e.g.
# -DAVM_MARCH=x86-64-v2 for a build with the 128-bit lanes of the target's
# vector unit (SSE4.2). That level has no fused multiply-add: FMA on x86-64
# comes with AVX, whose 256-bit registers the 32-byte vector types would then
# use, so such a build rounds a * b + c twice and its floating-point results
# may differ from the FMA builds in the last bit. Integer image code (the
# stitch, the pixel formats) gives the same bytes in every build.
set(AVM_MARCH "" CACHE STRING "x86-64: -march level to build for instead of the automatic x86-64-v3 choice (e.g. x86-64-v2)")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  include(CheckCXXCompilerFlag)
  include(CheckCXXSourceRuns)
  if(AVM_MARCH)
    string(MAKE_C_IDENTIFIER "AVM_HAVE_MARCH_${AVM_MARCH}" avm_march_check)
    check_cxx_compiler_flag(-march=${AVM_MARCH} ${avm_march_check})
    if(NOT ${avm_march_check})
      message(FATAL_ERROR "AVM_MARCH=${AVM_MARCH}: the compiler does not take -march=${AVM_MARCH}")
    endif()
    add_compile_options(-march=${AVM_MARCH})
  else()
    # The image loops are written for the 128-bit NEON lanes of the target;
    # on an x86-64 build machine with AVX2 they get the wider lanes too. A
    # machine without it (some CI runners) keeps the baseline plus FMA.
    if(AVM_X86_64_V3)
      check_cxx_compiler_flag(-march=x86-64-v3 AVM_HAVE_MARCH_V3)
      if(AVM_HAVE_MARCH_V3)
        set(CMAKE_REQUIRED_FLAGS "-march=x86-64-v3")
        # F16C through cpuid: Clang's __builtin_cpu_supports does not name it.
        check_cxx_source_runs([=[
          #include <cpuid.h>
          int main() {
            __builtin_cpu_init();
            unsigned a = 0, b = 0, c = 0, d = 0;
            const bool f16c = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_F16C) != 0;
            return (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                    __builtin_cpu_supports("bmi2") && f16c) ? 0 : 1;
          }]=] AVM_HOST_RUNS_X86_64_V3)
        unset(CMAKE_REQUIRED_FLAGS)
      endif()
    endif()
    if(AVM_HOST_RUNS_X86_64_V3)
      add_compile_options(-march=x86-64-v3)
    else()
      check_cxx_compiler_flag(-mfma AVM_HAVE_MFMA)
      if(AVM_HAVE_MFMA)
        add_compile_options(-mfma)
      endif()
    endif()
  endif()
endif()

# One optimisation level for product and test builds, so that contracted
# floating-point expressions come out the same in both.
# The emulated arm64 test build may lower it (scripts/build-arm.sh: -O2, which
# GCC compiles in about half the time); library and tests still share it.
set(AVM_RELEASE_OPT "-O3" CACHE STRING "Optimisation level of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "${AVM_RELEASE_OPT} -DNDEBUG" CACHE STRING "" FORCE)
set(CMAKE_C_FLAGS_RELEASE "${AVM_RELEASE_OPT} -DNDEBUG" CACHE STRING "" FORCE)

if(AVM_SANITIZE)
  # Line tables only: enough for sanitizer reports, and cheaper to build.
  # -O2 rather than the product's -O3: the same contractions (GCC fuses at
  # both levels and reassociates at neither), a third less compile time.
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  add_compile_options(-fsanitize=${AVM_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${AVM_SANITIZE})
  if(AVM_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

if(AVM_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "AVM_BUILD_FUZZ needs Clang (libFuzzer): configure with CC=clang CXX=clang++")
  endif()
  # Every object carries the fuzzer's coverage counters and both sanitizers;
  # the fuzz targets add libFuzzer's main at link time.
  # -O1: at -O2 Clang takes four minutes over the filter kernels with every
  # undefined-behaviour check in them (seconds at -O1), which on a small
  # machine was most of the fuzz stage.
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O1 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Test and benchmark sources in the checking builds (sanitizers, fuzzing):
# the library keeps its product optimisation, but the test drivers' gtest
# and benchmark scaffolding is compiled at -O1, which halves the build of
# the checking jobs. GCC needs its expensive-optimisation passes for the
# multiply-add contraction the reference computations in tests rely on.
# The arm64 cross build, whose tests run under emulation, does the same.
function(avm_checking_build_options target)
  if(AVM_SANITIZE OR AVM_BUILD_FUZZ OR CMAKE_CROSSCOMPILING)
    target_compile_options(${target} PRIVATE -O1
                           $<$<CXX_COMPILER_ID:GNU>:-fexpensive-optimizations>)
  endif()
endfunction()
