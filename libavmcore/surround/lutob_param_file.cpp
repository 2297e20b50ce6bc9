#include "surround/lutob_param_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera/euler_rotation.h"
#include "camera/rotation.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/numeric_constants.h"
#include "surround/lutob.h"
#include "toolkit/transform3d.h"

namespace {

// Largest camera record file read (a record is a few hundred bytes).
constexpr long kMaxRecordFileBytes = 65536;

struct SetupACamera {
  float K0, K2, K3, K4, K5, D[4], a, b, c, Tx, Ty, Tz;
};

const SetupACamera kSetupA[4] = {
    {631.392517f, 639.852539f, 1.23324299f, 632.013428f, 359.124329f,
     {0.456687987f, -0.369935006f, -0.00101100001f, 0.0019700001f},
     -0.029214561f, -2.09190083f, -1.54298007f, 11.0f, 3733.0f, 718.0f},
    {625.399597f, 641.509705f, 1.22291005f, 625.717712f, 361.615662f,
     {0.45116201f, -0.358144999f, -0.000433999987f, 0.00246799993f},
     -0.0113969613f, -2.05043626f, 1.5858705f, 20.0f, -822.0f, 728.0f},
    {630.796936f, 641.301331f, 1.23136199f, 631.608276f, 482.436096f,
     {0.457408011f, -0.369078994f, 0.001208f, 0.00261300011f},
     0.0206123088f, -2.4952836f, 0.025623478f, 1102.0f, 2117.0f, 1067.0f},
    {631.033569f, 636.092224f, 1.23684502f, 631.618469f, 477.910004f,
     {0.461023986f, -0.372480005f, -0.001269f, -0.000597000006f},
     -0.0323320888f, -2.52475929f, 3.11027026f, -1027.0f, 2058.0f, 1086.0f},
};

// The common part of both set-ups after LutConfig_Init: seam angles, zeroed
// poses over the parameter set, zeroed point arrays, corner counts 1.
void PrepareObject(LUTOB* lut, int32_t camW, int32_t camH) {
  const GlobalVariables& g = gv();
  for (int k = 0; k < 4; ++k) lut->seamAngles[k] = g.config.seamAngle[k];
  memset(&lut->params, 0, sizeof lut->params);
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  lut->camW = camW;
  lut->camH = camH;
  const int32_t m = g.maxPoints > 0 ? g.maxPoints : 1;
  for (int c = 0; c < 4; ++c) {
    delete[] lut->imagePoints[c];
    delete[] lut->worldPoints[c];
    lut->imagePoints[c] = new float[static_cast<size_t>(2 * m)]();
    lut->worldPoints[c] = new float[static_cast<size_t>(3 * m)]();
    lut->cornerCounts[c] = 1;
  }
}

// Dx, Dy: the shift of the parameter set's origin to the car box centre.
void Shift(const LUTOB* lut, float* dx, float* dy) {
  const GlobalVariables& g = gv();
  *dx = static_cast<float>(g.f20_23[2] - g.f20_23[3]);
  *dy = static_cast<float>(lut->cfg.carLength) * 0.5f - static_cast<float>(g.f20_23[1]) -
        static_cast<float>(lut->cfg.frontOverhang);
}

// Value of a numeric JSON key, or of the array behind it.
const char* FindKey(const std::string& text, const char* key) {
  const std::string quoted = std::string("\"") + key + "\"";
  const size_t at = text.find(quoted);
  if (at == std::string::npos) return nullptr;
  const size_t colon = text.find(':', at + quoted.size());
  return colon == std::string::npos ? nullptr : text.c_str() + colon + 1;
}

bool ReadNumber(const char** p, double* v) {
  char* end = nullptr;
  *v = strtod(*p, &end);
  if (end == *p || !std::isfinite(*v)) return false;
  *p = end;
  return true;
}

void SkipSpace(const char** p) {
  while (**p == ' ' || **p == '\t' || **p == '\n' || **p == '\r') ++*p;
}

}  // namespace

void CamPose_AnglesToRotVec(float s0, float s1, float s2, float s3, float out[3]) {
  float a[9], b[9], c[9], d[9], ab[9], abc[9], m[9];
  Mat3_RotateZ(a, s0);
  Mat3_RotateY(b, -s2);
  Mat3_RotateX(c, kHalfPi - s1);
  Mat3_RotateZ(d, s3);
  auto mul = [](const float* x, const float* y, float* z) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) z[3 * i + j] = x[3 * i] * y[j] + x[3 * i + 1] * y[3 + j] + x[3 * i + 2] * y[6 + j];
  };
  mul(a, b, ab);
  mul(ab, c, abc);
  mul(abc, d, m);
  float r[3] = {0, 0, 0};
  Matrix M{3, 3, m}, R{1, 3, r};
  RotationToAxisAngle(&M, &R, 0);
  for (int i = 0; i < 3; ++i) out[i] = -r[i];
}

void ParamFile_ReadCarSizes(const char* path, int32_t sizes[4]) {
  sizes[0] = 1950;
  sizes[1] = 5240;
  sizes[2] = 3040;
  sizes[3] = 1180;
  FILE* f = path != nullptr ? fopen(path, "rt") : nullptr;
  if (f == nullptr) return;
  char buf[65] = {0};
  const size_t n = fread(buf, 1, 64, f);
  fclose(f);
  buf[n] = '\0';
  int v[4];
  const int got = sscanf(buf, "%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3]);
  for (int k = 0; k < got && k < 4; ++k) sizes[k] = v[k];
}

int ParamFile_ReadCameraRecord(const char* path, float record[kParamRecordFloats], int32_t* width,
                               int32_t* height) {
  FILE* f = path != nullptr ? fopen(path, "rb") : nullptr;
  if (f == nullptr) return 0;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0 && static_cast<long>(text.size()) <= kMaxRecordFileBytes)
    text.append(buf, n);
  fclose(f);
  if (static_cast<long>(text.size()) > kMaxRecordFileBytes) return 0;
  double w = 0, h = 0;
  const char* pw = FindKey(text, "width");
  const char* ph = FindKey(text, "height");
  const char* pp = FindKey(text, "params");
  if (pw == nullptr || ph == nullptr || pp == nullptr || !ReadNumber(&pw, &w) || !ReadNumber(&ph, &h)) return 0;
  if (w < 2 || h < 2 || w > 8192 || h > 8192 || w != std::floor(w) || h != std::floor(h)) return 0;
  SkipSpace(&pp);
  if (*pp != '[') return 0;
  ++pp;
  float values[kParamRecordFloats];
  for (int k = 0; k < kParamRecordFloats; ++k) {
    SkipSpace(&pp);
    if (k > 0) {
      if (*pp != ',') return 0;
      ++pp;
    }
    double v;
    if (!ReadNumber(&pp, &v)) return 0;
    values[k] = static_cast<float>(v);
  }
  SkipSpace(&pp);
  if (*pp != ']') return 0;
  memcpy(record, values, sizeof values);
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return 1;
}

int32_t InitLUTOB_ParamFileA(LUTOB* lut) {
  if (lut == nullptr) return 1;
  LutConfig_Init(&lut->cfg, 1864, 4950, 0, 1053, 2850, 5, 1, 0, 0);
  PrepareObject(lut, 1280, 720);
  float dx, dy;
  Shift(lut, &dx, &dy);
  for (int c = 0; c < 4; ++c) {
    const SetupACamera& s = kSetupA[c];
    float* K = lut->params.K[c];
    K[0] = s.K0;
    K[2] = s.K2;
    K[3] = s.K3;
    K[4] = s.K4;
    K[5] = s.K5;
    for (int i = 0; i < 4; ++i) lut->params.D[c][i] = s.D[i];
    CamPose_EulerToRotVec(nullptr, lut->params.R[c], s.a, s.b, s.c);
    lut->params.T[c][0] = s.Tx - dx;
    lut->params.T[c][1] = s.Ty - dy;
    lut->params.T[c][2] = s.Tz;
  }
  return 0;
}

int32_t InitLUTOB_ParamFileCC(LUTOB* lut) {
  if (lut == nullptr) return 1;
  const std::string dir = DataDirectory();
  float records[4][kParamRecordFloats];
  int32_t camW = 0, camH = 0;
  for (int c = 0; c < 4; ++c) {
    const std::string name = dir + "/cc_config/" + std::to_string(c) + ".json";
    int32_t w = 0, h = 0;
    if (!ParamFile_ReadCameraRecord(name.c_str(), records[c], &w, &h) || (c > 0 && (w != camW || h != camH))) {
      AvmLog("InitLUTOB_ParamFileCC: camera record %s missing or malformed\n", name.c_str());
      return 2;
    }
    camW = w;
    camH = h;
  }
  int32_t sizes[4];
  ParamFile_ReadCarSizes((dir + "/cc_config/param.txt").c_str(), sizes);
  LutConfig_Init(&lut->cfg, sizes[0], sizes[1], 0, sizes[3], sizes[2], 6, 1, 0, 0);
  PrepareObject(lut, camW, camH);
  float dx, dy;
  Shift(lut, &dx, &dy);
  for (int c = 0; c < 4; ++c) {
    const float* r = records[c];
    float* K = lut->params.K[c];
    K[0] = r[3];
    K[2] = r[1];
    K[4] = r[4];
    K[5] = r[2];
    for (int i = 0; i < 4; ++i) lut->params.D[c][i] = r[5 + i];
    lut->params.T[c][0] = r[10] * -1000.0f - dx;
    lut->params.T[c][1] = r[9] * 1000.0f - dy;
    lut->params.T[c][2] = r[0] * 1000.0f;
    CamPose_AnglesToRotVec(r[17], r[12], r[13], r[14], lut->params.R[c]);
  }
  return 0;
}
