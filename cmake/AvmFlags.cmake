# Warnings, floating-point contraction and sanitizers shared by every target.
add_compile_options(-Wall -Wextra)
if(AVM_WERROR)
  add_compile_options(-Werror)
endif()

# The target (64-bit ARM) contracts a * b + c into one fused multiply-add, and
# the numeric code is written to produce exactly those results. Contract the
# same way here; on x86-64 hosts that means enabling the FMA instructions.
add_compile_options(-ffp-contract=fast)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-mfma AVM_HAVE_MFMA)
  if(AVM_HAVE_MFMA)
    add_compile_options(-mfma)
  endif()
endif()

# One optimisation level for product and test builds, so that contracted
# floating-point expressions come out the same in both.
set(CMAKE_CXX_FLAGS_RELEASE "-O3 -DNDEBUG" CACHE STRING "" FORCE)
set(CMAKE_C_FLAGS_RELEASE "-O3 -DNDEBUG" CACHE STRING "" FORCE)

if(AVM_SANITIZE)
  # Line tables only: enough for sanitizer reports, and cheaper to build.
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O3 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O3 -g1 -DNDEBUG" CACHE STRING "" FORCE)
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
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG" CACHE STRING "" FORCE)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
