#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "camera/test/trace_test_fixture.h"

namespace {

class TraceDynamic : public TraceFixture {
 protected:
  const TracePointList& Run(int camera, float angle) {
    Trace_DynamicLines(&model_, camera, lin_.View(), angle);
    return camera == 2 ? model_.undistB : model_.undistA;
  }
  void ExpectInside(const TracePointList& l) {
    for (int i = 0; i < l.count; ++i) {
      const int ix = static_cast<int>(std::floor(l.x[i] + 0.5f)), iy = static_cast<int>(std::floor(l.y[i] + 0.5f));
      EXPECT_GE(ix, 0);
      EXPECT_LT(ix, lin_.w - 1);
      EXPECT_GE(iy, 0);
      EXPECT_LT(iy, lin_.h - 1);
    }
  }
  // Column spread of the path points (the side lines), marks left out: the
  // path points come first in the list, before any mark row.
  float PathSpread(const TracePointList& l, int camera) {
    const TraceEdgeSet& e = camera == 2 ? model_.rear : model_.front;
    float px, py;
    LinearView::Compute(&lin_, 0, static_cast<float>(e.bumperY + e.dir * (e.d0 - 100)), &px, &py);
    // Points of the first path below the first mark row.
    float lo = 1e9f, hi = -1e9f;
    const float firstX = l.x[0];
    for (int i = 0; i < l.count; ++i) {
      if (std::fabs(l.x[i] - firstX) > 60.0f) break;  // reached the other side or a mark
      if (l.y[i] < py) continue;
      lo = std::min(lo, l.x[i]);
      hi = std::max(hi, l.x[i]);
    }
    return hi - lo;
  }
};

TEST_F(TraceDynamic, StraightBelowTheBoundTurningFromIt) {
  for (int camera : {1, 2}) {
    for (float a : {0.0f, 0.3f, -0.3f, 0.39f, -0.39f}) {
      const TracePointList& l = Run(camera, a);
      ASSERT_GT(l.count, 100) << a;
      ExpectInside(l);
      EXPECT_LT(PathSpread(l, camera), 0.01f) << "straight at " << a;
      // Straight: two columns for the side lines only (marks aside).
      std::set<int> cols;
      for (int i = 0; i < l.count; ++i) cols.insert(static_cast<int>(std::lround(l.x[i] * 100)));
      EXPECT_GE(cols.size(), 2u);
    }
    for (float a : {0.4f, -0.4f, 0.41f, 5.0f, -5.0f, 30.0f, -45.0f}) {
      const TracePointList& l = Run(camera, a);
      ASSERT_GT(l.count, 10) << a;
      ExpectInside(l);
      EXPECT_GT(PathSpread(l, camera), 0.02f) << "turning at " << a;
    }
  }
}

TEST_F(TraceDynamic, TurningBendsTowardTheSteeringSide) {
  // Rear view, a > 0: the centre lies at negative x, the paths bend toward it.
  const TracePointList& l = Run(2, 10.0f);
  ASSERT_GT(l.count, 10);
  // The first point is near the start, later points of the same path lie
  // further left.
  float firstX = l.x[0], minX = firstX;
  for (int i = 1; i < l.count && std::fabs(l.x[i] - firstX) < 80.0f; ++i) minX = std::min(minX, l.x[i]);
  EXPECT_LT(minX, firstX - 1.0f);
}

TEST_F(TraceDynamic, ListChoiceAnchorsAndCapacity) {
  Run(2, 0.0f);
  EXPECT_GT(model_.undistB.count, 0);
  model_.undistA.count = 0;
  Run(3, 0.0f);
  EXPECT_GT(model_.undistA.count, 0);
  const int32_t fromThree = model_.undistA.count;
  Run(1, 0.0f);
  EXPECT_EQ(model_.undistA.count, fromThree);  // camera 3 uses the front set as camera 1

  // Bit 7 reserves entries 0-2 for the zone-mark anchors, kinds 4, 5, 6.
  model_.dynStyle = 0x80 | 2;
  const TracePointList& l = Run(2, 0.0f);
  ASSERT_GT(l.count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(l.kind[i], 4 + i);
  ExpectInside(l);

  // Kinds are zone kinds or the colour byte.
  for (int style : {0, 2, 3, 4, 5, 6, 7, 0x40 | 2, 0x40 | 6}) {
    model_.dynStyle = style;
    for (float a : {0.0f, 12.0f}) {
      const TracePointList& k = Run(2, a);
      for (int i = 0; i < k.count; ++i) {
        EXPECT_GE(k.kind[i], 4) << style;
        EXPECT_LE(k.kind[i], 7) << style;
      }
      ExpectInside(k);
    }
  }
  EXPECT_EQ(Trace_ColourByte(), 4);  // back after style 3

  // A small list is filled to its capacity and no further.
  TracePointList saved = model_.undistB;
  model_.undistB.capacity = 7;
  model_.dynStyle = 0;
  Run(2, 0.0f);
  EXPECT_EQ(model_.undistB.count, 7);
  model_.undistB = saved;
}

TEST_F(TraceDynamic, SimpleBuilderSetsItsZoneDistances) {
  model_.dynStyle = 0x100;  // style 0 with bits 8-11 = 1
  for (float a : {0.0f, 8.0f, -8.0f}) {
    const TracePointList& l = Run(2, a);
    EXPECT_GT(l.count, 10);
    ExpectInside(l);
  }
  EXPECT_EQ(model_.rear.d0, 500);
  EXPECT_EQ(model_.rear.d1, 1000);
  EXPECT_EQ(model_.rear.d2, 2000);
}

TEST_F(TraceDynamic, BirdsEyeLinesStayInsideTheDisplay) {
  for (int camera : {1, 2}) {
    for (float a : {0.0f, 0.3f, 0.4f, 10.0f, -25.0f}) {
      model_.dynStyle = 0x20 | 2;
      EXPECT_GT(CalcDynamicMergerTracePoint(&model_, camera, a), 0) << a;
      const TracePointList& l = camera == 2 ? model_.mergerB : model_.mergerA;
      for (int i = 0; i < l.count; ++i) {
        EXPECT_GE(l.x[i], 5.0f);
        EXPECT_LT(l.x[i], model_.f3 - 6.0f);
        EXPECT_GE(l.y[i], 5.0f);
        EXPECT_LT(l.y[i], model_.f5 - 6.0f);
      }
      if (std::fabs(a) < 0.4f) {
        // Straight: every path point on one of the two side columns.
        std::set<int> cols;
        for (int i = 0; i < l.count; ++i)
          if (l.kind[i] == 4) cols.insert(static_cast<int>(std::lround(l.x[i])));
        EXPECT_LE(cols.size(), 2u + 21u * 8u);  // side columns plus the 20 px marks
      }
    }
  }
  EXPECT_EQ(TraceTurnRadius(&model_, 2, 0, 0.4f), 1.0f);
  EXPECT_GT(TraceTurnRadius(&model_, 2, 0, 0.5f), 1000.0f);
}

}  // namespace

namespace {

TEST_F(TraceDynamic, AngleWalkerMarksTheSecondPath) {
  // Bit 6: the second path is walked from behind the start and marks where
  // it passes the arc angles of the first path's marks.
  model_.dynStyle = 0x40 | 6;
  const TracePointList& with = Run(2, 10.0f);
  const int32_t n = with.count;
  ASSERT_GT(n, 20);
  // Style 6 draws kind 5 nowhere else: it is the walker's mark at d0.
  int marked = 0;
  for (int i = 0; i < n; ++i) marked += with.kind[i] == 5;
  EXPECT_EQ(marked, 1);
  for (int i = 0; i < n; ++i) {
    const int ix = static_cast<int>(std::floor(with.x[i] + 0.5f)), iy = static_cast<int>(std::floor(with.y[i] + 0.5f));
    EXPECT_TRUE(ix >= 0 && ix < lin_.w - 1 && iy >= 0 && iy < lin_.h - 1);
  }
  // Straight steering ignores the walker choice.
  model_.dynStyle = 0x40 | 6;
  const int32_t straightWith = Run(2, 0.0f).count;
  model_.dynStyle = 6;
  EXPECT_EQ(Run(2, 0.0f).count, straightWith);
}

}  // namespace

namespace {

TEST_F(TraceDynamic, NonFiniteAngleDrawsNothing) {
  const float nan = std::nanf("");
  EXPECT_EQ(Trace_DynamicLines(&model_, 2, lin_.View(), nan), 0);
  EXPECT_EQ(Trace_DynamicLines(&model_, 2, lin_.View(), INFINITY), 0);
  EXPECT_EQ(CalcDynamicMergerTracePoint(&model_, 1, nan), 0);
  float x[4], y[4];
  EXPECT_EQ(Direct_TraceLP(&model_, 2, nullptr, {4, x, y, nullptr}, nan, {0.0f, 2500.0f, 4000.0f}), 0);
}

}  // namespace
