#pragma once
// avmhost bowl: the orbit positions the command draws the bowl view from,
// and the CPU drawing of the bowl meshes and of the 3-D LUT.
#include <cstdint>
#include <vector>

#include "host_image.h"

struct BowlOrbit {
  const char* name;  // picture bowl_NAME.bmp
  float pitch, yaw, distance;  // radians, millimetres
};

// rear (behind the car, looking forward), front, left and right, each from
// inside the bowl, and top (straight down from high above).
constexpr BowlOrbit kBowlOrbits[] = {
    {"rear", 1.0f, 0.0f, 9000.0f},        {"front", 1.0f, 3.14159265f, 9000.0f},
    {"left", 1.0f, 4.71238898f, 6000.0f}, {"right", 1.0f, 1.57079633f, 6000.0f},
    {"top", 0.0f, 0.0f, 16000.0f},
};
constexpr int32_t kBowlPictureW = 640, kBowlPictureH = 480;
// Sampling step of the 3-D LUT.
constexpr int32_t kBowlLutStep = 2;

// Pixel (i, j) of a picture shows normalised device coordinates
// ((i - W/2) / (W/2), (H/2 - j) / (H/2)).
struct BowlCanvas {
  int32_t width = 0, height = 0;
  // Per camera group (0: front/rear cameras, 1: side cameras): depth,
  // sampled grey and blend weight of the nearest surface drawn.
  std::vector<float> depth[2], grey[2], weight[2];
};

void BowlCanvas_Init(BowlCanvas* c, int32_t width, int32_t height);
// Draws n triangles (9 vertex floats and `texStride` texture floats a
// triangle: u, v and, with a stride of 12, the weight as third of each
// corner's four) of one camera group through the view matrix, textured from
// the grey quad frame, with depth testing.
void BowlCanvas_Draw(BowlCanvas* c, int32_t group, const float* vertices, const float* texture, uint32_t n,
                     int32_t texStride, const float mvp[16], const HostImage& quad);
// The two groups blended by their weights; 0 where nothing was drawn.
HostImage BowlCanvas_Picture(const BowlCanvas& c);

// The 3-D LUT's picture: per pixel the front/rear and side sources (x 1024,
// the side cameras' V from the quad frame's middle row) blended by the
// front/rear share (0..1023); 0 where neither side has a source.
HostImage BowlLut_Picture(const std::vector<int32_t>& uv1, const std::vector<int32_t>& uv0,
                          const std::vector<int32_t>& weights, int32_t width, int32_t height,
                          const HostImage& quad);
