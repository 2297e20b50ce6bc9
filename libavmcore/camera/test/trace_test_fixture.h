#pragma once
// A trace model over a known car and a linear stand-in view, so the line
// geometry can be checked without a lens.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "camera/trace_lines.h"
#include "frame/global_variables.h"

// Ground (x, y) to a 600 x 400 view: 10 mm per pixel, x centred, |y| from
// 2000 mm (bottom row) away from the car (upward). Straight ground lines stay
// straight, so expected pixels are easy to work out.
struct LinearView {
  int32_t w = 600, h = 400;
  static bool Compute(const void* ctx, float x, float y, float* px, float* py) {
    const LinearView* v = static_cast<const LinearView*>(ctx);
    *px = static_cast<float>(v->w) / 2.0f + x / 10.0f;
    *py = static_cast<float>(v->h - 1) - (std::fabs(y) - 2000.0f) / 10.0f;
    return *px >= 0 && *px < static_cast<float>(v->w - 1) && *py >= 0 && *py <= static_cast<float>(v->h - 1);
  }
  static int Map(const void* ctx, float x, float y, float* px, float* py) {
    if (Compute(ctx, x, y, px, py)) return 1;
    *px = *py = -2.0f;
    return 0;
  }
  static int MapRaw(const void* ctx, float x, float y, float* px, float* py) {
    return Compute(ctx, x, y, px, py) ? 1 : 0;
  }
  TraceView View() const {
    TraceView v;
    v.width = w;
    v.height = h;
    v.map = Map;
    v.mapRaw = MapRaw;
    v.ctx = this;
    return v;
  }
};

class TraceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalVariables& g = gv();
    GlobalVariables_InitRuntimeDefaults();
    savedConfig_ = g.config;
    savedExtra_ = g.extraConfig;
    savedF4_ = g.f4;
    savedF6_ = g.f6;
    savedBlind_[0] = g.f20_23[0];
    savedBlind_[1] = g.f20_23[1];
    g.config.zoneDistance[0] = 500;
    g.config.zoneDistance[1] = 1400;
    g.config.zoneDistance[2] = 3000;
    g.config.lateralMargin = 0;
    g.config.staticStyle = 0;
    g.config.dynamicStyle = 0;
    g.extraConfig.frontLineStart = 0;
    g.extraConfig.rearLineStart = 200;
    g.extraConfig.layoutMode = 0;
    g.extraConfig.nearMark = 300;
    g.f20_23[0] = 0;
    g.f20_23[1] = 0;
    g.f6 = 0;
    memset(&model_, 0, sizeof model_);
    ASSERT_EQ(TraceModel_Create(&model_, reinterpret_cast<UndistOB*>(&owner_), 1280, 720, 1800, 4600, 500, 3000), 1);
  }
  void TearDown() override {
    Undist4Camera_ReleaseModel(&model_);
    GlobalVariables& g = gv();
    g.config = savedConfig_;
    g.extraConfig = savedExtra_;
    g.f4 = savedF4_;
    g.f6 = savedF6_;
    g.f20_23[0] = savedBlind_[0];
    g.f20_23[1] = savedBlind_[1];
  }
  TraceModel model_;
  LinearView lin_;
  int owner_ = 0;
  Config savedConfig_{};
  ExtraConfig savedExtra_{};
  int32_t savedF4_ = 0, savedF6_ = 0, savedBlind_[2] = {0, 0};
};
