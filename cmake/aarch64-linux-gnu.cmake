# Cross build for the unit's 64-bit ARM board with Debian's cross toolchain
# (g++-aarch64-linux-gnu); the libraries the tests link come from
# scripts/setup-arm64.sh's sysroot. ctest runs the test executables under
# qemu user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(AVM_ARM64_SYSROOT /opt/avm-arm64 CACHE PATH "Unpacked arm64 libraries (scripts/setup-arm64.sh)")
set(AVM_CROSS_LIBC /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${AVM_CROSS_LIBC} ${AVM_ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps architecture-specific headers (x264_config.h, OpenCV's
# cvconfig.h) in include/<triplet>, which only the native compiler searches.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES
    ${AVM_ARM64_SYSROOT}/usr/include/aarch64-linux-gnu ${AVM_ARM64_SYSROOT}/usr/include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${CMAKE_C_STANDARD_INCLUDE_DIRECTORIES})
# The libraries' own dependencies (TBB, BLAS, X11 ...) resolve at link time
# from the sysroot.
set(avm_arm64_libdirs ${AVM_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu ${AVM_ARM64_SYSROOT}/lib/aarch64-linux-gnu)
foreach(d ${avm_arm64_libdirs})
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${d}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,-rpath-link,${d}")
endforeach()

set(ENV{PKG_CONFIG_SYSROOT_DIR} ${AVM_ARM64_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR} ${AVM_ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${AVM_ARM64_SYSROOT}/usr/share/pkgconfig)

# The emulator finds the C library under -L and the sysroot's libraries
# through the guest's library path.
string(REPLACE ";" ":" avm_arm64_path "${avm_arm64_libdirs}")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L ${AVM_CROSS_LIBC} -E LD_LIBRARY_PATH=${avm_arm64_path})
