#include "frame/calib_profile.h"

CalibProfileRecord& CalibProfile() {
  static CalibProfileRecord record{};
  return record;
}
