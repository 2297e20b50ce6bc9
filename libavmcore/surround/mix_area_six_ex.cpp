#include "surround/mix_area_six_ex.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "camera/lut_config.h"
#include "frame/log.h"
#include "toolkit/matrix_alloc.h"

namespace {

bool HasTables(const MixAreaSixEx* s) { return s->tables[0].data != nullptr || s->tables[0].width > 0; }

void FreeTables(MixAreaSixEx* s) {
  for (ImageI32& t : s->tables) {
    ImageI32_FreeData(&t);
    t = ImageI32{0, 0, nullptr};
  }
}

bool AllocTables(MixAreaSixEx* s, int32_t n) {
  for (ImageI32& t : s->tables) {
    const bool got = ImageI32_NewData(&t, std::max(n, 1), kMixAreaSixExRows);
    t.width = n;
    if (!got) {
      FreeTables(s);
      return false;
    }
  }
  return true;
}

// Keeps n columns of every table: the last n on the left (nearest the car),
// the first n on the right.
void CutTables(MixAreaSixEx* s, int32_t n) {
  for (int k = 0; k < 8; ++k) {
    ImageI32& t = s->tables[k];
    if (t.width <= n) continue;
    const int32_t skip = k < 4 ? t.width - n : 0;
    for (int32_t r = 0; r < t.height; ++r)
      memmove(t.data + static_cast<size_t>(r) * n, t.data + static_cast<size_t>(r) * t.width + skip,
              sizeof(int32_t) * static_cast<size_t>(n));
    t.width = n;
  }
}

bool MapsUsable(const LutConfig* cfg) {
  const Matrix& x = cfg->X1;
  return x.data != nullptr && cfg->Y1.data != nullptr && x.cols > 0 && x.rows > 0 && cfg->Y1.cols == x.cols &&
         cfg->Y1.rows == x.rows;
}

}  // namespace

MixAreaSixEx MixAreaSixEx_Empty() {
  MixAreaSixEx s;
  memset(&s, 0, sizeof s);
  s.quadCoords = 1;
  return s;
}

int32_t MixAreaSixEx_Columns(const LutConfig* cfg) {
  if (cfg == nullptr) return 0;
  return std::max(std::min(cfg->carLeft, 50) - 10, 0);
}

void MixAreaSixEx_AddGroup(MixAreaSixEx* s, int32_t isGroupA, const LutConfig* cfg, int32_t quadWidth,
                           int32_t quadHeight) {
  if (s == nullptr || cfg == nullptr || !MapsUsable(cfg)) return;
  int32_t n = MixAreaSixEx_Columns(cfg);
  if (!HasTables(s)) {
    if (!AllocTables(s, n)) return;
    s->quadWidth = quadWidth;
    s->quadHeight = quadHeight;
  } else if (n < s->tables[0].width) {
    CutTables(s, n);
  }
  n = s->tables[0].width;
  const int32_t W = cfg->X1.cols, H = cfg->X1.rows;
  const int32_t L = cfg->carLeft, R = cfg->carRight;
  const int32_t mid = (cfg->carTop + cfg->carBottom) / 2;
  const int base = isGroupA ? 0 : 2;
  auto at = [&](const Matrix& m, int32_t r, int32_t c) -> int32_t {
    if (r < 0 || r >= H || c < 0 || c >= W) return 0;
    const float v = m.data[static_cast<size_t>(r) * W + c];
    return v > 0.0f ? static_cast<int32_t>(v) : 0;
  };
  for (int32_t i = 0; i < kMixAreaSixExRows; ++i) {
    const int32_t r = mid - 12 + i;
    for (int32_t j = 0; j < n; ++j) {
      const size_t o = static_cast<size_t>(i) * n + j;
      const int32_t cl = L - n - 5 + j, cr = R + 5 + j;
      s->tables[base].data[o] = at(cfg->X1, r, cl);
      s->tables[base + 1].data[o] = at(cfg->Y1, r, cl);
      s->tables[base + 4].data[o] = at(cfg->X1, r, cr);
      s->tables[base + 5].data[o] = at(cfg->Y1, r, cr);
    }
  }
  if (!isGroupA) {
    ImageI32_SubtractAll(&s->tables[3], quadHeight / 2);
    ImageI32_SubtractAll(&s->tables[7], quadHeight / 2);
  }
}

void MixAreaSixEx_Build(MixAreaSixEx* s, const LutConfig* cfgA, const LutConfig* cfgB, int32_t quadWidth,
                        int32_t quadHeight) {
  if (s == nullptr || s->valid != 0 || !MapsUsable(cfgA) || !MapsUsable(cfgB)) return;
  FreeTables(s);
  // Sized by both groups from the start.
  const int32_t n = std::min(MixAreaSixEx_Columns(cfgA), MixAreaSixEx_Columns(cfgB));
  if (!AllocTables(s, n)) return;
  s->quadWidth = quadWidth;
  s->quadHeight = quadHeight;
  MixAreaSixEx_AddGroup(s, 1, cfgA, quadWidth, quadHeight);
  MixAreaSixEx_AddGroup(s, 0, cfgB, quadWidth, quadHeight);
  s->valid = 1;
  s->quadCoords = 1;
}

int MixAreaSixEx_Save(const MixAreaSixEx* s, const char* path) {
  if (s == nullptr || s->valid == 0 || path == nullptr) return 0;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return 0;
  const int32_t n = s->tables[0].width;
  const int32_t head[5] = {static_cast<int32_t>(kMixAreaSixExMagic), s->quadWidth, s->quadHeight, n,
                           kMixAreaSixExRows};
  bool ok = fwrite(head, sizeof head, 1, f) == 1;
  const size_t cells = static_cast<size_t>(n) * kMixAreaSixExRows;
  for (int k = 0; k < 8 && ok; ++k) ok = cells == 0 || fwrite(s->tables[k].data, 4, cells, f) == cells;
  if (fflush(f) != 0) ok = false;
  if (fsync(fileno(f)) != 0) ok = false;
  if (fclose(f) != 0) ok = false;
  return ok ? 1 : 0;
}

void MixAreaSixEx_Load(MixAreaSixEx* s, const char* path) {
  if (s == nullptr || path == nullptr || s->valid != 0) return;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return;
  int32_t head[5];
  MixAreaSixEx in = MixAreaSixEx_Empty();
  bool ok = fread(head, sizeof head, 1, f) == 1 && static_cast<uint32_t>(head[0]) == kMixAreaSixExMagic &&
            head[1] > 0 && head[2] > 0 && head[3] >= 0 && head[3] <= kMixAreaSixExMaxColumns &&
            head[4] == kMixAreaSixExRows;
  ok = ok && AllocTables(&in, head[3]);
  const size_t cells = ok ? static_cast<size_t>(head[3]) * kMixAreaSixExRows : 0;
  for (int k = 0; k < 8 && ok; ++k) ok = cells == 0 || fread(in.tables[k].data, 4, cells, f) == cells;
  fclose(f);
  if (!ok) {
    FreeTables(&in);
    return;
  }
  in.quadWidth = head[1];
  in.quadHeight = head[2];
  in.valid = 1;
  in.quadCoords = 1;
  *s = in;
}

void MixAreaSixEx_Free(MixAreaSixEx* s) {
  if (s == nullptr) return;
  FreeTables(s);
  s->valid = 0;
  s->quadCoords = 1;
}

void MixAreaSixEx_ToCameraCoords(MixAreaSixEx* s) {
  if (s == nullptr || s->valid == 0 || s->quadCoords == 0) return;
  const int32_t hw = s->quadWidth / 2, hh = s->quadHeight / 2;
  for (int k = 0; k < 8; ++k) {
    ImageI32& t = s->tables[k];
    const int32_t half = (k & 1) == 0 ? hw : hh;
    const size_t n = static_cast<size_t>(t.width) * t.height;
    for (size_t i = 0; i < n; ++i)
      if (t.data[i] >= half) t.data[i] -= half;
  }
  s->quadCoords = 0;
}

void ImageI32_Clone(const ImageI32* source, ImageI32* target) {
  if (source == nullptr || target == nullptr || source->width < 1 || source->height <= 0 || source->data == nullptr)
    return;
  ImageI32 copy{};
  if (!ImageI32_NewData(&copy, source->width, source->height)) {
    AvmLog("ImageI32_Clone: no memory for %d x %d\n", source->width, source->height);
    return;
  }
  memcpy(copy.data, source->data, static_cast<size_t>(source->width) * source->height * sizeof(int32_t));
  *target = copy;
}

void ImageI32_SubtractAll(ImageI32* image, int32_t value) {
  if (image == nullptr || image->data == nullptr) return;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  for (size_t i = 0; i < n; ++i) image->data[i] -= value;
}
