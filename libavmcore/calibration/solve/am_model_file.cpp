// The AM model file (magic 0x03080201, 304 bytes, little-endian), written
// and read field by field.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "calibration/solve/am_measure.h"
#include "frame/log.h"

namespace {

class Writer {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void F32(float v) {
    uint32_t u;
    memcpy(&u, &v, 4);
    U32(u);
  }
  void Floats(const float* v, int n) {
    for (int i = 0; i < n; ++i) F32(v[i]);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

class Reader {
 public:
  explicit Reader(const uint8_t* p) : p_(p) {}
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p_[at_++]) << (8 * i);
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  float F32() {
    const uint32_t u = U32();
    float v;
    memcpy(&v, &u, 4);
    return v;
  }
  void Floats(float* v, int n) {
    for (int i = 0; i < n; ++i) v[i] = F32();
  }

 private:
  const uint8_t* p_;
  size_t at_ = 0;
};

bool UsableWindow(const AMModel& m) {
  if (m.width < 1 || m.height < 1 || m.width > kAMModelMaxSide || m.height > kAMModelMaxSide) return false;
  const int32_t* w = m.window;
  return w[0] >= 0 && w[0] < w[2] && w[2] <= m.width && w[1] >= 0 && w[1] < w[3] && w[3] <= m.height;
}

}  // namespace

bool AM_SaveModelFile(const AMModel& m, const char* path) {
  if (path == nullptr) return false;
  Writer w;
  w.U32(kAMModelMagic);
  w.I32(m.width);
  w.I32(m.height);
  w.U32(m.tag);
  w.I32(m.a);
  w.I32(m.b);
  w.Floats(&m.image[0][0], 16);
  w.Floats(&m.world[0][0], 24);
  w.Floats(m.K, 9);
  w.Floats(m.D, 8);
  w.Floats(m.R, 3);
  w.Floats(m.T, 3);
  for (int i = 0; i < 4; ++i) w.I32(m.window[i]);
  w.F32(m.d);
  w.F32(m.s);
  w.F32(m.baseAngle);
  // A reader never sees a half-written model: write beside it, then rename.
  const std::string tmp = std::string(path) + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    AvmLog("AM_SaveModelFile: cannot write %s \n", path);
    return false;
  }
  const std::vector<uint8_t>& bytes = w.bytes();
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (ok) ok = rename(tmp.c_str(), path) == 0;
  if (!ok) {
    remove(tmp.c_str());
    AvmLog("AM_SaveModelFile: cannot write %s \n", path);
  }
  return ok;
}

int32_t AM_LoadModelFile(AMModel* model, const char* path) {
  if (model == nullptr || path == nullptr) return 0;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return 0;
  uint8_t bytes[kAMModelFileSize + 1];
  const size_t n = fread(bytes, 1, sizeof bytes, f);
  fclose(f);
  if (n != static_cast<size_t>(kAMModelFileSize)) return 0;
  Reader r(bytes);
  if (r.U32() != kAMModelMagic) return 0;
  AMModel m;
  m.width = r.I32();
  m.height = r.I32();
  m.tag = r.U32();
  m.a = r.I32();
  m.b = r.I32();
  r.Floats(&m.image[0][0], 16);
  r.Floats(&m.world[0][0], 24);
  r.Floats(m.K, 9);
  r.Floats(m.D, 8);
  r.Floats(m.R, 3);
  r.Floats(m.T, 3);
  for (int i = 0; i < 4; ++i) m.window[i] = r.I32();
  m.d = r.F32();
  m.s = r.F32();
  m.baseAngle = r.F32();
  if (!UsableWindow(m)) return 0;
  *model = m;
  return 1;
}
