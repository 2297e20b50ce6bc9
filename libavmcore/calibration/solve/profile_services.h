#pragma once
// What the world points of the profile layouts use of the vehicle-profile
// readers: each generator loads its programme's file into the process-wide
// profile record before the corner finders read it. Weak stand-ins
// (profile_services.cpp) load nothing until the readers are linked in.
#include <cstdint>

void CalibProfile_Read_kelvor();
void CalibProfile_Read_kelvor2n();
void CalibProfile_Read_kelvor2();
void CalibProfile_Read_pq1();
void CalibProfile_Read_zan1();
void CalibProfile_Read_rv463();
void CalibProfile_Read_qd();
void CalibProfile_Read_yk3();
void CalibProfile_Read_bq1();
void CalibProfile_Read_fw();
void CalibProfile_Read_gj1();
void CalibProfile_Read_ruvk();
void CalibProfile_Read_cvj();
void CalibProfile_Read_dk1();
void CalibProfile_Read_mbto();
void CalibProfile_Read_hulvex();
void CalibProfile_Read_ez2();

// The tag of the profile record: the layout code whose programme it holds,
// 0 for none. Stand-in: 0.
uint32_t CalibProfile_LoadedTag();
