// The handler behind AVM_EXPORT_CATCH.
#include "exports/export_guard.h"

#include <exception>
#include <new>

#include "frame/log.h"

void ExportGuard_LogCurrent(const char* exportName) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    AvmLog("%s: out of memory, refused\n", exportName);
  } catch (const std::exception& e) {
    AvmLog("%s: failed (%s)\n", exportName, e.what());
  } catch (...) {
    AvmLog("%s: failed\n", exportName);
  }
}

bool ExportArgInRange(const char* exportName, const char* what, int64_t value, int64_t lo, int64_t hi) {
  if (value >= lo && value <= hi) return true;
  AvmLog("%s: %s %lld out of range %lld..%lld, refused\n", exportName, what, static_cast<long long>(value),
         static_cast<long long>(lo), static_cast<long long>(hi));
  return false;
}
