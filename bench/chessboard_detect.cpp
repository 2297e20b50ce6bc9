// Chessboard detection on a 1280 x 720 fisheye frame holding one 9 x 7
// board: the quad detector and the template detector against OpenCV's
// classic detector (one thread) and its sector-based detector. The
// ComparisonReport entry prints the detection rate and corner error of all
// four over the rendered conditions of lens models 1 to 4 (and of the quad
// detector searching at full size, mode 0). SideBySide prints, per
// condition, the quad detector (mode 2) beside cv::findChessboardCorners +
// cornerSubPix on the same 8-bit frame: median time, mean corner error and
// mean signed offset against the rendered corners (pixel centres at integer
// positions, OpenCV's convention too), over the frames both found.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/template_corners.h"
#include "testsupport/board_scenes.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"

namespace {

// Keep freed work images in the heap: on this kind of (virtualised) machine
// the page faults of fresh mappings cost several times the detection
// itself, for both sides alike, and would hide what the code does.
const int kMallocTuned = [] {
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  return 0;
}();

// The detector chooses no path at run time: the build's vector width is
// the path.

struct Frame {
  BoardScene scene;
  std::vector<float> truth;
  FloatImage img;
  cv::Mat grey;
};

void MakeFrame(const BoardSceneSpec& spec, float blur, float noise, float lightLeft, Frame* f) {
  f->scene = BoardScene_Make(spec);
  BoardScene_Truth(f->scene, &f->truth);
  RenderOptions opt;
  opt.blurSigma = blur;
  opt.noiseSigma = noise;
  opt.lightLeft = lightLeft;
  BoardScene_Render(f->scene, opt, &f->img);
  f->grey.create(spec.height, spec.width, CV_8UC1);
  for (size_t i = 0; i < f->img.data.size(); ++i)
    f->grey.data[i] = static_cast<uint8_t>(std::lround(f->img.data[i] * 255.0f));
}

const Frame& BenchFrame() {
  static Frame f;
  static bool made = false;
  if (!made) {
    BoardSceneSpec spec;
    spec.model = 2;
    spec.tiltDeg = 30;
    MakeFrame(spec, 0.8f, 2.0f, 1.0f, &f);
    made = true;
  }
  return f;
}

// Mean distance of each found point to the nearest true corner (OpenCV's
// order differs from ours).
double NearestError(const std::vector<float>& got, const std::vector<float>& truth) {
  const size_t n = truth.size() / 2;
  double s = 0;
  for (size_t i = 0; i < n; ++i) {
    double best = 1e30;
    for (size_t j = 0; j < n; ++j)
      best = std::min(best, std::hypot(double(got[2 * i]) - truth[2 * j], double(got[2 * i + 1]) - truth[2 * j + 1]));
    s += best;
  }
  return s / static_cast<double>(n);
}

// Error of each found point against its nearest true corner: mean
// distance and mean signed row and column offsets (a half-pixel convention
// slip or a shifted grid shows in the offsets).
struct ErrorStats {
  double mean = 0, row = 0, col = 0, max = 0;
};
ErrorStats CornerErrors(const std::vector<float>& got, const std::vector<float>& truth) {
  const size_t n = truth.size() / 2;
  ErrorStats e;
  for (size_t i = 0; i < n; ++i) {
    double best = 1e30, dr = 0, dc = 0;
    for (size_t j = 0; j < n; ++j) {
      const double r = double(got[2 * i]) - truth[2 * j], c = double(got[2 * i + 1]) - truth[2 * j + 1];
      if (std::hypot(r, c) < best) {
        best = std::hypot(r, c);
        dr = r;
        dc = c;
      }
    }
    e.mean += best;
    e.row += dr;
    e.col += dc;
    e.max = std::max(e.max, best);
  }
  e.mean /= double(n);
  e.row /= double(n);
  e.col /= double(n);
  return e;
}

void QuadDetector(benchmark::State& state) {
  const Frame& f = BenchFrame();
  std::vector<float> pts(f.truth.size());
  int32_t found = 0;
  for (auto _ : state) benchmark::DoNotOptimize(found = Chessboard_FindCorners(&f.img.m, 9, 7, pts.data(), 2));
  // The corner error of this frame against the rendered corners (pixels).
  state.counters["error_px"] = found ? NearestError(pts, f.truth) : -1.0;
}
BENCHMARK(QuadDetector)->Unit(benchmark::kMillisecond);

void TemplateDetector(benchmark::State& state) {
  const Frame& f = BenchFrame();
  std::vector<float> pts(f.truth.size());
  for (auto _ : state) benchmark::DoNotOptimize(FindChessboardByTemplates(&f.img.m, 9, 7, pts.data(), 2, 0, 0, 0));
}
BENCHMARK(TemplateDetector)->Unit(benchmark::kMillisecond);

void OpenCvClassic(benchmark::State& state) {
  cv::setNumThreads(1);
  const Frame& f = BenchFrame();
  std::vector<cv::Point2f> c;
  for (auto _ : state) benchmark::DoNotOptimize(cv::findChessboardCorners(f.grey, cv::Size(8, 6), c));
}
BENCHMARK(OpenCvClassic)->Unit(benchmark::kMillisecond);

void OpenCvClassicSubPix(benchmark::State& state) {
  cv::setNumThreads(1);
  const Frame& f = BenchFrame();
  std::vector<cv::Point2f> c;
  for (auto _ : state) {
    if (cv::findChessboardCorners(f.grey, cv::Size(8, 6), c))
      cv::cornerSubPix(f.grey, c, cv::Size(5, 5), cv::Size(-1, -1),
                       cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.01));
    benchmark::DoNotOptimize(c.data());
  }
  std::vector<float> pts;
  for (const cv::Point2f& p : c) pts.insert(pts.end(), {p.y, p.x});
  state.counters["error_px"] = pts.size() == f.truth.size() ? NearestError(pts, f.truth) : -1.0;
}
BENCHMARK(OpenCvClassicSubPix)->Unit(benchmark::kMillisecond);

void OpenCvSectorBased(benchmark::State& state) {
  cv::setNumThreads(1);
  const Frame& f = BenchFrame();
  std::vector<cv::Point2f> c;
  for (auto _ : state) benchmark::DoNotOptimize(cv::findChessboardCornersSB(f.grey, cv::Size(8, 6), c));
}
BENCHMARK(OpenCvSectorBased)->Unit(benchmark::kMillisecond);

// The rendered conditions both comparisons run, each for lens models 1-4.
struct Condition {
  const char* name;
  int sx, sy, w, h;
  float span, tilt, yaw, offX, offY, blur, noise, light;
};
const Condition kConditions[] = {
    {"9x7 720p near sharp", 9, 7, 1280, 720, 0.9f, 0, 0, 0, 0, 0.0f, 0, 1},
    {"8x6 720p far tilt30", 8, 6, 1280, 720, 0.5f, 30, 0, 0, 0, 1.0f, 2, 1},
    {"7x5 576 tilt60 blur1.5", 7, 5, 720, 576, 0.9f, 60, 0, 0, 0, 1.5f, 2, 1},
    {"6x6 576 tilt45 turned20", 6, 6, 720, 576, 0.6f, 45, 20, 0, 0, 0.8f, 2, 1},
    {"9x7 720p ramp 0.3..1", 9, 7, 1280, 720, 0.9f, 30, 0, 0, 0, 1.0f, 2, 0.3f},
    {"9x7 720p ramp 0.1..1", 9, 7, 1280, 720, 0.9f, 30, 0, 0, 0, 1.0f, 2, 0.1f},
    {"9x7 720p side 0.6", 9, 7, 1280, 720, 0.7f, 40, 0, 0.6f, 0.2f, 1.0f, 2, 1},
    {"9x7 720p side 0.9", 9, 7, 1280, 720, 0.7f, 40, 0, 0.9f, 0.2f, 1.0f, 2, 1},
    {"8x6 720p upside down", 8, 6, 1280, 720, 0.9f, 20, 180, 0, 0, 0.7f, 2, 1},
    {"6x6 720p turned 90", 6, 6, 1280, 720, 0.6f, 20, 90, 0, 0, 0.7f, 2, 1},
};

// One condition's frame through lens model 1-4.
void MakeConditionFrame(const Condition& c, int model, Frame* f) {
  BoardSceneSpec spec;
  spec.model = model;
  spec.squaresX = c.sx;
  spec.squaresY = c.sy;
  spec.width = c.w;
  spec.height = c.h;
  spec.span = c.span;
  spec.tiltDeg = c.tilt;
  spec.yawDeg = c.yaw;
  spec.offsetX = c.offX;
  spec.offsetY = c.offY;
  MakeFrame(spec, c.blur, c.noise, c.light, f);
}

void ComparisonReport(benchmark::State& state) {
  cv::setNumThreads(1);
  ScopedConfigState config;
  EquidistantTable table;
  LensTableFixture_Write(config.dir(), 5, table);
  LensTableFixture_Install(config.dir(), 5);
  for (auto _ : state) {
    int found[5] = {0, 0, 0, 0, 0}, total = 0;
    double errSum[5] = {0, 0, 0, 0, 0};
    printf("\n%-26s %5s | %-14s | %-14s | %-14s | %-14s | %-14s\n", "condition", "model", "quad", "template",
           "cv classic+sub", "cv SB", "quad full size");
    for (const Condition& c : kConditions)
      for (int model = 1; model <= 4; ++model) {
        Frame f;
        MakeConditionFrame(c, model, &f);
        ++total;
        std::vector<float> res[5];
        bool ok[5];
        res[0].resize(f.truth.size());
        res[1].resize(f.truth.size());
        res[4].resize(f.truth.size());
        ok[4] = Chessboard_FindCorners(&f.img.m, c.sx, c.sy, res[4].data(), 0) != 0;
        ok[0] = Chessboard_FindCorners(&f.img.m, c.sx, c.sy, res[0].data(), 2) != 0;
        ok[1] = FindChessboardByTemplates(&f.img.m, c.sx, c.sy, res[1].data(), 2, 0, 0, 0) != 0;
        std::vector<cv::Point2f> pc, ps;
        ok[2] = cv::findChessboardCorners(f.grey, cv::Size(c.sx - 1, c.sy - 1), pc);
        if (ok[2])
          cv::cornerSubPix(f.grey, pc, cv::Size(5, 5), cv::Size(-1, -1),
                           cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.01));
        ok[3] = cv::findChessboardCornersSB(f.grey, cv::Size(c.sx - 1, c.sy - 1), ps);
        for (const cv::Point2f& p : pc) res[2].insert(res[2].end(), {p.y, p.x});
        for (const cv::Point2f& p : ps) res[3].insert(res[3].end(), {p.y, p.x});
        char cell[5][32];
        for (int d = 0; d < 5; ++d) {
          if (ok[d]) {
            const double e = NearestError(res[d], f.truth);
            errSum[d] += e;
            ++found[d];
            snprintf(cell[d], sizeof cell[d], "yes %.3f px", e);
          } else {
            snprintf(cell[d], sizeof cell[d], "no");
          }
        }
        printf("%-26s %5d | %-14s | %-14s | %-14s | %-14s | %-14s\n", c.name, model, cell[0], cell[1], cell[2],
               cell[3], cell[4]);
        fflush(stdout);
      }
    printf("%-26s %5s |", "found / mean error", "");
    for (int d = 0; d < 5; ++d) printf(" %2d/%2d %.3f px |", found[d], total, found[d] ? errSum[d] / found[d] : 0.0);
    printf("\n");
  }
}
BENCHMARK(ComparisonReport)->Iterations(1)->Unit(benchmark::kSecond);

// Median thread CPU time of reps calls of f, microseconds (on a loaded
// machine wall time also counts the waits for the core); a call over 50 ms
// (OpenCV's classic detector searching a frame it cannot read can take
// seconds) is timed once.
template <typename F>
double MedianMicros(int reps, F f) {
  std::vector<double> t;
  for (int i = 0; i < reps; ++i) {
    if (i == 1 && t[0] > 50000.0) break;
    timespec a, b;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    f();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    t.push_back(double(b.tv_sec - a.tv_sec) * 1e6 + double(b.tv_nsec - a.tv_nsec) * 1e-3);
  }
  std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
  return t[t.size() / 2];
}

void SideBySide(benchmark::State& state) {
  cv::setNumThreads(1);
  ScopedConfigState config;
  EquidistantTable table;
  LensTableFixture_Write(config.dir(), 5, table);
  LensTableFixture_Install(config.dir(), 5);
  const int reps = static_cast<int>(state.range(0));
  for (auto _ : state) {
    int found[2] = {0, 0}, both = 0, total = 0;
    double err[2] = {0, 0}, row[2] = {0, 0}, col[2] = {0, 0}, time[2] = {0, 0}, timeAll[2] = {0, 0};
    std::vector<double> ratios;  // OpenCV time over ours, frames both found
    printf("\n%-24s %s | %-38s | %-38s\n", "condition", "m", "ours: us, error px (row, col offset)",
           "OpenCV: us, error px (row, col offset)");
    for (const Condition& c : kConditions)
      for (int model = 1; model <= 4; ++model) {
        Frame f;
        MakeConditionFrame(c, model, &f);
        ++total;
        std::vector<float> res[2];
        res[0].resize(f.truth.size());
        bool ok[2] = {false, false};
        double us[2];
        us[0] = MedianMicros(reps, [&] {
          ok[0] = Chessboard_FindCorners(&f.img.m, c.sx, c.sy, res[0].data(), 2) != 0;
        });
        std::vector<cv::Point2f> pc;
        us[1] = MedianMicros(reps, [&] {
          ok[1] = cv::findChessboardCorners(f.grey, cv::Size(c.sx - 1, c.sy - 1), pc);
          if (ok[1])
            cv::cornerSubPix(f.grey, pc, cv::Size(5, 5), cv::Size(-1, -1),
                             cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.01));
        });
        for (const cv::Point2f& p : pc) res[1].insert(res[1].end(), {p.y, p.x});
        char cell[2][48];
        ErrorStats e[2];
        for (int d = 0; d < 2; ++d) {
          timeAll[d] += us[d];
          if (ok[d]) {
            ++found[d];
            e[d] = CornerErrors(res[d], f.truth);
            snprintf(cell[d], sizeof cell[d], "%6.0f  %.4f (%+.3f, %+.3f)", us[d], e[d].mean, e[d].row, e[d].col);
          } else {
            snprintf(cell[d], sizeof cell[d], "%6.0f  not found", us[d]);
          }
        }
        if (ok[0] && ok[1]) {
          ++both;
          ratios.push_back(us[1] / us[0]);
          for (int d = 0; d < 2; ++d) {
            err[d] += e[d].mean;
            row[d] += e[d].row;
            col[d] += e[d].col;
            time[d] += us[d];
          }
        }
        printf("%-24s %d | %-38s | %-38s%s\n", c.name, model, cell[0], cell[1], ok[0] && ok[1] ? "" : "  (not both)");
        fflush(stdout);
      }
    printf("found: ours %d/%d, OpenCV %d/%d; both %d. Over the frames both found:\n", found[0], total, found[1],
           total, both);
    for (int d = 0; d < 2; ++d)
      printf("  %-6s mean error %.4f px, mean offset (row %+.4f, col %+.4f), time %.0f us a frame (all frames %.0f)\n",
             d == 0 ? "ours" : "OpenCV", err[d] / std::max(both, 1), row[d] / std::max(both, 1),
             col[d] / std::max(both, 1), time[d] / std::max(both, 1), timeAll[d] / total);
    std::sort(ratios.begin(), ratios.end());
    const double medianRatio = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
    printf("  OpenCV time / ours, median over the frames both found: %.2f\n", medianRatio);
    state.counters["ours_error_px"] = err[0] / std::max(both, 1);
    state.counters["opencv_error_px"] = err[1] / std::max(both, 1);
    state.counters["median_speed_ratio"] = medianRatio;
  }
}
BENCHMARK(SideBySide)->Arg(5)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
