// Weak stand-ins of the vehicle-profile readers: no file is read and the
// record holds no programme.
#include "calibration/solve/profile_services.h"

#define AVM_WEAK __attribute__((weak))

AVM_WEAK void CalibProfile_Read_kelvor() {}
AVM_WEAK void CalibProfile_Read_kelvor2n() {}
AVM_WEAK void CalibProfile_Read_kelvor2() {}
AVM_WEAK void CalibProfile_Read_pq1() {}
AVM_WEAK void CalibProfile_Read_zan1() {}
AVM_WEAK void CalibProfile_Read_rv463() {}
AVM_WEAK void CalibProfile_Read_qd() {}
AVM_WEAK void CalibProfile_Read_yk3() {}
AVM_WEAK void CalibProfile_Read_bq1() {}
AVM_WEAK void CalibProfile_Read_fw() {}
AVM_WEAK void CalibProfile_Read_gj1() {}
AVM_WEAK void CalibProfile_Read_ruvk() {}
AVM_WEAK void CalibProfile_Read_cvj() {}
AVM_WEAK void CalibProfile_Read_dk1() {}
AVM_WEAK void CalibProfile_Read_mbto() {}
AVM_WEAK void CalibProfile_Read_hulvex() {}
AVM_WEAK void CalibProfile_Read_ez2() {}
AVM_WEAK uint32_t CalibProfile_LoadedTag() { return 0; }
