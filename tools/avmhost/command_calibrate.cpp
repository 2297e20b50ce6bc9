// avmhost calibrate: the main road of a chessboard site as the display
// application drives it. One quad frame in through KRV_GlobalImage_
// InitLUTOB_New (corner search, pose solving, LUT build), the data files out
// through KRV_GlobalImage_GetLUTOBResult_EX, each camera's result read back
// from lut_config.krv, then the bird's-eye picture stitched from the new
// files. Without --data it first has avmsample write the embedded site, whose
// true poses it then compares with the solved ones.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "avm_library.h"
#include "commands.h"
#include "host_image.h"

namespace {

constexpr uint32_t kLutConfigMagic = 0x05080101u;
// Points per camera of lut_config.krv: the configuration's word 30, 43 with
// every board-layout preset.
constexpr int kFilePointsPerCamera = 43;
constexpr float kPi = 3.14159265358979f;

struct Exports {
  void (*setDir)(const char*, int, int, int);
  int (*init)();
  int (*release)();
  void* (*initNew)(int32_t, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                   int32_t, uint32_t*);
  int (*getResult)(void*, const char*, const char*, uint32_t);
  int (*unInitLut)(void*);
  int (*lastResult)(float*);
};

bool Resolve(AvmLibrary& lib, Exports* e) {
  e->setDir = lib.Get<decltype(e->setDir)>("KRV_TVDecoder_CaptureFileEx");
  e->init = lib.Get<decltype(e->init)>("KRV_GlobalImage_Init");
  e->release = lib.Get<decltype(e->release)>("KRV_GlobalImage_Release");
  e->initNew = lib.Get<decltype(e->initNew)>("KRV_GlobalImage_InitLUTOB_New");
  e->getResult = lib.Get<decltype(e->getResult)>("KRV_GlobalImage_GetLUTOBResult_EX");
  e->unInitLut = lib.Get<decltype(e->unInitLut)>("KRV_GlobalImage_UnInitLUTOB");
  e->lastResult = lib.Get<decltype(e->lastResult)>("KRV_GlobalImage_GetLastCalibResult");
  return e->setDir && e->init && e->release && e->initNew && e->getResult && e->unInitLut && e->lastResult;
}

struct Pose {
  float rvec[3] = {0, 0, 0};
  float position[3] = {0, 0, 0};
};

struct CameraResult {
  int32_t corners = 0;
  float rms = 0.0f;
  Pose pose;
  bool hasTruth = false;
  Pose truth;
};

// The site record avmsample writes beside its sample.
struct Site {
  int32_t car[5] = {1800, 4600, 0, 900, 2700};
  int32_t model = 2;
  bool hasTruth[4] = {false, false, false, false};
  Pose truth[4];
};

void ReadSite(const std::string& path, Site* site) {
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return;
  char line[256];
  while (fgets(line, sizeof line, f) != nullptr) {
    int c;
    Pose p;
    if (sscanf(line, "car %d %d %d %d %d", &site->car[0], &site->car[1], &site->car[2], &site->car[3],
               &site->car[4]) == 5)
      continue;
    if (sscanf(line, "model %d", &site->model) == 1) continue;
    if (sscanf(line, "camera %d %f %f %f %f %f %f", &c, &p.rvec[0], &p.rvec[1], &p.rvec[2], &p.position[0],
               &p.position[1], &p.position[2]) == 7 &&
        c >= 1 && c <= 4) {
      site->truth[c - 1] = p;
      site->hasTruth[c - 1] = true;
    }
  }
  fclose(f);
}

// Corner counts and poses of lut_config.krv: a 17-word header (corner
// counts in words 13..16), the point arrays, then K, D, R (rotation vectors)
// and T of the four cameras; the camera centre is -T.
bool ReadCameraFile(const std::string& path, CameraResult out[4]) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint32_t head[17];
  bool ok = fread(head, sizeof head, 1, f) == 1 && head[0] == kLutConfigMagic;
  const long params = 68L + 80L * kFilePointsPerCamera;
  float set[4 * 9 + 4 * 8 + 4 * 3 + 4 * 3];
  ok = ok && fseek(f, params, SEEK_SET) == 0 && fread(set, sizeof set, 1, f) == 1;
  fclose(f);
  if (!ok) return false;
  for (int c = 0; c < 4; ++c) {
    out[c].corners = static_cast<int32_t>(head[13 + c]);
    for (int k = 0; k < 3; ++k) {
      out[c].pose.rvec[k] = set[4 * 9 + 4 * 8 + 3 * c + k];
      out[c].pose.position[k] = -set[4 * 9 + 4 * 8 + 4 * 3 + 3 * c + k];
    }
  }
  return true;
}

// Angle (degrees) of the rotation taking one rotation vector to the other.
float RotationErrorDeg(const float* a, const float* b) {
  auto matrix = [](const float* r, double m[9]) {
    const double th = std::sqrt(double(r[0]) * r[0] + double(r[1]) * r[1] + double(r[2]) * r[2]);
    double k[3] = {0, 0, 0};
    if (th > 1e-12)
      for (int i = 0; i < 3; ++i) k[i] = r[i] / th;
    const double c = std::cos(th), s = std::sin(th), v = 1 - c;
    m[0] = c + k[0] * k[0] * v, m[1] = k[0] * k[1] * v - k[2] * s, m[2] = k[0] * k[2] * v + k[1] * s;
    m[3] = k[1] * k[0] * v + k[2] * s, m[4] = c + k[1] * k[1] * v, m[5] = k[1] * k[2] * v - k[0] * s;
    m[6] = k[2] * k[0] * v - k[1] * s, m[7] = k[2] * k[1] * v + k[0] * s, m[8] = c + k[2] * k[2] * v;
  };
  double A[9], B[9];
  matrix(a, A);
  matrix(b, B);
  double trace = 0;  // trace(A^T B)
  for (int i = 0; i < 9; ++i) trace += A[i] * B[i];
  const double cosang = std::fmax(-1.0, std::fmin(1.0, (trace - 1) / 2));
  return static_cast<float>(std::acos(cosang) * 180.0 / kPi);
}

float Distance(const float* a, const float* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

std::string Vec(const float* v) {
  char s[128];
  snprintf(s, sizeof s, "[%.6g, %.6g, %.6g]", static_cast<double>(v[0]), static_cast<double>(v[1]),
           static_cast<double>(v[2]));
  return s;
}

// With --json the library's log lines go to stderr, so that standard
// output holds the one JSON object.
class QuietStdout {
 public:
  explicit QuietStdout(bool on) {
    if (!on) return;
    fflush(stdout);
    saved_ = dup(1);
    dup2(2, 1);
  }
  ~QuietStdout() {
    if (saved_ < 0) return;
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

bool WriteSample(const std::string& dir) {
  const char* env = getenv("AVMSAMPLE");
  const std::string tool = env != nullptr && env[0] != '\0' ? env : AVMHOST_SAMPLE_TOOL;
  const std::string cmd = "'" + tool + "' calibrate '" + dir + "' >&2";
  return system(cmd.c_str()) == 0;
}

}  // namespace

int RunCalibrate(AvmLibrary& lib, const std::vector<std::string>& args) {
  std::string dir = OptionValue(args, "--data");
  const bool json = HasFlag(args, "--json");
  if (dir.empty()) {
    char tmpl[] = "/tmp/avmhost-calibrate-XXXXXX";
    if (mkdtemp(tmpl) == nullptr || !WriteSample(tmpl)) {
      fprintf(stderr, "avmhost: cannot write the embedded calibration sample\n");
      return 1;
    }
    dir = tmpl;
    fprintf(stderr, "embedded calibration sample: %s\n", dir.c_str());
  }
  std::string frame = OptionValue(args, "--frame", dir + "/quad.bmp");
  const std::string out = OptionValue(args, "--out", dir);
  mkdir(out.c_str(), 0755);
  Exports x{};
  if (!Resolve(lib, &x)) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  HostImage quad;
  if (!HostImage_ReadBmp(frame, &quad, 1) || quad.width % 4 != 0 || quad.height % 4 != 0) {
    fprintf(stderr, "avmhost: %s is not a quad frame BMP with sides divisible by 4\n", frame.c_str());
    return 1;
  }
  Site site;
  ReadSite(dir + "/calibrate_site.txt", &site);

  CameraResult cams[4];
  uint32_t code = 0;
  int saved = -1;
  {
    QuietStdout quiet(json);
    x.setDir(dir.c_str(), 0, 152, 0);
    x.init();
    // Format 1: the frame is a plain luma plane; option: the camera model,
    // every camera enabled.
    void* lut = x.initNew(1, quad.data.data(), quad.width, quad.height, site.car[0], site.car[1], site.car[2],
                          site.car[3], site.car[4], site.model & 15, 0, &code);
    if (lut != nullptr) {
      const std::string config = out + "/lut_config.krv", byteLut = out + "/lut_birdseye.krv";
      // The save chain writes its further files (mix area, dynamic alpha,
      // driver assistance) into the library's data directory: for this
      // call that is the output directory, so the data stay as they were.
      x.setDir(out.c_str(), 0, 152, 0);
      saved = x.getResult(lut, byteLut.c_str(), config.c_str(), 0xBF);
      x.setDir(dir.c_str(), 0, 152, 0);
      x.unInitLut(lut);
      float rms[4] = {0, 0, 0, 0};
      x.lastResult(rms);
      if (saved == 0 && ReadCameraFile(config, cams))
        for (int c = 0; c < 4; ++c) cams[c].rms = rms[c];
    }
    x.release();
  }
  for (int c = 0; c < 4; ++c) {
    cams[c].hasTruth = site.hasTruth[c];
    cams[c].truth = site.truth[c];
  }

  const bool solved = code == 0 && saved == 0;
  int stitched = 1;
  if (solved) {
    QuietStdout quiet(json);
    // The files of the new calibration, written to the output directory.
    if (out != dir) {
      const std::string cp = "cp '" + dir + "/globalimage_base.txt' '" + out + "/' 2>/dev/null";
      if (system(cp.c_str()) != 0) fprintf(stderr, "avmhost: globalimage_base.txt not copied to %s\n", out.c_str());
    }
    stitched = StitchBirdseye(lib, out, frame, out + "/birdseye.bmp", !json);
  }

  if (json) {
    printf("{\"cameras\": [");
    for (int c = 0; c < 4 && solved; ++c) {
      const CameraResult& r = cams[c];
      printf("%s{\"camera\": %d, \"corners\": %d, \"rms\": %.6g, \"rvec\": %s, \"position\": %s", c ? ", " : "",
             c + 1, r.corners, static_cast<double>(r.rms), Vec(r.pose.rvec).c_str(), Vec(r.pose.position).c_str());
      if (r.hasTruth)
        printf(", \"true_rvec\": %s, \"true_position\": %s", Vec(r.truth.rvec).c_str(),
               Vec(r.truth.position).c_str());
      printf("}");
    }
    printf("], \"result\": %u}\n", code);
  } else {
    printf("calibration result: %u\n", code);
    for (int c = 0; c < 4 && solved; ++c) {
      const CameraResult& r = cams[c];
      printf("camera %d: %d corners, rms %.3f px, rvec %s, position %s mm\n", c + 1, r.corners,
             static_cast<double>(r.rms), Vec(r.pose.rvec).c_str(), Vec(r.pose.position).c_str());
      if (r.hasTruth)
        printf("  against the known pose: rotation %.4f deg, position %.2f mm\n",
               static_cast<double>(RotationErrorDeg(r.pose.rvec, r.truth.rvec)),
               static_cast<double>(Distance(r.pose.position, r.truth.position)));
    }
    if (solved && stitched == 0) printf("bird's-eye picture: %s/birdseye.bmp\n", out.c_str());
  }
  if (!solved) {
    if (code == 0) fprintf(stderr, "avmhost: the calibration files were not written (%d)\n", saved);
    return 1;
  }
  return stitched;
}
