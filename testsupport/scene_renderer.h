#pragma once
// Synthetic camera pictures of planar calibration targets with exact ground
// truth, for detection and calibration tests, benchmarks and avmhost.
//
// A target (a chessboard, or a grid of black squares) lies on a plane of the
// world, by default the ground Z = 0. It is drawn through any lens model of
// the camera-model dispatcher at a given K, D and pose (camera coordinates =
// R * (world + T), world Z up), with supersampled anti-aliasing and optional
// Gaussian blur and noise (seeded, so every run gives the same picture), and
// the exact image positions of its corners are reported.
#include <cstdint>
#include <functional>
#include <vector>

struct SceneCamera {
  int32_t model = 2;
  float K[9] = {1, 0, 640, 0, 1, 360, 0, 0, 1};
  float D[8] = {300, 0, 0, 0, 0, 0, 0, 0};
  float r[3] = {0, 0, 0};  // rotation vector
  float T[3] = {0, 0, 0};
  int32_t slot = 0;  // lens-table slot (model 3)
};

// Pose of a camera at world position `position` looking at `lookAt`, image x
// to the right and image y downwards with respect to `up` (world +Z unless
// given; pass another vector when looking straight along it).
void SceneCamera_LookAt(SceneCamera* cam, const float position[3], const float lookAt[3],
                        const float up[3] = nullptr);

// Separable Gaussian blur of a float picture in place, edges replicated (the
// lens blur of the rendered scenes).
void Scene_GaussianBlur(std::vector<float>& img, int w, int h, float sigma);

// The quad frame (2W x 2H, cameras 1-4 as top-left, top-right, bottom-left,
// bottom-right) of four W x H grey pictures, render(c) giving camera c.
std::vector<uint8_t> Scene_JoinQuad(int32_t W, int32_t H, const std::function<std::vector<uint8_t>(int32_t)>& render);

enum class TargetKind { kChessboard, kSquares, kCustom };

struct TargetSpec {
  TargetKind kind = TargetKind::kChessboard;
  // Chessboard: squaresX x squaresY squares, square (0, 0) dark. Squares:
  // squaresX x squaresY dark squares at a centre pitch of `pitch`.
  int32_t squaresX = 8;
  int32_t squaresY = 6;
  float squareSize = 100.0f;  // world units (mm)
  float pitch = 200.0f;       // squares only
  float margin = 100.0f;      // light border around the pattern
  uint8_t dark = 30;
  uint8_t light = 220;
  // Placement: target point (s, t) lies at origin + s * axisS + t * axisT.
  float origin[3] = {0, 0, 0};
  float axisS[3] = {1, 0, 0};
  float axisT[3] = {0, 1, 0};
  // Custom: the grey level at target point (s, t) of [0, extentS] x
  // [0, extentT] (plus the margin, which is light) comes from shade; a
  // negative level there is light too. Target_Corners lists no corners.
  std::function<float(float s, float t)> shade;
  float extentS = 0.0f;
  float extentT = 0.0f;
};

// An image-space rectangle painted over the scene (columns x0..x1, rows
// y0..y1, pixel centres inside), before blur and noise: hides part of a
// target.
struct Occluder {
  float x0, y0, x1, y1;
  uint8_t level;
};

struct RenderOptions {
  int32_t width = 1280;
  int32_t height = 720;
  int32_t supersample = 4;  // samples per pixel along each axis
  uint8_t background = 100; // everything that is not the target
  float blurSigma = 0.0f;   // Gaussian blur in pixels; 0: none
  float noiseSigma = 0.0f;  // Gaussian noise in grey levels; 0: none
  uint32_t seed = 1;
  std::vector<Occluder> occluders;
  // Uneven lighting: every grey level is scaled by a gain that runs linearly
  // from lightLeft at column 0 to lightRight at the last column.
  float lightLeft = 1.0f;
  float lightRight = 1.0f;
};

struct TargetCorner {
  float world[3];
  float s, t;      // target coordinates
  float u, v;      // exact projected pixel (pixel centres at integers)
  bool visible;    // inside the model's field and the picture
};

// Corners of the target: chessboard inner corners row by row
// ((squaresX - 1) x (squaresY - 1), s fastest); for squares the four corners
// of each square (at (s0, t0), (s1, t0), (s1, t1), (s0, t1)), squares row by row.
std::vector<TargetCorner> Target_Corners(const TargetSpec& target, const SceneCamera& cam, int32_t width,
                                         int32_t height);

// Grey picture (width x height bytes, row 0 at the top).
std::vector<uint8_t> Scene_RenderGrey(const SceneCamera& cam, const TargetSpec& target, const RenderOptions& opt);

enum class YuvLayout { kI420, kNV12, kYUYV, kUYVY };

// The grey picture as YUV with neutral chroma.
std::vector<uint8_t> Scene_GreyToYuv(const std::vector<uint8_t>& grey, int32_t width, int32_t height,
                                     YuvLayout layout);
