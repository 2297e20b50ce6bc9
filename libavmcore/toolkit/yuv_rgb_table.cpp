#include "toolkit/yuv_rgb_table.h"

namespace {

constexpr int16_t Entry(double factor, int value, int centre) {
  // Truncation toward zero after adding 0.5: Y 0 gives -1191, not -1192.
  return static_cast<int16_t>(static_cast<int>(factor * 64 * (value - centre) + 0.5));
}

struct Table {
  int16_t rows[768][4];
};

constexpr Table Build() {
  Table t{};
  for (int k = 0; k < 256; ++k) {
    const int16_t y = Entry(1.164, k, 16);
    t.rows[k][0] = y;
    t.rows[k][1] = y;
    t.rows[k][2] = y;
    t.rows[k][3] = 16383;
    t.rows[256 + k][0] = Entry(2.018, k, 128);
    t.rows[256 + k][1] = Entry(-0.391, k, 128);
    t.rows[256 + k][2] = 0;
    t.rows[256 + k][3] = 0;
    t.rows[512 + k][0] = 0;
    t.rows[512 + k][1] = Entry(-0.813, k, 128);
    t.rows[512 + k][2] = Entry(1.596, k, 128);
    t.rows[512 + k][3] = 0;
  }
  return t;
}

constexpr Table kTable = Build();
static_assert(kTable.rows[0][0] == -1191 && kTable.rows[16][0] == 0 && kTable.rows[17][0] == 74 &&
                  kTable.rows[255][0] == 17805,
              "luma rows");
static_assert(kTable.rows[256][0] == -16530 && kTable.rows[256][1] == 3203 &&
                  kTable.rows[511][0] == 16402 && kTable.rows[511][1] == -3177,
              "U rows");
static_assert(kTable.rows[512][1] == 6660 && kTable.rows[512][2] == -13073 &&
                  kTable.rows[767][1] == -6607 && kTable.rows[767][2] == 12972,
              "V rows");

}  // namespace

// Copied out of the constexpr build so the table is plain constant data.
#define ROW(k) {kTable.rows[k][0], kTable.rows[k][1], kTable.rows[k][2], kTable.rows[k][3]}
#define ROW4(k) ROW(k), ROW(k + 1), ROW(k + 2), ROW(k + 3)
#define ROW16(k) ROW4(k), ROW4(k + 4), ROW4(k + 8), ROW4(k + 12)
#define ROW64(k) ROW16(k), ROW16(k + 16), ROW16(k + 32), ROW16(k + 48)
#define ROW256(k) ROW64(k), ROW64(k + 64), ROW64(k + 128), ROW64(k + 192)
alignas(64) const int16_t YuvRgbTable[768][4] = {ROW256(0), ROW256(256), ROW256(512)};
#undef ROW256
#undef ROW64
#undef ROW16
#undef ROW4
#undef ROW
