#include "camera/view_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "camera/rotation.h"
#include "testsupport/view_test_fixture.h"
#include "frame/global_variables.h"

namespace {

using namespace view_fixture;

class ViewObjectTest : public RigViewTest {
 protected:
  ViewObjectTest() : RigViewTest("lut_config.krv") {}
};

TEST_F(ViewObjectTest, InitFillsFrameModelSlotsAndCameras) {
  EXPECT_EQ(view->frameWidth, 2560);
  EXPECT_EQ(view->frameHeight, 1440);
  EXPECT_EQ(view->carBoxWidth, 1800);
  EXPECT_EQ(view->carBoxLength, 4600);
  EXPECT_EQ(view->limits[0], 900);
  EXPECT_EQ(view->limits[1], 2700);
  CameraParamSet want;
  FillParams(&want);
  EXPECT_EQ(memcmp(&view->params, &want, sizeof want), 0);
  EXPECT_EQ(memcmp(&view->viewParam.params, &want, sizeof want), 0);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(view->model[k], 2u);
    EXPECT_EQ(view->lensSlot[k], k < 2 ? 0 : 1);
    EXPECT_EQ(view->undist[k].camera, static_cast<uint32_t>(k + 1));
    EXPECT_EQ(view->undist[k].width, 600);
    EXPECT_EQ(view->undist[k].height, 400);
    EXPECT_EQ(view->undist[k].cam.lensSlot, k < 2 ? 0 : 1);
    EXPECT_EQ(view->cut[k].width, 600);
    EXPECT_EQ(view->zoom[k].lensSlot, k < 2 ? 0 : 1);
    EXPECT_NE(view->viewParam.fn[k], nullptr);
  }
  EXPECT_EQ(view->viewParam.quadOffsetX[3], 1280.0f);
  EXPECT_EQ(view->viewParam.quadOffsetY[2], 720.0f);
  EXPECT_EQ(UndistView_GridFloatCount(view, 1), 7500);
  EXPECT_EQ(CutView_GridFloatCount(view, 3), 7500);
}

TEST_F(ViewObjectTest, InitRefusesMissingOrForeignFile) {
  UndistOB* other = UndistOB_Create();
  EXPECT_EQ(Undist4Camera_Init(other, "/nonexistent/lut_config.krv"), 0);
  FILE* f = fopen(path.c_str(), "r+b");
  fputc(0, f);
  fclose(f);
  EXPECT_EQ(Undist4Camera_Init(other, path.c_str()), 0);
  EXPECT_EQ(other->frameWidth, 0);
  UndistOB_Destroy(other);
}

TEST_F(ViewObjectTest, SetParamFillsTheUndistortedBlock) {
  UndistView_SetParam(view, 2, 640, 480, 3, 1, 120.0f, 1.5f, 4.0f, -6.0f, 1.2f, 10.0f, 0.5f, 0.25f,
                      0.75f, 0.125f, 7.0f);
  const UndistViewBlock& b = view->undist[1];
  EXPECT_EQ(b.width, 640);
  EXPECT_EQ(b.height, 480);
  EXPECT_EQ(b.viewType, 3);
  EXPECT_EQ(b.flip, 1u);
  EXPECT_FLOAT_EQ(b.invAngleDivisor, 1.0f / 1.5f);
  EXPECT_FLOAT_EQ(b.rollRad, 10.0f * 0.017453292f);
  EXPECT_EQ(b.sideWarp, 0.5f);
  EXPECT_EQ(b.upperWarp, 0.25f);
  EXPECT_EQ(b.lowerWarp, 0.0f);  // type 1 only
  EXPECT_EQ(b.cyLift, 0.0f);
  EXPECT_EQ(b.sideWarpLinear, 0.125f);
  EXPECT_EQ(b.cam.model, 2u);
  EXPECT_EQ(memcmp(b.cam.R, view->params.R[1], sizeof b.cam.R), 0);
  float rot[9];
  RodriguesArr(view->params.R[1], rot, nullptr);
  for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(b.rotation[i], rot[i]);
  EXPECT_FLOAT_EQ(b.focal, 320.0f / std::tan(120.0f * 0.017453292f / 1.5f));
  EXPECT_FLOAT_EQ(b.cx, 640.0f / 1280.0f * 640.0f + 0.0001f);
  EXPECT_FLOAT_EQ(b.cy, 360.0f / 720.0f * 480.0f);
  EXPECT_FLOAT_EQ(b.cosRoll, std::cos(b.rollRad));
  EXPECT_FLOAT_EQ(b.sinNegRoll, std::sin(-b.rollRad));
  // Camera numbers outside 1..4 fall on camera 1's block.
  UndistView_SetParam(view, 9, 320, 200, 1, 0, 100.0f, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0.5f, 0, 0);
  EXPECT_EQ(view->undist[0].width, 320);
  EXPECT_EQ(view->undist[0].lowerWarp, 0.5f);
}

TEST_F(ViewObjectTest, CurvedViewOwnsItsMapsAndRebuildsOnlyOnChange) {
  UndistView_SetParam(view, 2, 320, 240, 2, 0, 100.0f, 1.2f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  const UndistViewBlock& b = view->undist[1];
  ASSERT_NE(b.mapX.data, nullptr);
  EXPECT_EQ(b.mapX.cols, 320);
  EXPECT_EQ(b.rowMap.cols, 640);
  EXPECT_EQ(b.rowMap.rows, 360);
  EXPECT_EQ(b.flip, 1u);  // camera 2 mirrors the other way
  EXPECT_EQ(b.sign, -1.0f);
  EXPECT_FLOAT_EQ(b.heightWidthRatio, 0.7f);
  EXPECT_FLOAT_EQ(b.yShift, 20.0f + b.firstRow * 0.7f);
  const float* before = b.mapX.data;
  const float shift = b.yShift;
  UndistView_SetParam(view, 2, 320, 240, 2, 0, 100.0f, 1.2f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  if (b.firstRow == 0) {
    EXPECT_EQ(b.yShift, shift);  // unchanged: no rebuild
  }
  EXPECT_EQ(b.mapX.data, before);  // same size: the maps are reused
  UndistView_SetParam(view, 2, 200, 100, 2, 0, 100.0f, 1.2f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(b.mapX.cols, 200);
}

TEST_F(ViewObjectTest, CutParamSelectsSideBlocksAndGeometry) {
  CutView_SetParam(view, 1, 500, 300, 3, 2.0f, 1.0f, 2.0f, 1.1f, 10.0f, 20.0f, 30.0f, 50.0f, 0, 0);
  const CutViewBlock& c4 = view->cut[3];  // cameras 1 and 2 configure camera 4's block
  EXPECT_EQ(c4.width, 500);
  EXPECT_EQ(c4.cutType, 3);
  EXPECT_FLOAT_EQ(c4.rx, 10.0f / 180.0f * 3.1415927f);
  EXPECT_EQ(c4.tableProjection, 0);
  EXPECT_FLOAT_EQ(c4.scale, 0.63f * 300.0f / 2.0f);
  EXPECT_FLOAT_EQ(c4.rowCentre, 0.45f * 300.0f);
  EXPECT_FLOAT_EQ(c4.colCentre, 0.28f * 500.0f);
  EXPECT_FLOAT_EQ(c4.x0, 50.0f - view->params.T[3][0]);
  EXPECT_FLOAT_EQ(c4.y0, 20.0f - view->params.T[3][1]);
  EXPECT_EQ(c4.origin[2], 2400.0f);
  // rotationInv really is the inverse of rotationM.
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) {
      float s = 0;
      for (int j = 0; j < 3; ++j) s += c4.rotationM[3 * r + j] * c4.rotationInv[3 * j + k];
      EXPECT_NEAR(s, r == k ? 1.0f : 0.0f, 1e-5f);
    }
  CutView_SetParam(view, 3, 400, 200, 1, 2.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  const CutViewBlock& c3 = view->cut[2];
  EXPECT_EQ(c3.tableProjection, 1);
  EXPECT_FLOAT_EQ(c3.colCentre, 0.72f * 400.0f);
  EXPECT_FLOAT_EQ(c3.farLimit, 200000.0f);
  CutView_SetParam(view, 3, 400, 200, 4, 2.0f, 0, 0, 1.0f, 0, 0, 0, 100.0f, 0, 0);
  EXPECT_EQ(c3.depthPlane, 300.0f);
  CutView_SetParam(view, 3, 400, 200, 6, 2.0f, 0, 0, 1.0f, 0, 0, 0, 100.0f, 0, 0);
  EXPECT_EQ(c3.depthPlane, -900.0f);
  CutView_SetParam(view, 3, 400, 200, 13, 2.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(c3.virt.viewCode, 3u);
  EXPECT_EQ(c3.virt.cameraIndex, 2);
  EXPECT_EQ(c3.virt.record, &view->viewParam);
  CutView_SetParam(view, 4, 400, 200, 18, 2.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(c4.virt.viewCode, 16u);
  EXPECT_EQ(c4.virt.cameraIndex, 3);
}

TEST_F(ViewObjectTest, ZoomParamDerivedValues) {
  UndistView_SetZoominParam(view, 4, 300, 200, 1, 0.5f, 0.1f, 0.2f, 0.3f, 0.4f);
  const ZoomViewBlock& z = view->zoom[3];
  EXPECT_EQ(z.srcWidth, 1280);
  EXPECT_EQ(z.srcHeight, 720);
  EXPECT_FLOAT_EQ(z.invSpanX, 1.0f / 0.6f);
  EXPECT_FLOAT_EQ(z.invSpanY, 1.0f / 0.4f);
  EXPECT_FLOAT_EQ(z.leftN, 0.1f / 0.6f);
  EXPECT_FLOAT_EQ(z.srcCx, 639.5f);
  EXPECT_FLOAT_EQ(z.invSrcH, 1.0f / 719.0f);
  EXPECT_FLOAT_EQ(z.cosA, std::cos(0.5f));
  EXPECT_NE(z.pointFunction, nullptr);
  EXPECT_EQ(z.model, 2u);
}

}  // namespace
