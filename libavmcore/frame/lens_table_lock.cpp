#include "frame/lens_table_lock.h"

std::recursive_mutex& LensTable_Mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}
