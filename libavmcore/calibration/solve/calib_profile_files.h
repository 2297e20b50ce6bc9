#pragma once
// Readers of the vehicle profile files: one per vehicle programme, each
// loading "<code>_cfg.txt" of the data directory into CalibProfile
// (frame/calib_profile.h) at the programme's words. The record is a cache: a
// reader does nothing while the record's tag is its programme's (fw: and the
// board square size is unchanged). A missing file logs "open <code>_cfg
// fail" and leaves the record untagged for that programme, so the next call
// tries again.

void CalibProfile_Read_kelvor();    // tag 11
void CalibProfile_Read_kelvor2n();  // tag 12; takes precedence over kelvor2
void CalibProfile_Read_kelvor2();   // tag 12; lines 2 to 4 reordered
void CalibProfile_Read_pq1();       // tag 13; lines 2 and 3 reordered
void CalibProfile_Read_zan1();      // tag 17
void CalibProfile_Read_rv463();     // tag 16
void CalibProfile_Read_qd();        // tag 9
void CalibProfile_Read_yk3();       // tag 19 (layouts 8, 18, 19, 28)
void CalibProfile_Read_bq1();       // tag 21
void CalibProfile_Read_fw();        // tag 2 (layouts 2, 14)
void CalibProfile_Read_gj1();       // tag 5
void CalibProfile_Read_ruvk();      // tag 24
void CalibProfile_Read_cvj();       // tag 25
void CalibProfile_Read_dk1();       // tag 26
void CalibProfile_Read_mbto();      // tag 53
void CalibProfile_Read_hulvex();    // tag 54
void CalibProfile_Read_ez2();       // tag 32
