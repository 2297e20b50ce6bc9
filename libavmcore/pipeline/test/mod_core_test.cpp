#include "pipeline/mod_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

MODRect Blob(float cx, float cy, int32_t w, int32_t h) {
  MODRect r{};
  r.cx = cx;
  r.cy = cy;
  r.w = w;
  r.h = h;
  return r;
}

struct ModTracker : ::testing::Test {
  MODBlockTracker t;
  void SetUp() override { MODBlockTrackerInit(&t, 40, 30); }
  void TearDown() override { MODBlockTrackerRelease(&t); }
};

std::string TempFile(const char* name, const char* text) {
  std::string p = (std::filesystem::temp_directory_path() / name).string();
  FILE* f = fopen(p.c_str(), "w");
  fputs(text, f);
  fclose(f);
  return p;
}

}  // namespace

TEST(ModTuning, DefaultsFileAndTopBit) {
  MODTuning_Reset();
  int32_t obj = 25;
  EXPECT_EQ(MODTuning_Load("/nonexistent/mod_temp.txt", &obj), 0);
  const MODTuning& g = g_modTuning;
  EXPECT_EQ(g.historyMask, 31);
  EXPECT_EQ(g.hitThreshold, 3);
  EXPECT_EQ(g.historyTopBit, 16);
  EXPECT_EQ(g.reservedA, 64);
  EXPECT_EQ(g.reservedB, 4);
  EXPECT_FLOAT_EQ(g.reservedC, 0.5f);
  EXPECT_EQ(g.reservedD, 10);
  EXPECT_EQ(g.reservedE, 1);
  EXPECT_EQ(g.debugFlags, 0);
  EXPECT_EQ(obj, 25);

  std::string p = TempFile("i24_mod_tuning.txt", "63,4,1,2,0.25,3,4\n17\n8\n");
  EXPECT_EQ(MODTuning_Load(p.c_str(), &obj), 1);
  EXPECT_EQ(g.historyMask, 63);
  EXPECT_EQ(g.historyTopBit, 32);
  EXPECT_EQ(g.hitThreshold, 4);
  EXPECT_FLOAT_EQ(g.reservedC, 0.25f);
  EXPECT_EQ(obj, 17);
  EXPECT_EQ(g.debugFlags, 8);

  // A short first line changes nothing of line 1.
  MODTuning_Reset();
  p = TempFile("i24_mod_tuning.txt", "63,4\n");
  EXPECT_EQ(MODTuning_Load(p.c_str(), &obj), 1);
  EXPECT_EQ(g.historyMask, 31);
  EXPECT_EQ(g.historyTopBit, 16);
  std::filesystem::remove(p);
  MODTuning_Reset();
}

TEST_F(ModTracker, InitSetsUpFiltersSlotsAndImages) {
  EXPECT_EQ(t.width, 40);
  EXPECT_EQ(t.height, 30);
  EXPECT_EQ(t.freeze, 6);
  EXPECT_EQ(t.id, 1);
  EXPECT_EQ(t.idWord, 1);
  for (uint8_t f : t.idFree) EXPECT_EQ(f, 1);
  for (const KalmanFilter* kf : {&t.greyFilter, &t.positionFilterX, &t.positionFilterY}) {
    ASSERT_NE(kf->block, nullptr);
    EXPECT_EQ(kf->stateSize, 2);
    EXPECT_EQ(kf->measureSize, 1);
    EXPECT_EQ(kf->transitionMatrix.data[1], 1.0f);
    EXPECT_EQ(kf->transitionMatrix.data[2], 0.0f);
    EXPECT_EQ(kf->transitionMatrixT.data[2], 1.0f);
    EXPECT_FLOAT_EQ(kf->processNoiseCov.data[0], 1e-5f);
    EXPECT_FLOAT_EQ(kf->measurementNoiseCov.data[0], 0.1f);
    EXPECT_EQ(kf->errorCovPost.data[3], 1.0f);
  }
  // The filter follows a constant level.
  for (int i = 0; i < 30; ++i) {
    KalmanFilter_Predict(&t.greyFilter, nullptr);
    t.measurementValue[0] = 100.0f;
    KalmanFilter_Correct(&t.greyFilter, &t.measurement);
  }
  EXPECT_NEAR(t.greyFilter.statePost.data[0], 100.0f, 1.0f);
  for (const ImageU8& r : t.ring) {
    EXPECT_EQ(r.width, 40);
    EXPECT_NE(r.data, nullptr);
  }
  EXPECT_EQ(t.rowRef.size(), 30u);
  MODBlockTrackerRelease(&t);
  MODBlockTrackerRelease(&t);  // twice is harmless
  EXPECT_EQ(t.greyFilter.block, nullptr);
  EXPECT_TRUE(t.tracks.empty());
}

TEST_F(ModTracker, AssociationJoinsAtNinetyNineAndOpensAtHundred) {
  MODRect ref = Blob(0, 0, 0, 0);
  MODRect a = Blob(10, 10, 5, 5);
  MODTrack_Associate(&t, &t.tracks, &a, &ref);
  ASSERT_EQ(t.tracks.size(), 1u);
  const MODTrack& first = t.tracks.front();
  EXPECT_EQ(first.count, 1);
  EXPECT_EQ(first.updated, 1);
  EXPECT_EQ(first.trackId, 0);
  EXPECT_FLOAT_EQ(first.dx[0], 10.0f);

  MODRect far = Blob(20, 10, 5, 5);  // d = 100
  MODTrack_Associate(&t, &t.tracks, &far, &ref);
  EXPECT_EQ(t.tracks.size(), 2u);
  EXPECT_EQ(t.tracks.back().trackId, 1);

  MODRect near = Blob(3, 11, 12, 5);  // against track 1: 49 + 49 + 1 = 99
  MODTrack* joined = MODTrack_Associate(&t, &t.tracks, &near, &ref);
  EXPECT_EQ(t.tracks.size(), 2u);
  EXPECT_EQ(joined, &t.tracks.front());
  EXPECT_EQ(joined->count, 2);
}

TEST_F(ModTracker, TenthBlobKeepsSevenPointsAndRingAdvancesThree) {
  MODRect ref = Blob(0, 0, 4, 4);
  MODRect b = Blob(5, 5, 4, 4);
  MODTrack* tr = MODTrack_Associate(&t, &t.tracks, &b, &ref);
  for (int i = 1; i < 10; ++i) {
    b.cx += 2.0f;
    MODTrack_Associate(&t, &t.tracks, &b, &ref);
  }
  ASSERT_EQ(t.tracks.size(), 1u);
  EXPECT_EQ(tr->count, 7);
  EXPECT_EQ(tr->start, 3);
  EXPECT_FLOAT_EQ(tr->last.cx, 23.0f);
  // Six steps straight to the right: every kept cosine 1.
  EXPECT_NEAR(tr->cosineSum, 6.0f, 1e-4f);
  const int32_t next = MODTrack_Stats(&t, tr);
  EXPECT_EQ(next, (3 + 6) % 9);
  EXPECT_NEAR(tr->meanCosine, 1.0f, 1e-5f);
  EXPECT_NEAR(tr->spreadCosine, 0.0f, 1e-5f);
  EXPECT_NEAR(tr->meanDx, 2.0f, 1e-5f);
  EXPECT_NEAR(tr->meanDy, 0.0f, 1e-5f);
}

TEST_F(ModTracker, StatsNeedThreePointsAndMapGroundPoints) {
  const float affine[6] = {1.0f, -2.0f, 0.5f, 0.0f, 0.0f, 0.25f};
  t.motion = affine;
  MODRect ref = Blob(0, 0, 4, 4);
  MODRect b = Blob(20, 15, 4, 4);  // block centre
  MODTrack* tr = MODTrack_Associate(&t, &t.tracks, &b, &ref);
  EXPECT_EQ(MODTrack_Stats(&t, tr), 0);
  b.cy += 3;  // a right angle: (20,15) -> (20,18) -> (23,18)
  MODTrack_AddPoint(&t, tr, &b);
  EXPECT_EQ(MODTrack_Stats(&t, tr), 0);
  EXPECT_FLOAT_EQ(tr->egoX[1], 1.0f);  // centre: c = (0, 0)
  EXPECT_FLOAT_EQ(tr->egoY[1], -2.0f);
  b.cx += 3;
  MODTrack_AddPoint(&t, tr, &b);
  // c = (0, 3): X = 1 + 0.5*0, Y = -2 + 0.25*3
  EXPECT_FLOAT_EQ(tr->egoX[2], 1.0f);
  EXPECT_FLOAT_EQ(tr->egoY[2], -1.25f);
  EXPECT_NEAR(tr->cosine[1], 0.0f, 1e-6f);
  // First step (20,15) from the reference against (0,3): cos = 15/25.
  EXPECT_NEAR(tr->cosine[0], 15.0f / 25.0f, 1e-6f);
  EXPECT_EQ(MODTrack_Stats(&t, tr), 2);
  EXPECT_NEAR(tr->meanCosine, 0.3f, 1e-6f);
  EXPECT_NEAR(tr->spreadCosine, std::sqrt(2 * 0.09f) / 2, 1e-6f);
  EXPECT_NEAR(tr->meanEgoY, (0.0f - 2.0f) / 2, 1e-6f);
}

TEST_F(ModTracker, TenthConcurrentTrackTakesSlotEight) {
  MODRect ref{};
  for (int i = 0; i < 10; ++i) {
    MODRect b = Blob(20.0f * i, 0, 2, 2);
    MODTrack_Associate(&t, &t.tracks, &b, &ref);
  }
  ASSERT_EQ(t.tracks.size(), 10u);
  std::vector<int32_t> ids;
  for (const MODTrack& tr : t.tracks) ids.push_back(tr.trackId);
  EXPECT_EQ(ids, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 8}));
  MODBlockTrackerRelease(&t);
  for (uint8_t f : t.idFree) EXPECT_EQ(f, 1);
}

// A 40 x 10 label image with label 3 filling columns 20..35 of rows 2..6.
struct ScanCase {
  const char* name;
  void (*scan)(int32_t, int32_t, const ImageI32*, MODRect*, int32_t);
  int32_t seedX, seedY, minX, maxX, minY, maxY;
};

TEST(ModScans, ExtentsStopEightLinesPastTheFirstHit) {
  const int W = 40, H = 20;
  std::vector<int32_t> lab(W * H, -1);
  for (int y = 2; y <= 15; ++y)
    for (int x = 6; x <= 35; ++x) lab[y * W + x] = 3;
  lab[0] = 16;  // at the limit: ignored
  ImageI32 img{W, H, lab.data()};
  const ScanCase cases[] = {
      // left to right: met at column 6, grows to 13, closed at 14
      {"LeftToRight", MOD_ScanLeftToRight, 6, 2, 6, 13, 2, 15},
      {"RightToLeft", MOD_ScanRightToLeft, 35, 2, 28, 35, 2, 15},
      {"TopToBottom", MOD_ScanTopToBottom, 6, 2, 6, 35, 2, 9},
      {"BottomToTop", MOD_ScanBottomToTop, 6, 15, 6, 35, 8, 15},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    MODRect rec[16] = {};
    c.scan(W, H, &img, rec, 16);
    const MODRect& r = rec[3];
    EXPECT_EQ(r.valid, 1);
    EXPECT_EQ(r.started, 1);
    EXPECT_EQ(r.closed, 1);
    EXPECT_EQ(r.trackId, -1);
    EXPECT_EQ(r.seedX, c.seedX);
    EXPECT_EQ(r.seedY, c.seedY);
    EXPECT_EQ(r.minX, c.minX);
    EXPECT_EQ(r.maxX, c.maxX);
    EXPECT_EQ(r.minY, c.minY);
    EXPECT_EQ(r.maxY, c.maxY);
    for (int k = 0; k < 16; ++k) {
      if (k != 3) {
        EXPECT_EQ(rec[k].valid, 0) << k;
      }
    }
  }
  // The examples of the text: first met at column 20.
  std::vector<int32_t> bar(W * H, -1);
  for (int y = 0; y < H; ++y)
    for (int x = 20; x < W; ++x) bar[y * W + x] = 0;
  ImageI32 b{W, H, bar.data()};
  MODRect rec[1] = {};
  MOD_ScanLeftToRight(W, H, &b, rec, 1);
  EXPECT_EQ(rec[0].maxX, 27);
  std::fill(bar.begin(), bar.end(), -1);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x <= 20; ++x) bar[y * W + x] = 0;
  rec[0] = MODRect{};
  MOD_ScanRightToLeft(W, H, &b, rec, 1);
  EXPECT_EQ(rec[0].minX, 13);
  EXPECT_EQ(rec[0].closed, 1);
  // A skipped record is left alone.
  rec[0] = MODRect{};
  rec[0].excluded = 1;
  MOD_ScanRightToLeft(W, H, &b, rec, 1);
  EXPECT_EQ(rec[0].valid, 0);
}

TEST_F(ModTracker, RoadModelLearnsAStaticRowThenTestsAgainstIt) {
  std::vector<uint8_t> cur(40 * 30, 90), prev(40 * 30, 90);
  // A moving bright spot in row 5.
  cur[5 * 40 + 10] = 200;
  ImageU8 c{40, 30, cur.data()}, p{40, 30, prev.data()};
  MOD_RoadModelUpdate(&t, &c, &p);
  EXPECT_EQ(t.foreground.data[5 * 40 + 10], 200);
  EXPECT_EQ(t.background.data[5 * 40 + 10], 200);
  EXPECT_EQ(t.foreground.data[5 * 40 + 11], 0);
  EXPECT_EQ(t.background.data[5 * 40 + 11], 90);
  for (int y = 0; y < 30; ++y) EXPECT_EQ(t.rowRef[y], 90) << y;
  // Now the reference decides too: a still pixel 40 above it is foreground.
  cur[7 * 40 + 3] = 130;
  prev[7 * 40 + 3] = 130;
  cur[5 * 40 + 10] = 90;
  MOD_RoadModelUpdate(&t, &c, &p);
  EXPECT_EQ(t.foreground.data[7 * 40 + 3], 130);
  EXPECT_EQ(t.background.data[7 * 40 + 4], 90);
  EXPECT_EQ(t.rowSum[7], 90 * 39);
  // Another size is refused.
  ImageU8 small{10, 10, cur.data()};
  t.rowRef[0] = 7;
  MOD_RoadModelUpdate(&t, &small, &small);
  EXPECT_EQ(t.rowRef[0], 7);
}

TEST_F(ModTracker, RoadModelReferenceAveragesFiftyOneRows) {
  // Rows of value y (all still): reference of row y is the mean over the
  // window with repeated edges.
  std::vector<uint8_t> img(40 * 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) img[y * 40 + x] = static_cast<uint8_t>(100 + y);
  ImageU8 c{40, 30, img.data()};
  MOD_RoadModelUpdate(&t, &c, &c);
  for (int y = 0; y < 30; ++y) {
    int64_t s = 0;
    for (int r = y - 25; r <= y + 25; ++r) s += 100 + std::min(std::max(r, 0), 29);
    EXPECT_EQ(t.rowRef[y], s / 51) << y;
  }
}

// The range of the map runs over the cost of every grey level 0..255, not
// only of the levels present: a picture of few, close grey levels keeps its
// low contrast.
TEST(ModImageMeasures, ContrastMapMatchesDirectSum) {
  std::mt19937 rng(7);
  std::vector<uint8_t> img(23 * 17);
  for (auto& v : img) v = static_cast<uint8_t>(rng() % 60 + 100);
  img[0] = 3;
  ImageU8 src{23, 17, img.data()};
  std::vector<uint8_t> out(img.size());
  ImageU8 dst{23, 17, out.data()};
  MOD_ContrastMap(&src, &dst);
  std::vector<int64_t> cost(256);
  for (int v = 0; v < 256; ++v)
    for (uint8_t u : img) cost[v] += std::abs(v - int(u));
  const int64_t lo = *std::min_element(cost.begin(), cost.end());
  const int64_t hi = *std::max_element(cost.begin(), cost.end());
  EXPECT_EQ(hi, std::max(cost[0], cost[255]));  // an end of the scale
  // The map works in single precision: (c - lo) x 255 rounds before the
  // division, so the truncated level may be one below the exact quotient.
  for (size_t i = 0; i < img.size(); ++i) {
    const int64_t exact = (cost[img[i]] - lo) * 255 / (hi - lo);
    ASSERT_LE(out[i], exact) << i;
    ASSERT_GE(out[i] + 1, exact) << i;
  }
  // The grey 3, the farthest present, stays below the top: grey 0 is farther.
  EXPECT_GT(out[0], 200);
  EXPECT_LT(out[0], 255);
  // In place gives the same, and a single grey value maps to 0.
  MOD_ContrastMap(&src, &src);
  EXPECT_EQ(img, out);
  std::fill(img.begin(), img.end(), 77);
  MOD_ContrastMap(&src, &src);
  for (uint8_t v : img) ASSERT_EQ(v, 0);
}

TEST(ModImageMeasures, BoxMeanMatchesWindowSumWithReplicatedEdges) {
  std::mt19937 rng(3);
  const int W = 13, H = 9;
  std::vector<uint8_t> img(W * H);
  for (auto& v : img) v = static_cast<uint8_t>(rng());
  std::vector<uint8_t> out(W * H);
  ImageU8 s{W, H, img.data()}, d{W, H, out.data()};
  MOD_BoxMean5(&s, &d);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int sum = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
          sum += img[std::min(std::max(y + dy, 0), H - 1) * W + std::min(std::max(x + dx, 0), W - 1)];
      ASSERT_EQ(out[y * W + x], sum / 25) << x << "," << y;
    }
  MOD_BoxMean5(&s, &s);
  EXPECT_EQ(img, out);
}

TEST(ModImageMeasures, EntropyOfFlatAndTwoLevelImages) {
  std::vector<uint8_t> img(10 * 10, 50);
  ImageU8 s{10, 10, img.data()};
  const double p = 100.0 / 16384.0;
  EXPECT_NEAR(MOD_Entropy2D(&s), -p * std::log2(p), 1e-12);
  // 300 equal pixels wrap their 8-bit bin to 44.
  std::vector<uint8_t> big(20 * 15, 50);
  ImageU8 b{20, 15, big.data()};
  const double q = 44.0 / 16384.0;
  EXPECT_NEAR(MOD_Entropy2D(&b), -q * std::log2(q), 1e-12);
  // Two flat halves far apart: pairs far from the edge keep their own bin.
  std::vector<uint8_t> two(16 * 8, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 16; ++x) two[y * 16 + x] = 200;
  ImageU8 t{16, 8, two.data()};
  EXPECT_GT(MOD_Entropy2D(&t), MOD_Entropy2D(&s));
}
