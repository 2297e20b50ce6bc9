#include "calibration/solve/new_lut_corner_search.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "calibration/solve/target_world_points.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/thread_start.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "toolkit/matrix.h"
#include "toolkit/matrix_alloc.h"
#include "toolkit/sampling.h"

namespace {

constexpr useconds_t kPollMicros = 10000;
// A point buffer beyond this is a corrupt configuration, not a target.
constexpr int32_t kMaxPointsSane = 4096;

// A job whose thread did not start is done at once with its camera's code:
// nobody waits for a thread that does not run.
void Start(CornerSearchJob* job) {
  const int rc = Thread_CreateDetached(nullptr, CalibCornerWorker, job);
  if (rc == 0) return;
  AvmLog("InitLUTOB_New: corner search of camera %d not started (%d)\n", job->camera, rc);
  job->startFailed = true;
  job->count = 0;
  job->result = job->errorCode;
  job->done.store(1, std::memory_order_release);
}

// Sleeps first, then tests, until every started job is done.
void WaitAll(CornerSearchJob* const* jobs, int n) {
  for (;;) {
    usleep(kPollMicros);
    bool all = true;
    for (int i = 0; i < n; ++i) all = all && jobs[i]->done.load(std::memory_order_acquire) != 0;
    if (all) return;
  }
}

// The object's buffers: preview (output size), parameter headers, camera
// images cut from the quad frame, point arrays of m points.
void SetUpObject(LUTOB* lut, const Matrix* quad, int32_t m) {
  const int32_t pw = std::max(lut->cfg.carRect[2], 0), ph = std::max(lut->cfg.outHeight, 0);
  Matrix_NewData(&lut->previewImage, pw, ph);
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  const int32_t w = quad->cols / 2, h = quad->rows / 2;
  lut->camW = w;
  lut->camH = h;
  const int32_t ox[4] = {0, w, 0, w}, oy[4] = {0, 0, h, h};
  for (int c = 0; c < 4; ++c) {
    lut->cameraImages[c] = Matrix_New(w, h);
    Matrix_CopyBlock(quad, lut->cameraImages[c], w, h, ox[c], oy[c], 0, 0);
    lut->imagePoints[c] = new float[static_cast<size_t>(2) * std::max(m, 1)]();
    lut->worldPoints[c] = new float[static_cast<size_t>(3) * std::max(m, 1)]();
  }
}

}  // namespace

void* CalibCornerWorker(void* job) {
  CornerSearchJob* s = static_cast<CornerSearchJob*>(job);
  const uint32_t n = s->searchable ? s->finder(s->lutob, static_cast<uint32_t>(s->camera)) : 0;
  s->count = static_cast<int32_t>(std::min<uint32_t>(n, INT32_MAX));
  if (s->count == 0) s->result = s->errorCode;
  // The only hand-over: everything above is visible to whoever sees done.
  s->done.store(1, std::memory_order_release);
  return nullptr;
}

int32_t InitLUTOB_New_DetectCorners(LUTOB* lut, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                    int32_t model, Matrix* quad) {
  return InitLUTOB_New_DetectCornersWith(lut, a1, a2, a3, a4, a5, model, quad, FindAllChessboardCorners);
}

int32_t InitLUTOB_New_DetectCornersWith(LUTOB* lut, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                        int32_t model, Matrix* quad, CornerFinder finder) {
  GlobalVariables& g = gv();
  if (lut == nullptr || quad == nullptr || quad->data == nullptr || quad->cols < 2 || quad->rows < 2 ||
      finder == nullptr) {
    AvmLog("InitLUTOB_New: no quad frame\n");
    return 17;
  }
  if (g.advValue8 != 0) {
    Image_RaiseToCornerMin(quad, quad);
    g.advValue8 = 0;
  }
  const int32_t block = BlockCalib4_RunAuto(model, 0, quad);
  if (block != 0) return block;
  const int32_t m = g.maxPoints;
  if (m < 1 || m > kMaxPointsSane) {
    AvmLog("InitLUTOB_New: impossible point count %d\n", m);
    return 17;
  }
  if (lut->camW != 0) LUTOB_ReleaseBuffers(lut);  // a second preparation of one object
  LutConfig_Init(&lut->cfg, a1, a2, a3, a4, a5, model, 1, g.advValue15, 0);
  SetUpObject(lut, quad, m);

  // Every camera's target before any thread starts: the workers only read it.
  std::unique_ptr<CornerSearchJob> jobs[4];
  for (int c = 0; c < 4; ++c) {
    Matrix world{3, m, lut->worldPoints[c]};
    ComputeTargetWorldPoints(&lut->cfg, c + 1, &world);
    jobs[c].reset(new CornerSearchJob());
    CornerSearchJob& s = *jobs[c];
    s.finder = finder;
    s.lutob = lut;
    s.camera = c + 1;
    s.errorCode = 17 + c;
    s.searchable = TargetWorldPoints_Fit(c + 1, m);
  }

  const int32_t mask = g.cameraMask;
  CornerSearchJob* started[4];
  int nStarted = 0;
  bool stop = false;
  if ((mask & 1) != 0) {
    started[nStarted++] = jobs[0].get();
    Start(jobs[0].get());
    WaitAll(started, 1);
    stop = jobs[0]->result != 0;
  }
  if (!stop) {
    const int first = nStarted;
    for (int c = 1; c < 4; ++c) {
      started[nStarted++] = jobs[c].get();
      Start(jobs[c].get());
    }
    WaitAll(started + first, nStarted - first);
  }

  int32_t code = 0;
  bool notStarted = false;
  for (int i = 0; i < nStarted; ++i) {
    const CornerSearchJob& s = *started[i];
    lut->cornerCounts[s.camera - 1] = s.count;
    if (code == 0) code = s.result;
    notStarted = notStarted || s.startFailed;
  }
  // A search that could not run is a failure under any mask: its camera was
  // never looked at.
  if (code != 0 && ((mask & 0xF) == 0xF || notStarted)) {
    LUTOB_ReleaseBuffers(lut);
    return code;
  }
  return 0;
}
