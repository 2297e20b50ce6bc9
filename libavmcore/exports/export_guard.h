#pragma once
// Keeps C++ exceptions (a failed allocation above all) inside the library:
// the body of every export is a function try block closed by
// AVM_EXPORT_CATCH(failure value), which logs what was thrown and returns the
// export's failure value (AVM_EXPORT_CATCH_VOID for a void export).
//
//   AVM_EXPORT int KRV_GlobalImage_X(...) try {
//     ...
//   }
//   AVM_EXPORT_CATCH(1)

// Logs the exception being handled; call only from a catch block.
void ExportGuard_LogCurrent(const char* exportName) noexcept;

template <typename R>
R ExportGuard_Fail(const char* exportName, R failure) noexcept {
  ExportGuard_LogCurrent(exportName);
  return failure;
}

inline void ExportGuard_Fail(const char* exportName) noexcept { ExportGuard_LogCurrent(exportName); }

#define AVM_EXPORT_CATCH(failure) \
  catch (...) {                   \
    return ExportGuard_Fail(__func__, failure); \
  }
#define AVM_EXPORT_CATCH_VOID \
  catch (...) {               \
    ExportGuard_Fail(__func__); \
  }

#include <cstdint>

// Largest picture side an export takes (frames, views, screens), as the
// library's file readers allow.
constexpr int32_t kExportMaxSide = 8192;

// True when lo <= value <= hi; otherwise logs "<export>: <what> <value> out
// of range lo..hi" and returns false. Checked before anything is allocated.
bool ExportArgInRange(const char* exportName, const char* what, int64_t value, int64_t lo, int64_t hi);

// A picture of width x height, each side 1..kExportMaxSide.
inline bool ExportPictureOk(const char* exportName, int32_t width, int32_t height) {
  return ExportArgInRange(exportName, "width", width, 1, kExportMaxSide) &&
         ExportArgInRange(exportName, "height", height, 1, kExportMaxSide);
}
