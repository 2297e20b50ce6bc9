#pragma once
// Bird's-eye ground pictures for the moving-object detector: a textured
// floor around the vehicle seen from above at the detector's 50 mm a pixel,
// optionally with a striped box standing on it, and a driver-assistance
// configuration whose four block tables cut the detector's blocks out of
// that picture (laid out as the table builder lays them: blocks 1 and 2 run
// 3600 mm ahead of and behind the car, blocks 4 and 8 2800 mm to its sides).
//
// Vehicle frame: origin at the vehicle centre, X to the right, Y to the
// rear, millimetres. Driving forward by s millimetres moves every floor
// point s toward +Y.
#include <cstdint>
#include <vector>

#include "pipeline/adas_config.h"

struct ModsBox {
  float x, y;           // centre, vehicle frame
  float width, length;  // along X and Y
};

class ModsBlockScene {
 public:
  explicit ModsBlockScene(int32_t carWidth = 1960, int32_t carLength = 5280);
  ~ModsBlockScene();
  ModsBlockScene(const ModsBlockScene&) = delete;
  ModsBlockScene& operator=(const ModsBlockScene&) = delete;

  const ADASConfig& config() const { return config_; }
  ADASConfig* mutableConfig() { return &config_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Grey picture (width x height bytes) after driving `travelled` mm, with
  // the boxes drawn over the floor.
  std::vector<uint8_t> Render(float travelled, const std::vector<ModsBox>& boxes = {}) const;
  // Picture position (column, row) of a vehicle-frame point.
  void ToPixel(float x, float y, float* col, float* row) const;

 private:
  float Floor(float x, float y) const;

  ADASConfig config_{};
  int32_t width_ = 0, height_ = 0;
  float originX_ = 0, originY_ = 0;  // vehicle-frame point of pixel (0, 0)
  std::vector<float> noise_;
  int32_t noiseSide_ = 64;
};
