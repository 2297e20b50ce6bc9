// MAB and MAB6 run-table files.
#include "surround/mab_file.h"
#include "frame/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Largest output side a run-table file may claim.
constexpr int32_t kMaxOutputSide = 16384;

struct RunBuilder {
  std::vector<CPUStitchRun>* camRun = nullptr;    // table of the open camera run
  int32_t camOpen = 0;                            // camera 1..4 of the open run, 0 none
  std::vector<CPUStitchRun>* blendRun = nullptr;  // table of the open blend run

  void CloseCamera() {
    camRun = nullptr;
    camOpen = 0;
  }
  void CloseBlend() { blendRun = nullptr; }
};

bool InsideBox(const StitchMaps& m, int32_t cam, int32_t r, int32_t c, int32_t W, int32_t H) {
  switch (cam) {
    case 1: return r < m.bandSizes[0];
    case 2: return r >= H - m.bandSizes[1];
    case 3: return c < m.bandSizes[2];
    case 4: return c >= W - m.bandSizes[3];
    default: return false;
  }
}

int32_t SeamOf(int32_t a, int32_t b) {
  if (a > b) {
    int32_t t = a;
    a = b;
    b = t;
  }
  if (a == 1 && b == 3) return 0;
  if (a == 1 && b == 4) return 1;
  if (a == 2 && b == 3) return 2;
  return 3;
}

bool SameShape(const Matrix* a, const Matrix* b) {
  return a != nullptr && b != nullptr && a->data != nullptr && b->data != nullptr && a->cols == b->cols &&
         a->rows == b->rows;
}

bool MapsUsable(const StitchMaps& m) {
  const Matrix* x = m.X1;
  return x != nullptr && x->cols > 0 && x->rows > 0 && x->cols <= kMaxOutputSide && x->rows <= kMaxOutputSide &&
         SameShape(x, m.Y1) && SameShape(x, m.X2) && SameShape(x, m.Y2) && SameShape(x, m.W1) &&
         SameShape(x, m.W2);
}

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  out->insert(out->end(), b, b + 4);
}

void PutRuns(std::vector<uint8_t>* out, const std::vector<CPUStitchRun>& runs) {
  for (const CPUStitchRun& r : runs) {
    PutU32(out, static_cast<uint32_t>(r.row));
    PutU32(out, static_cast<uint32_t>(r.col));
    PutU32(out, static_cast<uint32_t>(r.length));
  }
}

int WriteOrReport(const char* tag, const char* path, const std::vector<uint8_t>& bytes) {
  int w = WriteFileSynced(path, bytes.data(), bytes.size());
  if (w == 1) return 0;
  if (w == 0)
    AvmLog("%s open %s failed \n", tag, path);
  else
    AvmLog("%s write %s failed \n", tag, path);
  return 1;
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  out->clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out->insert(out->end(), buf, buf + n);
  bool ok = ferror(f) == 0;
  fclose(f);
  return ok;
}

// Parses the tables and map of a run-table file whose magic matched.
bool ParseTables(const std::vector<uint8_t>& bytes, int tableCount, const char* path, int32_t* W, int32_t* H,
                 std::vector<CPUStitchRun>* const* tables, std::vector<uint8_t>* map) {
  const size_t header = 12 + 4 * static_cast<size_t>(tableCount);
  if (bytes.size() < header) {
    AvmLog("run-table file %s is truncated\n", path);
    return false;
  }
  int32_t w = static_cast<int32_t>(GetU32(&bytes[4])), h = static_cast<int32_t>(GetU32(&bytes[8]));
  if (w < 1 || h < 1 || w > kMaxOutputSide || h > kMaxOutputSide) {
    AvmLog("run-table file %s has an impossible size %d x %d\n", path, w, h);
    return false;
  }
  size_t pos = header;
  uint64_t total = 0;
  std::vector<uint32_t> counts(tableCount);
  for (int t = 0; t < tableCount; ++t) {
    counts[t] = GetU32(&bytes[12 + 4 * t]);
    total += counts[t];
  }
  const size_t mapBytes = MAB_WeightMapBytes(w, h);
  if (total > (bytes.size() - header) / 12 || bytes.size() - header - total * 12 < mapBytes) {
    AvmLog("run-table file %s is shorter than its counts say\n", path);
    return false;
  }
  for (int t = 0; t < tableCount; ++t) {
    std::vector<CPUStitchRun>& list = *tables[t];
    list.resize(counts[t]);
    for (uint32_t i = 0; i < counts[t]; ++i, pos += 12) {
      CPUStitchRun run{static_cast<int32_t>(GetU32(&bytes[pos])), static_cast<int32_t>(GetU32(&bytes[pos + 4])),
                       static_cast<int32_t>(GetU32(&bytes[pos + 8]))};
      // Every run must lie inside one output row (an empty run, as a
      // middle band of zero width gives, covers nothing).
      if (run.row < 0 || run.row >= h || run.col < 0 || run.length < 0 || run.col > w ||
          run.length > w - run.col) {
        AvmLog("run-table file %s: run (%d, %d, %d) lies outside the %d x %d output\n", path, run.row, run.col,
               run.length, w, h);
        return false;
      }
      list[i] = run;
    }
  }
  map->assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
              bytes.begin() + static_cast<std::ptrdiff_t>(pos + mapBytes));
  *W = w;
  *H = h;
  return true;
}

}  // namespace

int WriteFileSynced(const char* path, const void* data, size_t size) {
  if (path == nullptr) return 0;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return 0;
  bool ok = size == 0 || fwrite(data, 1, size, f) == size;
  if (fflush(f) != 0) ok = false;
  if (fsync(fileno(f)) != 0) ok = false;
  if (fclose(f) != 0) ok = false;
  return ok ? 1 : -1;
}

size_t MAB_WeightMapBytes(int32_t W, int32_t H) {
  return static_cast<size_t>(3) * static_cast<size_t>(W) * static_cast<size_t>(H) / 2;
}

size_t MAB_WeightMapRowStart(int32_t W, int32_t r) {
  return static_cast<size_t>(3) * static_cast<size_t>(W) * static_cast<size_t>(r) / 2;
}

int32_t MAB_WeightCode(float weight) {
  int32_t k = static_cast<int32_t>(weight * 31.0f + 0.5f);
  return k < 0 ? 0 : (k > 31 ? 31 : k);
}

int32_t MAB_W2Code(float w2) {
  // W2 is -1 where no seam ramp reaches; such pixels store code 0.
  int32_t a = static_cast<int32_t>(w2 * 127.0f + 0.5f);
  return a < 0 ? 0 : (a > 127 ? 127 : a);
}

void MAB_PackPixel(uint8_t* map, int32_t W, int32_t r, int32_t c, int32_t k, int32_t a, int32_t* pendingK,
                   int32_t* pendingA) {
  if ((c & 1) == 0) {
    *pendingK = k;
    *pendingA = a;
    return;
  }
  uint8_t* p = map + MAB_WeightMapRowStart(W, r) + static_cast<size_t>(c - 1) / 2 * 3;
  const int32_t ke = *pendingK, ae = *pendingA;
  p[0] = static_cast<uint8_t>(((ke >> 4) & 1) | (ae << 1));
  p[1] = static_cast<uint8_t>(((k >> 4) & 1) | (a << 1));
  p[2] = static_cast<uint8_t>((k & 15) | ((ke & 15) << 4));
}

int32_t MAB_CameraOf(float x, float y, int32_t camW, int32_t camH) {
  const bool right = x > static_cast<float>(camW);
  const bool bottom = y > static_cast<float>(camH);
  return 1 + (right ? 1 : 0) + (bottom ? 2 : 0);
}

int BuildMABTables(const StitchMaps& m, MABTables* tables, uint8_t* map, int32_t firstRow, int32_t endRow) {
  if (tables == nullptr || map == nullptr || !MapsUsable(m)) return -1;
  const int32_t W = m.X1->cols, H = m.X1->rows;
  for (auto& t : tables->camera) t.clear();
  for (auto& t : tables->seam) t.clear();
  memset(map, 0, MAB_WeightMapBytes(W, H));
  if (firstRow < 0) firstRow = 0;
  if (endRow > H) endRow = H;
  for (int32_t r = firstRow; r < endRow; ++r) {
    RunBuilder rb;
    int32_t pendK = 0, pendA = 0;
    for (int32_t c = 0; c < W; ++c) {
      const size_t i = static_cast<size_t>(r) * W + c;
      const int32_t q1 = MAB_CameraOf(m.X1->data[i], m.Y1->data[i], m.camW, m.camH);
      const int32_t q2 = MAB_CameraOf(m.X2->data[i], m.Y2->data[i], m.camW, m.camH);
      const bool in1 = InsideBox(m, q1, r, c, W, H), in2 = InsideBox(m, q2, r, c, W, H);
      const float w = m.W1->data[i];
      const float blendWeight = (q1 == 1 || q1 == 2) ? w : 1.0f - w;
      int32_t camera = 0, seam = -1;
      float weight;
      if (w >= 0.9999f) {
        weight = w;
        if (in1) camera = q1;
      } else if (in1 && !in2) {
        camera = q1;
        weight = 1.0f;
      } else if (in2 && !in1) {
        camera = q2;
        weight = 1.0f;
      } else {
        weight = blendWeight;
        if (in1 && in2) seam = SeamOf(q1, q2);
      }
      if (camera != 0) {
        if (rb.camOpen == camera) {
          rb.camRun->back().length++;
        } else {
          if (rb.camOpen == 0) rb.CloseBlend();
          rb.camRun = &tables->camera[camera - 1];
          rb.camRun->push_back(CPUStitchRun{r, c, 1});
          rb.camOpen = camera;
        }
      } else if (seam >= 0) {
        if (rb.blendRun != nullptr) {
          rb.blendRun->back().length++;
        } else {
          rb.CloseCamera();
          rb.blendRun = &tables->seam[seam];
          rb.blendRun->push_back(CPUStitchRun{r, c, 1});
        }
      } else {
        rb.CloseBlend();
        rb.CloseCamera();
      }
      MAB_PackPixel(map, W, r, c, MAB_WeightCode(weight), MAB_W2Code(m.W2->data[i]), &pendK, &pendA);
    }
  }
  return 0;
}

int GenerateMABFileFromMaps(const StitchMaps& maps, const char* path) {
  if (!MapsUsable(maps)) {
    AvmLog("GenerateMABFile: no usable maps\n");
    return -1;
  }
  const int32_t W = maps.X1->cols, H = maps.X1->rows;
  MABTables tables;
  std::vector<uint8_t> map(MAB_WeightMapBytes(W, H));
  BuildMABTables(maps, &tables, map.data(), 0, H);
  std::vector<uint8_t> bytes;
  PutU32(&bytes, kMABMagic);
  PutU32(&bytes, static_cast<uint32_t>(W));
  PutU32(&bytes, static_cast<uint32_t>(H));
  for (auto& t : tables.camera) PutU32(&bytes, static_cast<uint32_t>(t.size()));
  for (auto& t : tables.seam) PutU32(&bytes, static_cast<uint32_t>(t.size()));
  for (auto& t : tables.camera) PutRuns(&bytes, t);
  for (auto& t : tables.seam) PutRuns(&bytes, t);
  bytes.insert(bytes.end(), map.begin(), map.end());
  return WriteOrReport("GenerateMABFile", path, bytes);
}

int GenerateMAB6FileFromMaps(const StitchMaps& a, const StitchMaps& b, const char* path) {
  if (!MapsUsable(a) || !MapsUsable(b) || a.X1->cols != b.X1->cols || a.X1->rows != b.X1->rows) {
    AvmLog("GenerateMAB6File: the two groups' maps are missing or differ in size\n");
    return -1;
  }
  const int32_t W = a.X1->cols, H = a.X1->rows;
  const int32_t mid = H / 2;
  if (mid - 10 < 0 || mid + 10 > H) {
    AvmLog("GenerateMAB6File: output of %d rows has no room for the middle band\n", H);
    return -1;
  }
  const size_t mapBytes = MAB_WeightMapBytes(W, H);
  MABTables ta, tb;
  std::vector<uint8_t> mapA(mapBytes), map(mapBytes);
  BuildMABTables(a, &ta, mapA.data(), 0, mid - 10);
  BuildMABTables(b, &tb, map.data(), mid + 10, H);
  // Runs the file has no table for: camera 2 and seams 2, 3 in the front
  // part; camera 1 and seams 0, 1 in the rear part.
  const size_t dropped = ta.camera[1].size() + ta.seam[2].size() + ta.seam[3].size() + tb.camera[0].size() +
                         tb.seam[0].size() + tb.seam[1].size();
  if (dropped > 0) AvmLog("GenerateMAB6File: %zu runs outside their group's cameras dropped\n", dropped);
  memcpy(map.data(), mapA.data(), MAB_WeightMapRowStart(W, mid - 10));

  std::vector<CPUStitchRun> midLeft, midRight;
  for (int32_t k = 0; k < 20; ++k) {
    const int32_t r = mid - 10 + k;
    const int32_t code = MAB_WeightCode(1.0f - static_cast<float>(k) / 20.0f);
    int32_t pendK = 0, pendA = 0;
    for (int32_t c = 0; c < W; ++c)
      MAB_PackPixel(map.data(), W, r, c, code, MAB_W2Code(a.W2->data[static_cast<size_t>(r) * W + c]), &pendK,
                    &pendA);
    midLeft.push_back(CPUStitchRun{r, 0, a.bandSizes[2]});
    midRight.push_back(CPUStitchRun{r, W - a.bandSizes[3], a.bandSizes[3]});
  }
  const std::vector<CPUStitchRun>* order[12] = {&ta.camera[0], &tb.camera[1], &ta.camera[2], &ta.camera[3],
                                                &tb.camera[2], &tb.camera[3], &ta.seam[0],   &ta.seam[1],
                                                &tb.seam[2],   &tb.seam[3],   &midLeft,      &midRight};
  std::vector<uint8_t> bytes;
  PutU32(&bytes, kMAB6Magic);
  PutU32(&bytes, static_cast<uint32_t>(W));
  PutU32(&bytes, static_cast<uint32_t>(H));
  for (auto* t : order) PutU32(&bytes, static_cast<uint32_t>(t->size()));
  for (auto* t : order) PutRuns(&bytes, *t);
  bytes.insert(bytes.end(), map.begin(), map.end());
  return WriteOrReport("GenerateMAB6File", path, bytes);
}

int MABFile_Read(const char* path, MABFileData* out) {
  if (path == nullptr || out == nullptr) return 0;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.size() < 4 || GetU32(bytes.data()) != kMABMagic) return 0;
  MABFileData d;
  std::vector<CPUStitchRun>* tables[8];
  for (int t = 0; t < 4; ++t) {
    tables[t] = &d.tables.camera[t];
    tables[4 + t] = &d.tables.seam[t];
  }
  if (!ParseTables(bytes, 8, path, &d.width, &d.height, tables, &d.weightMap)) return 0;
  *out = std::move(d);
  return 1;
}

int MAB6File_Read(const char* path, MAB6FileData* out) {
  if (path == nullptr || out == nullptr) return 0;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.size() < 4 || GetU32(bytes.data()) != kMAB6Magic) return 0;
  MAB6FileData d;
  std::vector<CPUStitchRun>* tables[12];
  for (int t = 0; t < 12; ++t) tables[t] = &d.tables[t];
  if (!ParseTables(bytes, 12, path, &d.width, &d.height, tables, &d.weightMap)) return 0;
  *out = std::move(d);
  return 1;
}
