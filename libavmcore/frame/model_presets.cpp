// Board presets of the layout codes.
#include "frame/global_variables.h"

namespace {

// Cell values that stand for the current file field instead of a constant.
enum : int32_t {
  kF1 = -1000001,
  kF2 = -1000002,
  kF10 = -1000010,
  kF11 = -1000011,
  kF12 = -1000012,
};

enum class Placement {
  kZero,    // place0-6 = 0
  kFile,    // place0-6 = f17, f18, f19, f13, f14, f15, f16
  kCode51,  // f17, 0, 0, 0, 0, f15, f16
};

struct Preset {
  int32_t code;
  // targetDimA, targetDimB, boardKind34, boardCols34, boardRows34, cornerCount34,
  // boardKind1, boardKind2, boardCols12, boardRows12, cornerCount1, cornerCount2
  int32_t board[12];
  Placement place;
  float limit[3];
};

constexpr Placement Z = Placement::kZero;
constexpr Placement G = Placement::kFile;

const Preset kPresets[] = {
    {1, {kF1, kF2, 1, kF10, kF11, 43, 1, 1, kF10, kF11, kF12, kF12}, Z, {4.21f, 4.21f, 4.21f}},
    {2, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, Z, {6.21f, 6.21f, 6.21f}},
    {3, {200, 100, 4, 7, 5, 24, 4, 4, 5, 5, 16, 16}, G, {3.81f, 3.81f, 3.81f}},
    {4, {200, 0, 2, 0, 0, 0, 2, 2, 0, 0, 0, 0}, G, {3.91f, 3.91f, 3.91f}},
    {5, {250, 100, 19, 0, 0, 8, 19, 19, 0, 0, 7, 7}, G, {4.51f, 4.51f, 4.51f}},
    {6, {400, -200, 19, 5, 4, 12, 19, 19, 4, 5, 12, 12}, G, {5.01f, 5.01f, 5.01f}},
    {7, {600, -400, 19, 11, 4, 30, 1, 0, 0, 0, 12, 17}, G, {5.01f, 5.01f, 5.01f}},
    {8, {600, -400, 19, 12, 4, 33, 1, 0, 0, 0, 16, 17}, G, {4.51f, 4.51f, 4.51f}},
    {9, {200, 0, 3, 0, 0, 0, 3, 3, 0, 0, 0, 0}, G, {5.21f, 5.21f, 5.21f}},
    {10, {200, kF2, 6, 5, 5, 16, 6, 6, 5, 5, 16, 16}, G, {3.81f, 3.81f, 3.81f}},
    {11, {250, 100, 19, 0, 0, 8, 19, 19, 0, 0, 7, 7}, G, {2.31f, 2.91f, 3.51f}},
    {12, {200, 0, 6, 0, 0, 0, 6, 6, 0, 0, 0, 0}, G, {5.01f, 5.01f, 5.01f}},
    {13, {200, 0, 19, 0, 0, 4, 19, 19, 0, 0, 16, 16}, G, {3.51f, 3.51f, 3.51f}},
    {14, {kF1, kF2, 1, 7, 5, 24, 1, 1, 7, 5, 24, 24}, G, {4.21f, 4.21f, 4.21f}},
    {15, {300, -150, 6, 4, 5, 12, 6, 6, 4, 5, 12, 12}, G, {4.81f, 4.81f, 4.81f}},
    {16, {kF1, 100, 0, 0, 0, 13, 19, 19, 0, 0, 17, 17}, G, {4.51f, 4.51f, 6.01f}},
    {17, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, G, {5.01f, 5.01f, 5.01f}},
    {18, {600, -400, 1, 0, 0, 6, 1, 1, 0, 0, 6, 6}, G, {4.51f, 4.51f, 4.51f}},
    {19, {600, -400, 1, 0, 0, 6, 1, 1, 0, 0, 6, 6}, G, {4.51f, 4.51f, 4.51f}},
    {20, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, G, {5.01f, 5.01f, 5.01f}},
    {21, {200, 100, 4, 7, 5, 24, 4, 4, 0, 0, 0, 0}, G, {3.81f, 3.81f, 3.81f}},
    {22, {600, 0, 0, 0, 0, 5, 0, 0, 0, 0, 5, 5}, G, {5.01f, 5.01f, 5.01f}},
    {23, {600, 0, 4, 0, 0, 0, 4, 4, 0, 0, 0, 0}, G, {3.81f, 3.81f, 3.81f}},
    {24, {600, 0, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, Z, {6.21f, 6.21f, 6.21f}},
    {25, {kF1, kF2, 0, 0, 0, 16, 0, 0, 0, 0, 16, 16}, G, {6.01f, 6.01f, 6.01f}},
    {26, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, G, {3.51f, 4.51f, 4.51f}},
    {27, {200, kF2, 1, 0, 0, 20, 1, 1, 0, 0, 16, 16}, G, {4.51f, 4.51f, 4.51f}},
    {28, {600, -400, 1, 0, 0, 6, 1, 1, 0, 0, 6, 6}, G, {6.51f, 4.51f, 4.51f}},
    {29, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, Z, {22.21f, 22.21f, 22.21f}},
    {30, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, G, {3.41f, 3.41f, 4.21f}},
    {31, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, G, {4.21f, 4.21f, 4.21f}},
    {32, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, G, {5.01f, 5.01f, 5.01f}},
    {51, {kF1, 0, 0, 0, 0, 54, 0, 0, 0, 0, 54, 54}, Placement::kCode51, {8.21f, 8.21f, 8.21f}},
    {52, {kF1, kF2, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8}, Z, {35.21f, 35.21f, 35.21f}},
    {53, {500, 0, 0, 0, 0, 6, 1, 0, 0, 0, 6, 0}, G, {5.21f, 5.21f, 5.21f}},
    {54, {kF1, kF2, 0, 0, 0, 6, 0, 0, 0, 0, 6, 0}, G, {5.21f, 5.21f, 5.21f}},
};

int32_t Resolve(const GlobalVariables& g, int32_t cell) {
  switch (cell) {
    case kF1: return g.f1;
    case kF2: return g.f2;
    case kF10: return g.f10;
    case kF11: return g.f11;
    case kF12: return g.f12;
    default: return cell;
  }
}

}  // namespace

void GlobalVariables_ApplyModelPresets() {
  GlobalVariables& g = gv();
  g.CalibLayoutCode = g.f9;
  g.pointsPerCamera = 43;
  g.maxPoints = 59;
  for (const Preset& p : kPresets) {
    if (p.code != g.CalibLayoutCode) continue;
    int32_t* const board[12] = {&g.targetDimA,  &g.targetDimB,  &g.boardKind34, &g.boardCols34,
                                &g.boardRows34, &g.cornerCount34, &g.boardKind1, &g.boardKind2,
                                &g.boardCols12, &g.boardRows12, &g.cornerCount1, &g.cornerCount2};
    int32_t v[12];
    for (int i = 0; i < 12; ++i) v[i] = Resolve(g, p.board[i]);  // read all before writing
    for (int i = 0; i < 12; ++i) *board[i] = v[i];
    int32_t place[7] = {0, 0, 0, 0, 0, 0, 0};
    if (p.place == Placement::kFile) {
      int32_t file[7] = {g.f17, g.f18, g.f19, g.f13, g.f14, g.f15, g.f16};
      for (int i = 0; i < 7; ++i) place[i] = file[i];
    } else if (p.place == Placement::kCode51) {
      place[0] = g.f17;
      place[5] = g.f15;
      place[6] = g.f16;
    }
    g.place0 = place[0];
    g.place1 = place[1];
    g.place2 = place[2];
    g.place3 = place[3];
    g.place4 = place[4];
    g.place5 = place[5];
    g.place6 = place[6];
    for (int i = 0; i < 3; ++i) g.presetLimit[i] = p.limit[i];
    return;
  }
}
