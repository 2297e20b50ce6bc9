#include "pipeline/adas_manager.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "frame/clock.h"
#include "frame/log.h"
#include "frame/thread_start.h"

namespace {

std::atomic<KRV_TVDecoder_ADASEventCallback> g_eventCallback{nullptr};
std::atomic<void*> g_eventUser{nullptr};

void SleepMs(int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool Send(int32_t event, int32_t value, int32_t a, int32_t b, int32_t c, int32_t d) {
  KRV_TVDecoder_ADASEventCallback cb = g_eventCallback.load();
  if (cb == nullptr) return false;
  cb(event, value, a, b, c, d, g_eventUser.load());
  return true;
}

bool HaveCallback() { return g_eventCallback.load() != nullptr; }

// The send rule of one output after a processed frame; *last follows the
// rule even when no callback is registered.
void SendOutput(const SpeedGate& gate, int32_t event, int32_t value, int32_t* last, int32_t a = 0, int32_t b = 0,
                int32_t c = 0, int32_t d = 0) {
  if (gate.report.load() != 0) {
    if (value != *last || value != 0) {
      Send(event, value, a, b, c, d);
      *last = value;
    }
  } else if (*last != 0) {
    Send(event, 0, 0, 0, 0, 0);
    *last = 0;
  }
}

// Clears sent outputs: each non-zero one goes out once as 0.
void ClearOutput(int32_t event, int32_t* last) {
  if (*last == 0) return;
  Send(event, 0, 0, 0, 0, 0);
  *last = 0;
}

bool Active(const AdasFunctionControl& f) {
  return f.created.load() != 0 && f.on.load() != 0 && f.gate.active.load() != 0;
}

bool SizeMatches(const ADASManager* a, int32_t width, int32_t height) {
  return width == a->config.C[kAdasFrameWidth] && height == a->config.C[kAdasFrameHeight];
}

constexpr int32_t kModsBlocks[4] = {1, 2, 4, 8};

void LdwsClear(ADASManager* a) {
  const int32_t stamp = a->frameStamp.load();
  (void)stamp;
  ClearOutput(KRV_ADAS_EVENT_LDWS, &a->ldwsLastResult);
  if (a->ldwsLaneFlag != 0) {
    Send(KRV_ADAS_EVENT_LDWS, 1, 0, 0, 0, 0);
    a->ldwsLaneFlag = 0;
  }
}

// Step 2 of a gated pass: clear the outputs after a change.
template <typename ClearSent, typename Reset>
void HandleChanged(AdasFunctionControl& f, ClearSent clearSent, Reset reset) {
  if (f.changed.load() == 0) return;
  clearSent();
  if (f.gate.active.load() == 0) reset();
  f.changed = 0;
}

void GatePass(ADASManager* a, AdasFunctionControl& f) {
  if (SpeedGate_Update(&f.gate, a->speed.load()) != 0) f.changed = 1;
}

struct WorkerSpec {
  const char* name;
  int (*pass)(ADASManager*);
};

void RunWorker(ADASManager* a, const char* name, int (*pass)(ADASManager*)) {
  AvmLog("%s Thread Start \n", name);
  while (a->runState.load() == 1) {
    if (pass(a) == 0) SleepMs(a->idleSleepMs);
  }
  AvmLog("%s Thread End \n", name);
  a->workerCount.fetch_sub(1);
}

void* LdwsThread(void* p) {
  RunWorker(static_cast<ADASManager*>(p), "S_KRVLDWSThread_Linux", ADAS_LDWSPass);
  return nullptr;
}
void* BsdsThread(void* p) {
  RunWorker(static_cast<ADASManager*>(p), "S_KRVBSDSThread_Linux", ADAS_BSDSPass);
  return nullptr;
}
void* ModsThread(void* p) {
  RunWorker(static_cast<ADASManager*>(p), "S_KRVMODSThread_Linux", ADAS_MODSPass);
  return nullptr;
}
void* RctaThread(void* p) {
  RunWorker(static_cast<ADASManager*>(p), "S_KRVRCTAThread_Linux", ADAS_RCTAPass);
  return nullptr;
}
void* LvsaThread(void* p) {
  RunWorker(static_cast<ADASManager*>(p), "S_KRVLVSAThread_Linux", ADAS_LVSAPass);
  return nullptr;
}
void* DirtyThread(void* p) {
  ADASManager* a = static_cast<ADASManager*>(p);
  AvmLog("S_KRVDirtyDetectThread_Linux Thread Start \n");
  while (a->runState.load() == 1) {
    ADAS_DirtyPass(a);
    SleepMs(10);
  }
  AvmLog("S_KRVDirtyDetectThread_Linux Thread End \n");
  a->workerCount.fetch_sub(1);
  return nullptr;
}

template <typename Push>
void FeedCommon(ADASManager* a, int32_t width, int32_t height, int32_t everySecond, int32_t stamp, Push push) {
  if (a->runState.load() != 1 || a->inited.load() == 0 || !SizeMatches(a, width, height)) return;
  a->frameStamp = stamp;
  const int32_t counter = a->frameCounter.fetch_add(1) + 1;
  const bool ldwsTurn = everySecond == 0 || (counter & 1) == 0;
  const bool otherTurn = everySecond == 0 || (counter & 1) != 0;
  push(ldwsTurn, otherTurn, counter);
}

}  // namespace

// ---------------------------------------------------------------------------
int SpeedGate_Update(SpeedGate* g, float speed) {
  const int32_t v = static_cast<int32_t>(speed);
  const int32_t wasActive = g->active.load(), wasReport = g->report.load();
  int32_t active = wasActive, report = wasReport;
  if (g->mode.load() == 1) {
    if (active == 0 && v >= g->t2.load()) active = 1;
    else if (active != 0 && v < g->t1.load()) active = 0;
    if (report == 0 && v >= g->t3.load()) report = 1;
    else if (report != 0 && v < g->t4.load()) report = 0;
  } else {
    if (active == 0 && v <= g->t1.load()) active = 1;
    else if (active != 0 && v > g->t2.load()) active = 0;
    if (report == 0 && v <= g->t3.load()) report = 1;
    else if (report != 0 && v > g->t4.load()) report = 0;
  }
  g->active = active;
  g->report = report;
  return (active != wasActive || (wasReport != 0 && report == 0)) ? 1 : 0;
}

void SpeedGate_Set(SpeedGate* g, int32_t mode, int32_t t1, int32_t t2, int32_t t3, int32_t t4) {
  g->mode = mode;
  g->t1 = t1;
  g->t2 = t2;
  g->t3 = t3;
  g->t4 = t4;
  g->active = 0;
}

ADASManager::ADASManager() : clock(GetTickMs) {
  config.C[kAdasCameraCoords] = 1;
  BlockRing_Init(&ldwsRing, 0, 0, 1);
}

ADASManager::~ADASManager() {
  // The owner (the decoder) destroys the manager only once its workers have
  // left; a worker still running here would outlive the manager itself.
  if (workerCount.load() > 0) AvmLog("ADASManager destroyed with %d workers running\n", workerCount.load());
  ADAS_Release(this);
  if (workerCount.load() == 0) BlockRing_Release(&ldwsRing);
}

int ADAS_Init(ADASManager* a, const char* dataDirectory) {
  if (a == nullptr) return 0;
  if (a->inited.load() != 0) return 1;
  if (ADASConfig_Load(&a->config, dataDirectory) == 0) return 0;
  const ADASConfig& c = a->config;
  struct Default {
    AdasFunctionControl* f;
    int32_t v[5];
  } defaults[] = {{&a->ldwsCtl, {1, 30, 38, 60, 54}},
                  {&a->bsdsCtl, {1, 4, 10, 20, 15}},
                  {&a->modsCtl, {2, 20, 25, 15, 17}},
                  {&a->rctaCtl, {2, 6, 11, 1, 3}},
                  {&a->lvsaCtl, {2, 6, 11, 1, 3}}};
  for (Default& d : defaults)
    if (d.f->gate.mode.load() == 0) SpeedGate_Set(&d.f->gate, d.v[0], d.v[1], d.v[2], d.v[3], d.v[4]);

  if (c.C[kAdasLdwsPresent] != 0 && LDWS_Init(&a->ldws, &c, a->ldwsParam.load(), a->clock()) != 0) {
    const int32_t w = a->ldws.columns, h = a->ldws.rows;
    const size_t cells = static_cast<size_t>(w) * h;
    BlockRing_Release(&a->ldwsRing);
    BlockRing_Init(&a->ldwsRing, 3, static_cast<int32_t>(cells * 4), 1);
    a->ldwsWork1.assign(cells, 0.0f);
    a->ldwsWork2.assign(cells * 4 + static_cast<size_t>(24) * h * 4, 0.0f);
    const int32_t A = c.C[12], B = c.C[13], D = c.C[16];
    const int32_t base = A + B != 0 ? static_cast<int32_t>(static_cast<int64_t>(A) * D / (A + B)) : 0;
    Hough_Create(&a->hough, w, h, 51, 26, base, 1.0f, 0.017453292f, 1.134464f);
    a->ldwsCtl.created = 1;
  }
  if (BSDS_Init(&a->bsds, &c) != 0) {
    BSDS_SetRespRate(&a->bsds, a->bsdsRespRate.load());
    BSDS_SetHold(&a->bsds, a->bsdsExtraHold.load());
    a->bsdsCtl.created = 1;
  }
  if (c.C[kAdasModsPresent] != 0) {
    a->mods = MOD_Create();
    if (a->mods != nullptr) {
      MOD_Init(a->mods, &c);
      a->modsCtl.created = 1;
    }
  }
  if ((c.C[kAdasEnableMask] & kAdasDirty) != 0) {
    a->dirty = DirtyDetect_Create();
    if (a->dirty != nullptr) {
      char path[512];
      snprintf(path, sizeof path, "%s/lut_config.krv", dataDirectory != nullptr ? dataDirectory : ".");
      DirtyDetect_Init(a->dirty, path, 0, 0);
    }
  }
  if (c.C[kAdasRctaPresent] != 0) {
    a->rcta = RCTAInput_Create();
    if (a->rcta != nullptr) {
      RCTAInput_Init(a->rcta, &c);
      a->rctaCtl.created = 1;
    }
  }
  if (c.C[kAdasLvsaPresent] != 0) {
    a->lvsa = LVSAInput_Create();
    if (a->lvsa != nullptr) {
      LVSAInput_Init(a->lvsa, &c);
      a->lvsaCtl.created = 1;
    }
  }
  a->inited = 1;
  return 1;
}

void ADAS_StartThreads(ADASManager* a) {
  if (a == nullptr || a->runState.load() == 1) return;
  a->runState = 1;
  struct Start {
    bool run;
    ThreadRoutine routine;
  } starts[] = {{a->ldwsCtl.created.load() != 0, LdwsThread},
                {a->bsdsCtl.created.load() != 0, BsdsThread},
                {a->modsCtl.created.load() != 0, ModsThread},
                {a->dirty != nullptr && DirtyDetect_IsInited(a->dirty) != 0, DirtyThread},
                {a->rctaCtl.created.load() != 0, RctaThread},
                {a->lvsaCtl.created.load() != 0, LvsaThread}};
  for (const Start& s : starts) {
    if (!s.run) continue;
    // Counted before the start so a quick stop never sees the count low.
    a->workerCount.fetch_add(1);
    Thread_CreateDetached(nullptr, s.routine, a);
  }
}

int ADAS_StopThreads(ADASManager* a) {
  if (a == nullptr) return 1;
  if (a->runState.load() == 1) {
    a->runState = 2;
    for (int32_t i = 0; i < a->stopPolls && a->workerCount.load() > 0; ++i) SleepMs(a->stopPollMs);
    // A worker that has not left sees the state and leaves when it returns.
    a->runState = 0;
  }
  const int32_t left = a->workerCount.load();
  if (left > 0) AvmLog("ADAS_StopThreads: %d workers still running after %d ms\n", left, a->stopPolls * a->stopPollMs);
  return left == 0 ? 1 : 0;
}

void ADAS_Release(ADASManager* a) {
  if (a == nullptr) return;
  if (ADAS_StopThreads(a) == 0) {
    // The running worker uses its function object and the configuration.
    AvmLog("ADAS_Release: workers still running; the functions are left allocated\n");
    return;
  }
  if (a->inited.load() == 0) return;
  if (a->ldwsCtl.created.exchange(0) != 0) {
    Hough_Destroy(&a->hough);
    BlockRing_Release(&a->ldwsRing);
    LDWS_Release(&a->ldws);
    std::vector<float>().swap(a->ldwsWork1);
    std::vector<float>().swap(a->ldwsWork2);
  }
  if (a->bsdsCtl.created.exchange(0) != 0) BSDS_Release(&a->bsds);
  if (a->mods != nullptr) {
    MOD_Release(a->mods);
    MOD_Destroy(a->mods);
    a->mods = nullptr;
  }
  a->modsCtl.created = 0;
  if (a->dirty != nullptr) {
    DirtyDetect_Release(a->dirty);
    DirtyDetect_Destroy(a->dirty);
    a->dirty = nullptr;
  }
  if (a->rcta != nullptr) {
    RCTAInput_Release(a->rcta);
    RCTAInput_Destroy(a->rcta);
    a->rcta = nullptr;
  }
  a->rctaCtl.created = 0;
  if (a->lvsa != nullptr) {
    LVSAInput_Release(a->lvsa);
    LVSAInput_Destroy(a->lvsa);
    a->lvsa = nullptr;
  }
  a->lvsaCtl.created = 0;
  ADASConfig_Free(&a->config);
  a->inited = 0;
}

// ---------------------------------------------------------------------------
// Feeds.

namespace {

struct FeedForms {
  void (*ldws)(const LDWSState*, const uint8_t*, float*);
  void (*bsds)(BSDSState*, const uint8_t*);
  void (*mods)(MODObject*, int32_t, int32_t, const uint8_t*, const ADASConfig*);
  int32_t (*dirty)(DirtyDetectState*, const uint8_t*, int32_t, int32_t);
  void (*rcta)(RCTAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*);
  void (*lvsa)(LVSAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*);
  const char* nightMessage;
};

void FeedPacked(ADASManager* a, int32_t width, int32_t height, const uint8_t* frame, int32_t everySecond,
                int32_t stamp, const FeedForms& f) {
  if (frame == nullptr) return;
  FeedCommon(a, width, height, everySecond, stamp, [&](bool ldwsTurn, bool otherTurn, int32_t counter) {
    if (ldwsTurn && Active(a->ldwsCtl)) {
      uint8_t* block = BlockRing_GetWriteBlock(&a->ldwsRing);
      if (block != nullptr) {
        f.ldws(&a->ldws, frame, reinterpret_cast<float*>(block));
        BlockRing_CommitWrite(&a->ldwsRing);
      }
    }
    if (!otherTurn) return;
    if (Active(a->bsdsCtl) && BSDS_CanWrite(&a->bsds) != 0) f.bsds(&a->bsds, frame);
    if (Active(a->modsCtl) && MOD_CanWrite(a->mods) != 0) f.mods(a->mods, width, height, frame, &a->config);
    if (Active(a->rctaCtl) && RCTAInput_CanWrite(a->rcta) != 0) f.rcta(a->rcta, width, height, frame, &a->config);
    if (Active(a->lvsaCtl) && LVSAInput_CanWrite(a->lvsa) != 0) f.lvsa(a->lvsa, width, height, frame, &a->config);
    if (ADAS_IsDirtyDetectActive(a) != 0) {
      if (a->night.load() == 0)
        f.dirty(a->dirty, frame, width, height);
      else if (counter % 50 == 1)
        AvmLog("%s", f.nightMessage);
    }
  });
}

}  // namespace

void ADAS_FeedFrame(ADASManager* a, int32_t width, int32_t height, const uint8_t* frame, const float* values,
                    int32_t everySecond, int32_t ldwsVariant, int32_t stamp) {
  (void)values;
  const FeedForms f{ldwsVariant != 0 ? LDWS_InputLumaB : LDWS_InputLuma,
                    BSDS_InputLuma,
                    MOD_PushFrameGray,
                    DirtyDetect_FeedA,
                    RCTAInput_RemapCamA,
                    LVSAInput_RemapCamA,
                    "DirtyDetect Night e "};
  FeedPacked(a, width, height, frame, everySecond, stamp, f);
}

void ADAS_FeedFrameMode0(ADASManager* a, int32_t width, int32_t height, const uint8_t* frame, const float* values,
                         int32_t everySecond, int32_t ldwsVariant, int32_t stamp) {
  (void)values;
  (void)ldwsVariant;
  const FeedForms f{LDWS_InputUYVY,     BSDS_InputUYVY,      MOD_PushFrameUYVY,    DirtyDetect_FeedB,
                    RCTAInput_RemapCamB, LVSAInput_RemapCamB, "DirtyDetect Night  "};
  FeedPacked(a, width, height, frame, everySecond, stamp, f);
}

void ADAS_FeedFrameMode3(ADASManager* a, int32_t width, int32_t height, const uint8_t* frame, const float* values,
                         int32_t everySecond, int32_t ldwsVariant, int32_t stamp) {
  (void)values;
  (void)ldwsVariant;
  const FeedForms f{LDWS_InputYUYV,     BSDS_InputYUYV,      MOD_PushFrameYUYV,    DirtyDetect_FeedC,
                    RCTAInput_RemapCamC, LVSAInput_RemapCamC, "DirtyDetect Night  "};
  FeedPacked(a, width, height, frame, everySecond, stamp, f);
}

void ADAS_FeedFramePlanes(ADASManager* a, int32_t width, int32_t height, const uint8_t* const* planes,
                          const float* values, int32_t everySecond, int32_t ignored, int32_t stamp) {
  (void)values;
  (void)ignored;
  if (planes == nullptr) return;
  // Positions were checked and resolved against the quad frame at Init; the
  // per-camera form of the tables serves the functions that read them.
  ADASConfig_ToCameraCoords(&a->config);
  FeedCommon(a, width, height, everySecond, stamp, [&](bool ldwsTurn, bool otherTurn, int32_t) {
    const int32_t hw = width / 2, hh = height / 2;
    if (ldwsTurn && Active(a->ldwsCtl)) {
      uint8_t* block = BlockRing_GetWriteBlock(&a->ldwsRing);
      if (block != nullptr) {
        LDWS_InputPlanes(&a->ldws, planes, reinterpret_cast<float*>(block));
        BlockRing_CommitWrite(&a->ldwsRing);
      }
    }
    if (!otherTurn) return;
    if (Active(a->bsdsCtl) && BSDS_CanWrite(&a->bsds) != 0) BSDS_InputPlanes(&a->bsds, planes);
    if (Active(a->modsCtl) && MOD_CanWrite(a->mods) != 0) MOD_PushFramePlanes(a->mods, hw, hh, planes, &a->config);
    if (Active(a->rctaCtl) && RCTAInput_CanWrite(a->rcta) != 0)
      RCTAInput_RemapPlanes(a->rcta, hw, hh, planes, &a->config);
    if (Active(a->lvsaCtl) && LVSAInput_CanWrite(a->lvsa) != 0)
      LVSAInput_RemapCamA(a->lvsa, hw, hh, planes[0], &a->config);
  });
}

void ADAS_FeedLayout(ADASManager* a, int32_t layout, int32_t width, int32_t height, const uint8_t* frame,
                     const float* values) {
  switch (layout) {
    case 0: ADAS_FeedFrameMode0(a, width, height, frame, values, 0, 0, 0); break;
    case 1: ADAS_FeedFrame(a, width, height, frame, values, 0, 0, 0); break;
    case 3: ADAS_FeedFrameMode3(a, width, height, frame, values, 0, 0, 0); break;
    case 4: ADAS_FeedFrame(a, width, height, frame, values, 1, 0, 0); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Worker passes.

int ADAS_LDWSPass(ADASManager* a) {
  AdasFunctionControl& f = a->ldwsCtl;
  if (a->ldwsMarginPending.exchange(0) != 0) LDWS_SetMargin(&a->ldws, a->ldwsParam.load());
  GatePass(a, f);
  HandleChanged(f, [a] { LdwsClear(a); }, [a] { LDWS_Reset(&a->ldws); });
  uint8_t* block = BlockRing_GetReadBlock(&a->ldwsRing);
  if (block == nullptr) return 0;
  if (f.on.load() == 0 || f.gate.active.load() == 0) {
    BlockRing_AdvanceRead(&a->ldwsRing);
    return 1;
  }
  float* thin = a->ldwsWork1.data();
  LDWS_ExtractLinePoints(&a->ldws, reinterpret_cast<const float*>(block), thin, a->ldwsWork2.data());
  BlockRing_AdvanceRead(&a->ldwsRing);
  HoughSegment segs[16];
  int32_t count = 0;
  LDWS_FindSegments(&a->hough, thin, a->ldws.columns, a->ldws.rows, segs, &count);
  LDWS_StepAt(&a->ldws, segs, count, a->clock());
  if (HaveCallback()) {
    const int32_t stamp = a->frameStamp.load();
    SendOutput(f.gate, KRV_ADAS_EVENT_LDWS, a->ldws.result.load(), &a->ldwsLastResult, 0, 0, 0, stamp);
    const bool lane = f.gate.report.load() != 0 && (a->ldws.laneTracked.load() != 0 || a->ldws.result.load() != 0);
    if (lane && a->ldwsLaneFlag == 0) {
      Send(KRV_ADAS_EVENT_LDWS, 2, 0, 0, stamp, stamp);
      a->ldwsLaneFlag = 1;
    } else if (!lane && a->ldwsLaneFlag != 0) {
      Send(KRV_ADAS_EVENT_LDWS, 1, 0, 0, stamp, stamp);
      a->ldwsLaneFlag = 0;
    }
  }
  return 1;
}

int ADAS_BSDSPass(ADASManager* a) {
  AdasFunctionControl& f = a->bsdsCtl;
  GatePass(a, f);
  HandleChanged(
      f,
      [a] {
        ClearOutput(KRV_ADAS_EVENT_BSDS_LEFT, &a->bsdsLast[0]);
        ClearOutput(KRV_ADAS_EVENT_BSDS_RIGHT, &a->bsdsLast[1]);
      },
      [a] { BSDS_Reset(&a->bsds); });
  if (BSDS_HasFrame(&a->bsds) == 0) return 0;
  if (f.on.load() != 0 && f.gate.active.load() != 0) {
    BSDS_SetNight(&a->bsds, a->night.load());
    BSDS_SetSteering(&a->bsds, a->steering.load());
    BSDS_StepAt(&a->bsds, a->clock());
    const int32_t stamp = a->frameStamp.load();
    SendOutput(f.gate, KRV_ADAS_EVENT_BSDS_LEFT, a->bsds.leftResult.load(), &a->bsdsLast[0], 0, 0, 0, stamp);
    SendOutput(f.gate, KRV_ADAS_EVENT_BSDS_RIGHT, a->bsds.rightResult.load(), &a->bsdsLast[1], 0, 0, 0, stamp);
  }
  BSDS_AdvanceRead(&a->bsds);
  return 1;
}

int ADAS_MODSPass(ADASManager* a) {
  AdasFunctionControl& f = a->modsCtl;
  GatePass(a, f);
  HandleChanged(
      f,
      [a] {
        for (int k = 0; k < 4; ++k) ClearOutput(KRV_ADAS_EVENT_MODS_BLOCK1 + k, &a->modsLast[k]);
      },
      [a] { MOD_ClearResults(a->mods); });
  if (MOD_HasFrame(a->mods) == 0) return 0;
  if (f.on.load() != 0 && f.gate.active.load() != 0) {
    MOD_SetSpeedAngle(a->mods, static_cast<int32_t>(a->speed.load()), static_cast<int32_t>(a->steering.load()));
    if (a->gear.load() != -1) MOD_SetGear(a->mods, a->gear.load());
    MOD_Process(a->mods);
    if (HaveCallback())
      for (int k = 0; k < 4; ++k) {
        const int32_t b = kModsBlocks[k];
        SendOutput(f.gate, KRV_ADAS_EVENT_MODS_BLOCK1 + k, static_cast<int32_t>(MOD_GetAlarm(a->mods, b)), &a->modsLast[k],
                   MOD_GetResult(a->mods, b), MOD_GetResultValue(a->mods, b));
      }
  }
  MOD_NextRead(a->mods);
  return 1;
}

int ADAS_RCTAPass(ADASManager* a) {
  AdasFunctionControl& f = a->rctaCtl;
  GatePass(a, f);
  HandleChanged(
      f,
      [a] {
        ClearOutput(KRV_ADAS_EVENT_RCTA_LEFT, &a->rctaLast[0]);
        ClearOutput(KRV_ADAS_EVENT_RCTA_RIGHT, &a->rctaLast[1]);
      },
      [a] { RCTAInput_ClearStates(a->rcta); });
  if (RCTAInput_HasFrame(a->rcta) == 0) return 0;
  if (f.on.load() != 0 && f.gate.active.load() != 0) {
    RCTAInput_SetNight(a->rcta, a->night.load());
    RCTAInput_Process(a->rcta);
    SendOutput(f.gate, KRV_ADAS_EVENT_RCTA_LEFT, static_cast<int32_t>(RCTAInput_LeftState(a->rcta)), &a->rctaLast[0]);
    SendOutput(f.gate, KRV_ADAS_EVENT_RCTA_RIGHT, static_cast<int32_t>(RCTAInput_RightState(a->rcta)), &a->rctaLast[1]);
  }
  RCTAInput_NextRead(a->rcta);
  return 1;
}

int ADAS_LVSAPass(ADASManager* a) {
  AdasFunctionControl& f = a->lvsaCtl;
  GatePass(a, f);
  HandleChanged(f, [a] { ClearOutput(KRV_ADAS_EVENT_LVSA, &a->lvsaLast); }, [a] { LVSAInput_ClearState(a->lvsa); });
  if (LVSAInput_HasFrame(a->lvsa) == 0) return 0;
  if (f.on.load() != 0 && f.gate.active.load() != 0) {
    LVSAInput_SetNight(a->lvsa, a->night.load());
    LVSAInput_SetSpeed(a->lvsa, a->speed.load());
    LVSAInput_Process(a->lvsa);
    SendOutput(f.gate, KRV_ADAS_EVENT_LVSA, static_cast<int32_t>(LVSAInput_State(a->lvsa)), &a->lvsaLast);
  }
  LVSAInput_NextRead(a->lvsa);
  return 1;
}

void ADAS_DirtyPass(ADASManager* a) {
  if (a->dirty == nullptr) return;
  DirtyDetect_SetParam(a->dirty, a->speed.load());
  const uint32_t state = DirtyDetectStep(a->dirty);
  if (ADAS_DirtyEventDue(state, a->clock(), &a->dirtyLast, &a->dirtyNoted) != 0)
    Send(KRV_ADAS_EVENT_DIRTY_DETECT, static_cast<int32_t>(state), 0, 0, 0, 0);
}

int ADAS_DirtyEventDue(uint32_t state, uint32_t now, uint32_t* last, uint32_t* noted) {
  if (state != *last) {
    *last = state;
    *noted = now;
    return 1;
  }
  if (state != 0 && (now - *noted > 1000 || now < *noted)) {
    // Noting the time again keeps the repeat at one a second.
    *noted = now;
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Controls and parameters.

namespace {

void Switch(ADASManager* a, AdasFunctionControl& f, int32_t width, int32_t height, int32_t value, const char* name) {
  if (!SizeMatches(a, width, height)) {
    if (&f == &a->bsdsCtl)
      AvmLog("BSDS Image Width Height Not right %d %d %d %d \n", width, height, a->config.C[kAdasFrameWidth],
             a->config.C[kAdasFrameHeight]);
    else
      AvmLog("%s Image Width Height Not right ", name);
  }
  f.on = value;
  f.changed = 1;
}

}  // namespace

void CtrlLDWS(ADASManager* a, int32_t width, int32_t height, int32_t value) {
  if (SizeMatches(a, width, height))
    AvmLog("CtrlLDWS %d %d %d %d %f %d \n", value, a->ldwsCtl.gate.active.load(), a->ldwsCtl.gate.t1.load(),
           a->ldwsCtl.gate.t2.load(), static_cast<double>(a->speed.load()), a->ldwsCtl.on.load());
  Switch(a, a->ldwsCtl, width, height, value, "LDWS");
}
void CtrlBSDS(ADASManager* a, int32_t width, int32_t height, int32_t value) {
  Switch(a, a->bsdsCtl, width, height, value, "BSDS");
}
void CtrlMODS(ADASManager* a, int32_t width, int32_t height, int32_t value) {
  Switch(a, a->modsCtl, width, height, value & 0xF, "MODS");
  if (a->mods != nullptr) MOD_SetMask(a->mods, static_cast<uint32_t>(value) >> 4);
}
void CtrlDirtyDetect(ADASManager* a, int32_t width, int32_t height, int32_t value) {
  if (SizeMatches(a, width, height))
    AvmLog("CtrlDirtyDetect %d %f %d \n", value, static_cast<double>(a->speed.load()), a->dirtyCtl.on.load());
  Switch(a, a->dirtyCtl, width, height, value, "DirtyDetect");
}
void CtrlRCTA(ADASManager* a, int32_t width, int32_t height, int32_t value) {
  Switch(a, a->rctaCtl, width, height, value, "RCTA");
}
void CtrlLVSA(ADASManager* a, int32_t width, int32_t height, int32_t value) {
  Switch(a, a->lvsaCtl, width, height, value, "LVSA");
}

void ADAS_SetSpeed(ADASManager* a, float speed) {
  a->speed = speed;
}
void ADAS_SetFloat2(ADASManager* a, float angle) { a->steering = angle; }
void ADAS_SetInt(ADASManager* a, int32_t gear) { a->gear = gear; }
void ADAS_SetMODSZone(ADASManager* a, int32_t index, float value) {
  if (a->mods != nullptr) MOD_SetSideSignal(a->mods, index, value);
}
void ADAS_SetMODSPair(ADASManager* a, int32_t sensor, int32_t word) {
  if (a->mods != nullptr) MOD_SetRadarInfo(a->mods, sensor, static_cast<uint32_t>(word));
}
void ADAS_SetLDWSParam(ADASManager* a, int32_t value) {
  a->ldwsParam = value;
  // The boundary columns are the worker's: it takes the new margin at its
  // next pass.
  a->ldwsMarginPending = 1;
}
void ADAS_SetLDWSParam2(ADASManager* a, int32_t value) {
  if (a->ldwsCtl.created.load() != 0) LDWS_SetHoldTime(&a->ldws, value);
}
void ADAS_SetBSDSRespRate(ADASManager* a, int32_t value) {
  a->bsdsRespRate = value;
  if (a->bsdsCtl.created.load() != 0) BSDS_SetRespRate(&a->bsds, value);
}
void ADAS_SetBSDSParam(ADASManager* a, int32_t value) {
  a->bsdsExtraHold = value;
  BSDS_SetHold(&a->bsds, value);
}
void ADAS_SetMODSParam(ADASManager* a, int32_t value) {
  if (a->mods != nullptr) MOD_SetKeepTime(a->mods, static_cast<uint32_t>(value));
}
void ADAS_SetRCTAParam(ADASManager* a, int32_t value) {
  if (a->rcta != nullptr) RCTAInput_SetHoldTime(a->rcta, static_cast<uint32_t>(value));
}
void ADAS_SetLVSAParam(ADASManager* a, int32_t value) {
  if (a->lvsa != nullptr) LVSAInput_SetHoldTime(a->lvsa, static_cast<uint32_t>(value));
}
void ADAS_SetLDWSSpeedGate(ADASManager* a, int32_t v) { SpeedGate_Set(&a->ldwsCtl.gate, 1, v - 30, v - 22, v, v - 6); }
void ADAS_SetBSDSSpeedGate(ADASManager* a, int32_t v) { SpeedGate_Set(&a->bsdsCtl.gate, 1, v - 16, v - 10, v, v - 5); }
void ADAS_SetMODSSpeedGate(ADASManager* a, int32_t v) { SpeedGate_Set(&a->modsCtl.gate, 2, v + 5, v + 10, v, v + 2); }
void ADAS_SetRCTASpeedGate(ADASManager* a, int32_t v) { SpeedGate_Set(&a->rctaCtl.gate, 2, v + 5, v + 10, v, v + 2); }
void ADAS_SetLVSASpeedGate(ADASManager* a, int32_t v) { SpeedGate_Set(&a->lvsaCtl.gate, 2, v + 5, v + 10, v, v + 2); }
void ADAS_SetParam25(ADASManager*, int32_t, int32_t, int32_t) {}
void ADAS_SetParam27(ADASManager*, int32_t) {}

void ADAS_UpdateNightMode(ADASManager* a, int32_t value) {
  a->lastRawNight = value;
  if (value == a->night.load()) {
    if (++a->agreeCount > 1) a->disagreeCount = 0;
  } else {
    a->agreeCount = 0;
    if (++a->disagreeCount > 80) {
      a->night = value;
      a->disagreeCount = 0;
    }
  }
}

void ADAS_SetParam(ADASManager* a, int32_t id, int32_t value, int32_t width, int32_t height) {
  switch (id) {
    case 6: CtrlLDWS(a, width, height, value); break;
    case 7: CtrlBSDS(a, width, height, value); break;
    case 12: ADAS_SetSpeed(a, static_cast<float>(value)); break;
    case 212: ADAS_SetSpeed(a, value * 0.01f); break;
    case 13: ADAS_SetFloat2(a, static_cast<float>(value)); break;
    case 213: ADAS_SetFloat2(a, value * 0.01f); break;
    case 14: ADAS_SetInt(a, value); break;
    case 15:
    case 16:
    case 17:
    case 18: ADAS_SetMODSZone(a, id - 15, value / 10000.0f); break;
    case 22: ADAS_SetLDWSSpeedGate(a, value); break;
    case 23: a->param23 = value; break;
    case 24: ADAS_SetBSDSSpeedGate(a, value); break;
    case 25: ADAS_SetParam25(a, width, height, value); break;
    case 26: CtrlMODS(a, width, height, value); break;
    case 27: ADAS_SetParam27(a, value); break;
    case 28: ADAS_SetMODSSpeedGate(a, value); break;
    case 31: ADAS_SetLDWSParam(a, value); break;
    case 32: ADAS_SetBSDSRespRate(a, value); break;
    case 34: ADAS_SetLDWSParam2(a, value); break;
    case 35: ADAS_SetBSDSParam(a, value); break;
    case 36: ADAS_SetMODSParam(a, value); break;
    case 51: ADAS_SetMODSPair(a, value >> 16, value & 0xFFFF); break;
    case 52: CtrlDirtyDetect(a, width, height, value); break;
    case 53: CtrlRCTA(a, width, height, value); break;
    case 54: CtrlLVSA(a, width, height, value); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Queries.

namespace {
int32_t SwitchAndGate(const AdasFunctionControl& f) {
  return f.on.load() != 0 && f.gate.active.load() != 0 ? 1 : 0;
}
int32_t Reported(const AdasFunctionControl& f, int32_t value) { return f.gate.report.load() != 0 ? value : 0; }
}  // namespace

int32_t ADAS_IsLDWSActive(const ADASManager* a) { return SwitchAndGate(a->ldwsCtl); }
int32_t ADAS_IsBSDSActive(const ADASManager* a) { return SwitchAndGate(a->bsdsCtl); }
int32_t ADAS_IsMODSActive(const ADASManager* a) { return SwitchAndGate(a->modsCtl); }
int32_t ADAS_IsRCTAActive(const ADASManager* a) { return SwitchAndGate(a->rctaCtl); }
int32_t ADAS_IsLVSAActive(const ADASManager* a) { return SwitchAndGate(a->lvsaCtl); }
int32_t ADAS_IsDirtyDetectActive(const ADASManager* a) {
  return a->dirtyCtl.on.load() != 0 && a->speed.load() > 5.0f && a->dirty != nullptr &&
                 DirtyDetect_IsInited(a->dirty) != 0
             ? 1
             : 0;
}
int ADAS_IsAnyActive(const ADASManager* a) {
  return ADAS_IsLDWSActive(a) | ADAS_IsBSDSActive(a) | ADAS_IsMODSActive(a) | ADAS_IsRCTAActive(a) |
         ADAS_IsLVSAActive(a) | ADAS_IsDirtyDetectActive(a);
}
int32_t ADAS_IsBSDSOrDirtyActive(const ADASManager* a) { return ADAS_IsBSDSActive(a) | ADAS_IsDirtyDetectActive(a); }
int32_t ADAS_IsNight(const ADASManager* a) { return a->night.load(); }
int32_t ADAS_GetLDWSResult(const ADASManager* a) { return Reported(a->ldwsCtl, a->ldws.result.load()); }
int32_t ADAS_GetBSDSLeft(const ADASManager* a) { return Reported(a->bsdsCtl, a->bsds.leftResult.load()); }
int32_t ADAS_GetBSDSRight(const ADASManager* a) { return Reported(a->bsdsCtl, a->bsds.rightResult.load()); }
int32_t ADAS_GetMODSResult1(const ADASManager* a) {
  return a->mods != nullptr ? Reported(a->modsCtl, static_cast<int32_t>(MOD_GetAlarm(a->mods, 1))) : 0;
}
int32_t ADAS_GetMODSResult2(const ADASManager* a) {
  return a->mods != nullptr ? Reported(a->modsCtl, static_cast<int32_t>(MOD_GetAlarm(a->mods, 2))) : 0;
}
int32_t ADAS_GetMODSResult4(const ADASManager* a) {
  return a->mods != nullptr ? Reported(a->modsCtl, static_cast<int32_t>(MOD_GetAlarm(a->mods, 4))) : 0;
}
int32_t ADAS_GetMODSResult8(const ADASManager* a) {
  return a->mods != nullptr ? Reported(a->modsCtl, static_cast<int32_t>(MOD_GetAlarm(a->mods, 8))) : 0;
}
int32_t ADAS_GetRCTALeft(const ADASManager* a) {
  return a->rcta != nullptr ? Reported(a->rctaCtl, static_cast<int32_t>(RCTAInput_LeftState(a->rcta))) : 0;
}
int32_t ADAS_GetRCTARight(const ADASManager* a) {
  return a->rcta != nullptr ? Reported(a->rctaCtl, static_cast<int32_t>(RCTAInput_RightState(a->rcta))) : 0;
}
int32_t ADAS_GetLVSAResult(const ADASManager* a) {
  return a->lvsa != nullptr ? Reported(a->lvsaCtl, static_cast<int32_t>(LVSAInput_State(a->lvsa))) : 0;
}
int32_t ADAS_IsLDWSWarning(const ADASManager* a) {
  if (a->ldwsCtl.gate.report.load() == 0) return 0;
  if (a->ldws.laneTracked.load() != 0) return 1;
  return a->ldws.result.load() != 0 ? 1 : 0;
}

int32_t ADAS_GetResult(const ADASManager* a, int32_t id) {
  switch (id) {
    case 1: return ADAS_GetLDWSResult(a);
    case 2: return ADAS_GetBSDSLeft(a);
    case 3: return ADAS_GetBSDSRight(a);
    default: return 0;
  }
}

void ADAS_SetEventCallback(KRV_TVDecoder_ADASEventCallback callback, void* user) {
  g_eventUser = user;
  g_eventCallback = callback;
}
