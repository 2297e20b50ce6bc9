#include "tools/avmsample/fuzz_seeds.h"

#include <new>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cerrno>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "calibration/solve/am_measure.h"
#include "calibration/solve/corner_tracker.h"
#include "camera/grid_lut_file.h"
#include "camera/lut_config_file.h"
#include "frame/base_file.h"
#include "frame/lens_table.h"
#include "fuzz/fuzz_input.h"
#include "pipeline/adas_config.h"
#include "pipeline/fast_boot_image.h"
#include "surround/krv_image.h"
#include "surround/mab_file.h"
#include "surround/mix_area_info.h"
#include "surround/mix_area_six_ex.h"
#include "toolkit/bmp_file.h"
#include "toolkit/matrix_alloc.h"
#include "testsupport/rot_template_model.h"

namespace {

// The small set-up every stitching seed describes: 32 x 24 cameras in a
// 64 x 48 quad frame, a 20 x 28 output with bands of 6, 6, 5 and 5.
constexpr int kCw = 32, kCh = 24, kQw = 2 * kCw, kQh = 2 * kCh;
constexpr int kW = 20, kH = 28;
constexpr int kTop = 6, kBottom = 6, kLeft = 5, kRight = 5;

std::string Scratch(const std::string& dir) { return dir + "/.scratch"; }

bool MakeDir(const std::string& d) { return mkdir(d.c_str(), 0755) == 0 || errno == EEXIST; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Put(const std::string& dir, const std::string& target, const std::string& name, const std::string& bytes) {
  const std::string d = dir + "/" + target;
  if (!MakeDir(d)) return false;
  std::ofstream out(d + "/" + name, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// Runs a writer into a scratch file and returns what it wrote ("" when it
// failed).
template <typename Writer>
std::string Written(const std::string& dir, Writer write) {
  const std::string path = Scratch(dir) + "/file";
  remove(path.c_str());
  if (!write(path.c_str())) return "";
  return ReadAll(path);
}

struct Maps {
  std::vector<float> x1, y1, x2, y2, w1, w2;
  Matrix m[6];
  Maps() {
    const size_t n = static_cast<size_t>(kW) * kH;
    x1.assign(n, 0);
    y1.assign(n, 0);
    x2.assign(n, 0);
    y2.assign(n, 0);
    w1.assign(n, 1.0f);
    w2.assign(n, 0.0f);
    for (int r = 0; r < kH; ++r)
      for (int c = 0; c < kW; ++c) {
        const size_t i = static_cast<size_t>(r) * kW + c;
        w2[i] = static_cast<float>(c) / (kW - 1);
        const bool top = r < kTop, bottom = r >= kH - kBottom, left = c < kLeft, right = c >= kW - kRight;
        const float ex = (bottom ? kCw : 0) + 3.0f + c, ey = 3.0f + (bottom ? r - (kH - kBottom) : r);
        const float sx = (right ? kCw : 0) + 2.0f + 0.5f * r, sy = kCh + 3.0f + (right ? c - (kW - kRight) : c);
        if ((top || bottom) && (left || right)) {
          x1[i] = ex, y1[i] = ey, x2[i] = sx, y2[i] = sy;
          w1[i] = static_cast<float>((r + c) % 31) / 31.0f;
        } else if (top || bottom) {
          x1[i] = ex, y1[i] = ey;
        } else if (left || right) {
          x1[i] = sx, y1[i] = sy;
        }
      }
    float* d[6] = {x1.data(), y1.data(), x2.data(), y2.data(), w1.data(), w2.data()};
    for (int k = 0; k < 6; ++k) m[k] = Matrix{kW, kH, d[k]};
  }
  StitchMaps Stitch() const {
    StitchMaps s{};
    s.camW = kCw;
    s.camH = kCh;
    s.bandSizes[0] = kTop;
    s.bandSizes[1] = kBottom;
    s.bandSizes[2] = kLeft;
    s.bandSizes[3] = kRight;
    s.X1 = &m[0];
    s.Y1 = &m[1];
    s.X2 = &m[2];
    s.Y2 = &m[3];
    s.W1 = &m[4];
    s.W2 = &m[5];
    return s;
  }
};

std::string LutConfigBytes(const std::string& dir, int quadW, int quadH) {
  std::vector<float> image[4], world[4];
  LutConfigFileData d{};
  d.carWidth = 1864;
  d.carLength = 4950;
  d.model = 2;
  d.viewRange = 2000;
  d.extraValue = 50;
  for (int c = 0; c < 4; ++c) {
    d.lensSlot[c] = 0;
    d.cornerCount[c] = 8;
    image[c].resize(2 * 59);
    world[c].resize(3 * 59);
    for (int i = 0; i < 59; ++i) {
      image[c][2 * i] = 100.0f + 20.0f * (i % 8);
      image[c][2 * i + 1] = 200.0f + 15.0f * (i / 8);
      world[c][3 * i] = 500.0f * (i % 8) - 2000.0f;
      world[c][3 * i + 1] = 3000.0f + 400.0f * (i / 8);
    }
    d.image[c] = image[c].data();
    d.world[c] = world[c].data();
    for (int k = 0; k < 9; ++k) d.params.K[c][k] = k == 0 || k == 4 ? 300.0f : k == 8 ? 1.0f : 0.0f;
    d.params.K[c][2] = quadW / 4.0f;
    d.params.K[c][5] = quadH / 4.0f;
    d.params.D[c][0] = 50.0f;
    d.params.R[c][0] = 1.2f;
    d.params.T[c][2] = 1000.0f;
  }
  d.quadWidth = quadW;
  d.quadHeight = quadH;
  d.frontOverhang = 900;
  d.wheelBase = 2850;
  for (int c = 0; c < 4; ++c) d.seamAngles[c] = 45.0f;
  d.frontBlendWidth = 30;
  d.rearBlendWidth = 45;
  d.bandSizes[0] = kTop;
  d.bandSizes[1] = kBottom;
  d.bandSizes[2] = kLeft;
  d.bandSizes[3] = kRight;
  return Written(dir, [&](const char* p) { return LutConfigFile_Write(p, d, 43, 59); });
}

std::string KrvImageBytes(const std::string& dir, const Maps& maps) {
  std::vector<uint8_t> planes[4];
  ImageU8 img[4];
  for (int k = 0; k < 4; ++k) {
    planes[k].assign(static_cast<size_t>(kW) * 2 * kH, 0);
    img[k] = ImageU8{kW, 2 * kH, planes[k].data()};
  }
  LUT_PackBytePlanes(&img[0], &img[1], &img[2], &img[3], &maps.m[0], &maps.m[1], &maps.m[2], &maps.m[3],
                     &maps.m[4], &maps.m[5], kQw, kQh);
  const int32_t pair1[2] = {kTop, kLeft}, pair2[2] = {kH - kBottom, kW - kRight};
  return Written(dir, [&](const char* p) {
    return KRVImage_Save(&img[0], &img[1], &img[2], &img[3], pair1, pair2, p) == 1;
  });
}

// Grid LUT of one camera strip (rows x cols) with camera-local sources.
std::string GridBytes(const std::string& dir, int rows, int cols, int32_t shift, float dx) {
  std::vector<float> X(static_cast<size_t>(rows) * cols), Y(X.size());
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      X[static_cast<size_t>(r) * cols + c] = dx + 1.1f * c;
      Y[static_cast<size_t>(r) * cols + c] = 2.0f + 0.7f * r;
    }
  Matrix mx{cols, rows, X.data()}, my{cols, rows, Y.data()};
  return Written(dir, [&](const char* p) { return GridLUT_WriteFile(&mx, &my, shift, p) == 1; });
}

std::string MabBytes(const std::string& dir, const Maps& maps, bool six) {
  return Written(dir, [&](const char* p) {
    return six ? GenerateMAB6FileFromMaps(maps.Stitch(), maps.Stitch(), p) == 0
               : GenerateMABFileFromMaps(maps.Stitch(), p) == 0;
  });
}

std::string BaseText(const std::vector<int32_t>& v) {
  char text[512];
  const int n = BaseFile_Format(text, sizeof text, v.data());
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : "";
}

std::string LensTableBytes(const std::string& dir, int nAngle, int nHeight) {
  std::vector<float> angle(static_cast<size_t>(nAngle)), height(static_cast<size_t>(nHeight));
  for (int i = 0; i < nAngle; ++i) angle[static_cast<size_t>(i)] = 0.001f * i;
  for (int i = 0; i < nHeight; ++i) height[static_cast<size_t>(i)] = 0.0015f * i;
  LensTableSlot s;
  s.kind = 1;
  s.sensorA = 4.0f;
  s.sensorB = 3.0f;
  s.unitSize = 0.003f;
  s.angleTable = angle.data();
  s.angleCount = nAngle;
  s.heightTable = height.data();
  s.heightCount = nHeight;
  std::string bytes = Written(dir, [&](const char* p) { return LensTable_SaveFile(&s, p) == 1; });
  s.angleTable = s.heightTable = nullptr;  // not the slot's to free
  return bytes;
}

std::string MixAreaBytes(const std::string& dir, int frontRows, int rearRows, int32_t quadW, int32_t quadH) {
  MixAreaInfo info = MixAreaInfo_Empty();
  std::vector<int32_t> store[16];
  for (int k = 0; k < 16; ++k) {
    const int rows = MixAreaInfo_IsFrontTable(k) ? frontRows : rearRows;
    store[k].resize(static_cast<size_t>(kMixAreaBandColumns) * rows);
    for (size_t i = 0; i < store[k].size(); ++i)
      store[k][i] = static_cast<int32_t>((k % 2 == 0 ? quadW : quadH) / 4 + static_cast<int32_t>(i % 37));
    info.tables[k] = ImageI32{kMixAreaBandColumns, rows, store[k].data()};
  }
  info.valid = 1;
  info.quadWidth = quadW;
  info.quadHeight = quadH;
  info.frontSeamAngle = 60.0f;
  info.rearSeamAngle = 45.0f;
  info.bandColumns = kMixAreaBandColumns;
  info.frontRows = frontRows;
  info.rearRows = rearRows;
  info.coverageMode = 1;
  return Written(dir, [&](const char* p) { return MixAreaInfo_Save(&info, p) == 1; });
}

// Writes the driver-assistance files of a configuration with small tables
// and returns them in the order of adas_config_fuzz.cpp.
std::vector<std::string> AdasFiles(const std::string& dir, int cols, int rows) {
  ADASConfig c{};
  c.C[kAdasLoaded] = 1;
  c.C[kAdasFrameWidth] = kQw;
  c.C[kAdasFrameHeight] = kQh;
  c.C[kAdasCarWidth] = 1864;
  c.C[kAdasCarLength] = 4950;
  c.C[kAdasFrontOverhang] = 900;
  c.C[kAdasWheelBase] = 2850;
  c.C[kAdasCameraMask] = 15;
  for (int w : {kAdasLdwsPresent, kAdasBsdsPresent, kAdasModsPresent, kAdasRctaPresent, kAdasLvsaPresent,
                kAdasApaPresent})
    c.C[w] = 1;
  for (int w : {kAdasLdwsCols, kAdasBsdsCols, kAdasBsdsCols3, kAdasBsdsCrossCols, kAdasApaCols, kAdasModsCols,
                kAdasModsSideCols, kAdasRctaCols, kAdasLvsaCols})
    c.C[w] = cols;
  for (int w : {kAdasLdwsRows, kAdasBsdsRows, kAdasBsdsCrossRows, kAdasApaRows, kAdasModsRows, kAdasModsSideRows,
                kAdasRctaRows, kAdasLvsaRows})
    c.C[w] = rows;
  std::vector<ImageI32*> tables = {&c.ldws, &c.apa, &c.lvsa};
  for (ImageI32& t : c.bsds) tables.push_back(&t);
  for (ImageI32& t : c.mods) tables.push_back(&t);
  for (ImageI32& t : c.rcta) tables.push_back(&t);
  int seed = 1;
  for (ImageI32* t : tables) {
    if (!ImageI32_NewData(t, cols, rows)) throw std::bad_alloc();
    for (int i = 0; i < cols * rows; ++i) {
      const int32_t col = (seed * 7 + i * 3) % kQw, row = (seed * 5 + i) % kQh;
      t->data[i] = col | (row << 16);
    }
    ++seed;
  }
  const std::string d = Scratch(dir) + "/adas";
  MakeDir(d);
  const int32_t mask = kAdasLDWS | kAdasBSDS | kAdasMODS | kAdasAPA | kAdasRCTA | kAdasLVSA | kAdasDirty;
  std::vector<std::string> out;
  if (ADASConfig_Save(&c, d.c_str(), mask) == 1)
    for (const char* name : {"adas_base.krv", "adas_ldws.krv", "adas_bsds.krv", "adas_mods.krv", "adas_rcta.krv",
                             "adas_lvsa.krv", "adas_apa.krv"})
      out.push_back(ReadAll(d + "/" + name));
  ADASConfig_Free(&c);
  return out;
}

// The six-camera extension of the small quad frame: 4 columns per table,
// entries inside their frames (the second frame's rows less half the quad).
std::string MixAreaSixBytes(const std::string& dir) {
  MixAreaSixEx six = MixAreaSixEx_Empty();
  std::vector<int32_t> store[8];
  for (int k = 0; k < 8; ++k) {
    store[k].resize(4 * kMixAreaSixExRows);
    for (size_t i = 0; i < store[k].size(); ++i)
      store[k][i] = k % 2 == 0 ? static_cast<int32_t>(i % 4) * 3 + (k >= 4 ? kCw : 0)
                               : static_cast<int32_t>(i / 4) % kCh + ((k / 2) % 2 == 0 ? kCh : 0);
    six.tables[k] = ImageI32{4, kMixAreaSixExRows, store[k].data()};
  }
  six.valid = 1;
  six.quadWidth = kQw;
  six.quadHeight = kQh;
  return Written(dir, [&](const char* p) { return MixAreaSixEx_Save(&six, p) == 1; });
}

// A 24 x 16 screen, its left 12 columns the bird's-eye part.
std::string FastBootBytes(const std::string& dir) {
  FastBootImage m;
  m.W = 24;
  m.H = 16;
  m.Wb = 12;
  m.Hb = 8;
  m.QW = kQw;
  m.QH = kQh;
  m.P = 4;
  m.Q = 20.0f;
  m.CW = 6;
  m.CH = 8;
  m.lut.resize(static_cast<size_t>(m.Wb) * m.H);
  for (size_t i = 0; i < m.lut.size(); ++i)
    m.lut[i] = i % 7 == 0 ? kFastBootNoSource : (static_cast<uint32_t>(i * 5 % kQw) << 16) | static_cast<uint32_t>(i % kQh);
  m.picture1.assign(static_cast<size_t>(m.CW) * m.CH * 2, 90);
  m.picture2.assign(static_cast<size_t>(m.W - m.Wb) * (m.H - m.Hb) * 2, 160);
  return Written(dir, [&](const char* p) { return FastBoot_Save(&m, p) == 1; });
}

bool WriteBmpSeeds(const std::string& dir) {
  std::vector<uint8_t> r(6 * 5), g(r.size()), b(r.size()), a(r.size());
  for (size_t i = 0; i < r.size(); ++i) {
    r[i] = static_cast<uint8_t>(i * 9);
    g[i] = static_cast<uint8_t>(255 - i * 5);
    b[i] = static_cast<uint8_t>(i * i);
    a[i] = static_cast<uint8_t>(128 + i);
  }
  ImageU8 ri{6, 5, r.data()}, gi{6, 5, g.data()}, bi{6, 5, b.data()}, ai{6, 5, a.data()};
  std::vector<uint8_t> rgb(7 * 3 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 11);
  Rgb24Image img{};
  img.width = 7;
  img.height = 3;
  img.stride = 21;
  img.data = rgb.data();
  const std::string s24 = Written(dir, [&](const char* p) { return Bmp_SaveOverlayU8(&ri, &gi, &bi, p) == 1; });
  const std::string s32 = Written(dir, [&](const char* p) { return Bmp_SaveRGBA32(&ri, &gi, &bi, &ai, p) == 1; });
  const std::string odd = Written(dir, [&](const char* p) { return Bmp_SaveRGB24(&img, p) == 1; });
  return !s24.empty() && !s32.empty() && !odd.empty() && Put(dir, "bmp_fuzz", "rgb24.bmp", s24) &&
         Put(dir, "bmp_fuzz", "rgba32.bmp", s32) && Put(dir, "bmp_fuzz", "odd_width.bmp", odd);
}

// A small marker-angle model (64 x 48 frame) and a corner tracker file, by
// their own writers.
std::string AMModelBytes(const std::string& dir) {
  AMModel m;
  m.width = 64;
  m.height = 48;
  m.a = 100;
  m.b = 300;
  AM_WorldCorners(m.a, m.b, m.world);
  for (int i = 0; i < 8; ++i) {
    m.image[i][0] = 20.0f + 4 * (i / 2 % 2);
    m.image[i][1] = 10.0f + 4 * i;
  }
  const float K[9] = {1, 0, 31.5f, 0, 1, 23.5f, 0, 0, 1};
  std::copy(K, K + 9, m.K);
  m.D[0] = 30.0f;
  m.T[2] = 800.0f;
  const int32_t window[4] = {10, 10, 54, 38};
  std::copy(window, window + 4, m.window);
  m.d = 4.0f;
  m.s = 100.0f;
  const std::string path = Scratch(dir) + "/am_model.krv";
  return AM_SaveModelFile(m, path.c_str()) ? ReadAll(path) : std::string();
}

std::string CornerTrackerBytes(const std::string& dir, int32_t width, int32_t height) {
  CornerTracker t;
  t.width = width;
  t.height = height;
  t.a = 100;
  t.b = 300;
  AM_WorldCorners(t.a, t.b, t.world);
  t.h = 800.0f;
  t.T[2] = 800.0f;
  const std::string path = Scratch(dir) + "/corner_tracker.krv";
  return CornerTracker_Save(t, path.c_str()) ? ReadAll(path) : std::string();
}

// bytes with the little-endian 32-bit word at offset replaced.
std::string WithWord(std::string bytes, size_t offset, int32_t value) {
  if (bytes.size() < offset + 4) return std::string();
  for (int b = 0; b < 4; ++b) bytes[offset + b] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * b)) & 0xFF);
  return bytes;
}

// Vehicle profile texts: the five lines of the longest line-by-line
// profile (front and rear boards, the side boards, the marks, the offsets)
// and a four-value region profile.
bool WriteProfileSeeds(const std::string& dir) {
  const std::string kelvor =
      "100.0,200.0,300.0;110.0,210.0,310.0;120.0,220.0,320.0;130.0,230.0,330.0\n"
      "140.0,240.0,340.0;150.0,250.0,350.0;160.0,260.0,360.0;170.0,270.0,370.0\n"
      "1.0,2.0,3.0,4.0;5.0,6.0,7.0,8.0;9.0,10.0,11.0,12.0;13.0,14.0,15.0,16.0\n"
      "600.0,800.0;1.0,2.0,3.0,4.0;5.0,6.0,7.0,8.0;9.0,10.0,11.0,12.0\n"
      "40.0,60.0;80.0,100.0\n";
  const std::string region = "10,20,30,40\n50,60,70,80\n90,100,110,120\n130,140,150,160\n170,180,190,200\n"
                             "210,220,230,240\n";
  // The first byte picks the profile: 0 the five-line one, 11 a region one.
  return Put(dir, "calib_profile_fuzz", "five_lines.txt", std::string(1, '\0') + kelvor) &&
         Put(dir, "calib_profile_fuzz", "regions.txt", std::string(1, '\x0b') + region);
}

// A BMP of w x h whose colour follows the position, as the BMP writer
// writes it.
std::string IconBytes(const std::string& dir, int32_t w, int32_t h) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<uint8_t>((x * 40) & 0xFF);
      p[1] = static_cast<uint8_t>(y % 2 == 0 ? 0 : 200);
      p[2] = 90;
    }
  const Rgb24Image img{w, h, 0, px.data(), 3 * w};
  return Written(dir, [&](const char* p) { return Bmp_SaveRGB24(&img, p) == 1; });
}

// Overlay icons: 8 x 12 glyphs and a 16 x 8 camera name.
bool WriteIconSeeds(const std::string& dir) {
  const std::string glyph = IconBytes(dir, 8, 12), camera = IconBytes(dir, 16, 8);
  return !glyph.empty() && !camera.empty() &&
         Put(dir, "osd_icons_fuzz", "glyphs_and_camera", fuzzinput::Join({glyph, glyph, camera}));
}

// Parameter-file set-up: four camera records of a 64 x 48 camera and the
// car sizes.
bool WriteParamSetupSeeds(const std::string& dir) {
  std::vector<std::string> files;
  for (int c = 0; c < 4; ++c) {
    std::ostringstream o;
    o << "{\n  \"width\": 64,\n  \"height\": 48,\n  \"params\": [";
    const float values[27] = {1.2f, 32.0f, 24.0f, 30.0f, 30.0f, 0.01f, -0.02f, 0.001f, 0.0f, 1.5f - c,
                              0.8f * c, 0.0f, 10.0f * c, 5.0f, -3.0f, 0, 0, 90.0f * c, 0, 0,
                              0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 27; ++k) o << (k > 0 ? ", " : "") << values[k];
    o << "]\n}\n";
    files.push_back(o.str());
  }
  files.push_back("1864,4950,2850,1053\n");
  return Put(dir, "lut_param_setup_fuzz", "four_cameras", fuzzinput::Join(files));
}

}  // namespace

bool WriteFuzzSeeds(const std::string& dir) {
  if (!MakeDir(dir) || !MakeDir(Scratch(dir))) return false;
  bool ok = true;
  auto put = [&](const char* target, const char* name, const std::string& bytes) {
    ok = ok && !bytes.empty() && Put(dir, target, name, bytes);
  };
  const Maps maps;

  put("base_file_fuzz", "defaults.txt",
      BaseText({2000, 200, 100, 350, 0, 600, 0, 900, 600, 1, 8, 6, 35, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // Small bird's-eye outputs, for which the fuzz target also makes maps.
  put("base_file_fuzz", "layout0.txt",
      BaseText({2500, 200, 100, 64, 0, 96, 0, 1280, 720, 0, 8, 6, 35, 0, 0, 0, 0, 0, 0, 0, 100, 150, 50, 50}));
  put("base_file_fuzz", "layout10.txt",
      BaseText({3000, 400, 300, 80, 0, 120, 0, 1280, 720, 10, 8, 6, 35, 800, 900, 600, 600, 4000, 7000, 1200,
                0, 0, 0, 0}));

  const std::string table = LensTableBytes(dir, 40, 30);
  put("lens_table_fuzz", "table.krv", table);
  put("table_txt_fuzz", "both_slots", fuzzinput::Join({"table1,table1\n", table}));
  put("table_txt_fuzz", "upper_case", fuzzinput::Join({"  TABLE1\r\n", table}));

  put("mod_tuning_fuzz", "defaults.txt", "31,3,64,4,0.500000,10,1\n25\n0\n");
  put("mod_tuning_fuzz", "longer_window.txt", "63,4,64,4,0.5,10,1\n17\n24\n");

  put("lens_curve_fuzz", "curve",
      fuzzinput::Join({"0.000\n0.017\n0.035\n0.052\n0.070\n0.087\n0.105\n0.122\n0.140\n0.157\n0.175\n0.192\n",
                       "true\n2.4\n3.6\n"}));

  const std::string cfg = LutConfigBytes(dir, kQw, kQh);
  put("lut_config_fuzz", "lut_config.krv", cfg);
  // A quad size 0: refused (the view LUT divided by it once).
  LutConfigLayout lay;
  LutConfigLayout_Make(43, 59, &lay);
  const std::string quadZero = WithWord(cfg, lay.quadWidth, 0);
  put("lut_config_fuzz", "quad_width_0.krv", quadZero);
  put("view_object_fuzz", "lut_config.krv", cfg);
  put("view_object_fuzz", "quad_width_0.krv", quadZero);
  put("view_object_fuzz", "quad_height_0.krv", WithWord(cfg, lay.quadHeight, 0));
  put("six_merger_fuzz", "two_groups", fuzzinput::Join({MabBytes(dir, maps, true), cfg, cfg}));
  put("calibration_lock_fuzz", "lut_config.krv", LutConfigBytes(dir, 1280, 720));

  put("grid_lut_fuzz", "step8.lut", GridBytes(dir, 9, 11, -1, 3.0f));
  put("grid_lut_fuzz", "step16.lut", GridBytes(dir, 20, 18, 0, 1.0f));

  if (ok) ok = WriteBmpSeeds(dir);

  put("am_model_fuzz", "am_model.krv", AMModelBytes(dir));
  put("corner_tracker_fuzz", "corner_tracker.krv", CornerTrackerBytes(dir, 640, 360));
  // A frame small enough for the target to track one.
  put("corner_tracker_fuzz", "small_frame.krv", CornerTrackerBytes(dir, 64, 48));

  const std::string krv = KrvImageBytes(dir, maps);
  put("krv_image_fuzz", "krvimage.krv", krv);

  const std::string mab = MabBytes(dir, maps, false);
  put("mab_fuzz", "four.mab", mab);
  put("mab_fuzz", "six.mab", MabBytes(dir, maps, true));

  const std::string mixA = MixAreaBytes(dir, 3, 2, kQw, kQh), mixB = MixAreaBytes(dir, 2, 3, kQw, kQh);
  put("mix_area_fuzz", "two_groups", fuzzinput::Join({mixA, mixB}));
  put("mix_area_six_fuzz", "six_cameras", fuzzinput::Join({mixA, MixAreaSixBytes(dir)}));
  const std::string fastBoot = FastBootBytes(dir);
  put("fast_boot_fuzz", "small_screen", fastBoot);
  // The car picture's row far beyond the screen: refused (its row
  // arithmetic overflowed once).
  put("fast_boot_fuzz", "car_row_int32_max", WithWord(fastBoot, 28, INT32_MAX));

  const std::vector<std::string> adas = AdasFiles(dir, 3, 2);
  ok = ok && adas.size() == 7;
  if (ok) put("adas_config_fuzz", "all_functions", fuzzinput::Join(adas));
  if (ok) put("adas_run_fuzz", "all_functions", fuzzinput::Join(adas));

  if (ok) ok = WriteProfileSeeds(dir) && WriteIconSeeds(dir) && WriteParamSetupSeeds(dir);

  const std::string front = GridBytes(dir, kTop, kW, -1, 3.0f), back = GridBytes(dir, kBottom, kW, -1, 3.0f);
  const std::string left = GridBytes(dir, kH, kLeft, -1, 2.0f), right = GridBytes(dir, kH, kRight, -1, 2.0f);
  put("cpu_merger_fuzz", "set_up", fuzzinput::Join({cfg, krv, mab, front, back, left, right}));

  // A small rotation-sweep model (40 x 32 frames, 4 x 4 windows) and a 7 x 7
  // template.
  RotTemplateModelSpec rot;
  rot.frameWidth = 40;
  rot.frameHeight = 32;
  rot.channelWidth = 20;
  rot.channelHeight = 16;
  rot.windowHeight = rot.windowWidth = 4;
  rot.nodes = 3;
  rot.feature = 5;
  const std::vector<uint8_t> rotModel = RotTemplateModel_Bytes(rot);
  const std::string rotTemplate =
      Written(dir, [&](const char* p) { return RotTemplateModel_WriteTemplate(p, 7); });
  put("rot_template_fuzz", "stumps", fuzzinput::Join({std::string(rotModel.begin(), rotModel.end()), rotTemplate}));

  std::remove((Scratch(dir) + "/file").c_str());
  std::remove((Scratch(dir) + "/adas").c_str());
  for (const char* name : {"adas_base.krv", "adas_ldws.krv", "adas_bsds.krv", "adas_mods.krv", "adas_rcta.krv",
                           "adas_lvsa.krv", "adas_apa.krv"})
    std::remove((Scratch(dir) + "/adas/" + name).c_str());
  std::remove((Scratch(dir) + "/adas").c_str());
  for (const char* name : {"am_model.krv", "corner_tracker.krv"}) std::remove((Scratch(dir) + "/" + name).c_str());
  std::remove(Scratch(dir).c_str());
  return ok;
}
