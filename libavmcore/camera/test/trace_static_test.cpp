#include <gtest/gtest.h>

#include <vector>

#include "camera/test/trace_test_fixture.h"

namespace {

struct Segments {
  std::vector<float> x1, y1, x2, y2;
  std::vector<uint8_t> kind;
  TraceSegmentList list;
  explicit Segments(int cap = kStaticSegmentCapacity) : x1(cap), y1(cap), x2(cap), y2(cap), kind(cap) {
    list = {cap, 0, x1.data(), y1.data(), x2.data(), y2.data(), kind.data()};
  }
};

class TraceStatic : public TraceFixture {};

TEST_F(TraceStatic, DashedStyleOfTheRearSet) {
  const TraceEdgeSet& e = model_.rear;
  Segments s;
  const int n = Trace_StaticLines(e, 0, model_.nearMark, lin_.View(), &s.list);
  // 3 zones x 2 sides x 2 dashes x 9 chords, then 6 ticks: the most this
  // style can produce.
  ASSERT_EQ(n, 114);
  EXPECT_EQ(s.list.count, 114);
  for (int i = 0; i < 108; ++i) EXPECT_EQ(s.kind[i], 1 + i / 36) << i;
  const uint8_t tickKinds[6] = {1, 1, 2, 2, 3, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(s.kind[108 + i], tickKinds[i]);

  // Zone 1 runs from startY (L/2 - rear start offset) to bumperY + d0: the
  // first chord starts at startY, the last zone-1 chord ends at 7/7 of it.
  float px, py;
  LinearView::Compute(&lin_, static_cast<float>(e.xLeft), 2100.0f, &px, &py);
  EXPECT_FLOAT_EQ(s.x1[0], px);
  EXPECT_FLOAT_EQ(s.y1[0], py);
  LinearView::Compute(&lin_, static_cast<float>(e.xRight), static_cast<float>(e.bumperY + 500), &px, &py);
  EXPECT_NEAR(s.x2[35], px, 1e-3);
  EXPECT_NEAR(s.y2[35], py, 1e-3);
  // The y1 ticks span 4/51 of the width from each side line.
  const float wd = static_cast<float>(e.xRight - e.xLeft) / 10.0f;
  EXPECT_NEAR(s.x2[108] - s.x1[108], wd * 4 / 51, 1e-3);
  EXPECT_NEAR(s.x2[109], s.x1[108] + wd, 1e-3);
}

TEST_F(TraceStatic, SegmentCountsOfEachStyle) {
  struct Case {
    int style, count;
  } cases[] = {{1, 114}, {2, 60}, {10, 60}, {4, 62}, {3, 57}, {5, 61}, {7, 55}, {6, 64}, {8 + 6, 64}};
  for (const Case& c : cases) {
    Segments s;
    EXPECT_EQ(Trace_StaticLines(model_.rear, c.style, model_.nearMark, lin_.View(), &s.list), c.count) << c.style;
    for (int i = 0; i < s.list.count; ++i) {
      EXPECT_GE(s.kind[i], 1);
      EXPECT_LE(s.kind[i], 3);
    }
  }
  // Bit 3 halves the solid ticks: t = Wd / 40 instead of Wd / 20.
  Segments a, b;
  Trace_StaticLines(model_.rear, 2, model_.nearMark, lin_.View(), &a.list);
  Trace_StaticLines(model_.rear, 10, model_.nearMark, lin_.View(), &b.list);
  EXPECT_NEAR((a.x2[54] - a.x1[54]) / 2, b.x2[54] - b.x1[54], 1e-3);
}

TEST_F(TraceStatic, PartlyVisibleLinesAndFrontDirection) {
  // A view that ends 2000 mm beyond the start: the far zone loses its
  // chords, a tick with an end outside is dropped whole.
  LinearView small;
  small.h = 200;
  Segments s;
  const int n = Trace_StaticLines(model_.rear, 0, model_.nearMark, small.View(), &s.list);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, 114);
  for (int i = 0; i < s.list.count; ++i) {
    EXPECT_GE(s.y1[i], 0.0f);
    EXPECT_GE(s.y2[i], 0.0f);
  }
  // Front lines run toward negative y: the zone-1 chord goes from the start
  // at -L/2 forward (more negative).
  const TraceEdgeSet& f = model_.front;
  EXPECT_EQ(f.dir, -1);
  Segments fs;
  ASSERT_EQ(Trace_StaticLines(f, 0, model_.nearMark, lin_.View(), &fs.list), 114);
  float px, py;
  LinearView::Compute(&lin_, static_cast<float>(f.xLeft), static_cast<float>(f.startY), &px, &py);
  EXPECT_FLOAT_EQ(fs.y1[0], py);
  EXPECT_LT(fs.y2[0], fs.y1[0]);  // farther from the car is higher up

  // A view without size gives nothing.
  TraceView none;
  Segments e;
  EXPECT_EQ(Trace_StaticLines(model_.rear, 0, model_.nearMark, none, &e.list), 0);
  // A full list takes nothing more.
  Segments tiny(5);
  EXPECT_EQ(Trace_StaticLines(model_.rear, 0, model_.nearMark, lin_.View(), &tiny.list), 5);
}

}  // namespace
