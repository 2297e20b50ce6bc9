// The vehicle profile files (<code>_cfg.txt): the first byte of the input
// picks the profile, the rest is its text, read into the process's profile
// record (cleared first, so that no cached tag skips the read).
#include <cstring>

#include "calibration/solve/calib_profile_files.h"
#include "frame/calib_profile.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Reader {
  const char* file;
  void (*read)();
};

const Reader kReaders[] = {
    {"kelvor_cfg.txt", CalibProfile_Read_kelvor}, {"kelvor2n_cfg.txt", CalibProfile_Read_kelvor2n},
    {"kelvor2_cfg.txt", CalibProfile_Read_kelvor2}, {"pq1_cfg.txt", CalibProfile_Read_pq1},
    {"zan1_cfg.txt", CalibProfile_Read_zan1},     {"rv463_cfg.txt", CalibProfile_Read_rv463},
    {"qd_cfg.txt", CalibProfile_Read_qd},         {"yk3_cfg.txt", CalibProfile_Read_yk3},
    {"bq1_cfg.txt", CalibProfile_Read_bq1},       {"fw_cfg.txt", CalibProfile_Read_fw},
    {"gj1_cfg.txt", CalibProfile_Read_gj1},       {"ruvk_cfg.txt", CalibProfile_Read_ruvk},
    {"cvj_cfg.txt", CalibProfile_Read_cvj},       {"dk1_cfg.txt", CalibProfile_Read_dk1},
    {"mbto_cfg.txt", CalibProfile_Read_mbto},     {"hulvex_cfg.txt", CalibProfile_Read_hulvex},
    {"ez2_cfg.txt", CalibProfile_Read_ez2},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  if (size < 1) return 0;
  const Reader& r = kReaders[data[0] % (sizeof kReaders / sizeof kReaders[0])];
  fuzz::WriteFile(r.file, data + 1, size - 1);
  memset(&CalibProfile(), 0, sizeof(CalibProfileRecord));
  r.read();
  return 0;
}
