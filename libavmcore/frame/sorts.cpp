#include "frame/sorts.h"

#include <cstring>
#include <utility>

namespace {

constexpr int32_t kInsertionLimit = 8;
constexpr int32_t kNintherLimit = 40;

// Index of the median of a[i], a[j], a[k] under before().
template <typename T, typename Before>
int32_t Median3(const T* a, int32_t i, int32_t j, int32_t k, Before before) {
  if (before(a[i], a[j])) {
    if (before(a[j], a[k])) return j;
    return before(a[i], a[k]) ? k : i;
  }
  if (before(a[k], a[j])) return j;
  return before(a[k], a[i]) ? k : i;
}

template <typename T, typename Before>
void InsertionSort(T* a, int32_t lo, int32_t hi, Before before) {
  for (int32_t i = lo + 1; i <= hi; ++i) {
    T v = a[i];
    int32_t j = i - 1;
    while (j >= lo && before(v, a[j])) {
      a[j + 1] = a[j];
      --j;
    }
    a[j + 1] = v;
  }
}

// Sorts a[0..count) so that before(a[i+1], a[i]) never holds.
template <typename T, typename Before>
void QuickSort(T* a, int32_t count, Before before) {
  if (count < 2) return;
  struct Range {
    int32_t lo, hi;
  };
  // Pushing the larger part and looping on the smaller keeps the stack at
  // log2(count) entries.
  Range stack[64];
  int32_t top = 0;
  stack[top++] = {0, count - 1};
  while (top > 0) {
    Range r = stack[--top];
    while (r.hi - r.lo + 1 >= kInsertionLimit) {
      const int32_t lo = r.lo, hi = r.hi, n = hi - lo + 1;
      int32_t mid = lo + n / 2;
      int32_t p;
      if (n > kNintherLimit) {
        const int32_t e = n / 8;
        int32_t m1 = Median3(a, lo, lo + e, lo + 2 * e, before);
        int32_t m2 = Median3(a, mid - e, mid, mid + e, before);
        int32_t m3 = Median3(a, hi - 2 * e, hi - e, hi, before);
        p = Median3(a, m1, m2, m3, before);
      } else {
        p = Median3(a, lo, mid, hi, before);
      }
      const T pivot = a[p];
      // Hoare partition around the pivot value.
      int32_t i = lo - 1, j = hi + 1;
      for (;;) {
        do ++i;
        while (before(a[i], pivot));
        do --j;
        while (before(pivot, a[j]));
        if (i >= j) break;
        std::swap(a[i], a[j]);
      }
      // [lo, j] and [j + 1, hi], both non-empty.
      Range left = {lo, j}, right = {j + 1, hi};
      if (left.hi - left.lo > right.hi - right.lo) std::swap(left, right);
      stack[top++] = right;
      r = left;
    }
    InsertionSort(a, r.lo, r.hi, before);
  }
}

struct Record16 {
  uint32_t field[4];
};

float KeyOf(const Record16& r) {
  float f;
  memcpy(&f, &r.field[3], sizeof f);
  return f;
}

}  // namespace

void QuickSortU32(uint32_t* index, int32_t count, const int32_t* key) {
  QuickSort(index, count, [key](uint32_t a, uint32_t b) { return key[a] > key[b]; });
}

void QuickSortF32(float* value, int32_t count) {
  QuickSort(value, count, [](float a, float b) { return a > b; });
}

void QuickSortRecords16(void* records, int32_t count) {
  static_assert(sizeof(Record16) == 16, "record of four 32-bit fields");
  QuickSort(static_cast<Record16*>(records), count,
            [](const Record16& a, const Record16& b) { return KeyOf(a) > KeyOf(b); });
}

void HeapSiftDown(uint64_t* a, int32_t start, int32_t end, Compare64 compare) {
  int32_t root = start;
  while (2 * root + 1 <= end) {
    int32_t child = 2 * root + 1;
    int32_t largest = root;
    if (compare(a[largest], a[child]) < 0) largest = child;
    if (child + 1 <= end && compare(a[largest], a[child + 1]) < 0) largest = child + 1;
    if (largest == root) return;
    std::swap(a[root], a[largest]);
    root = largest;
  }
}

void HeapSort64(uint64_t* a, int32_t count, Compare64 compare) {
  if (count < 2) return;
  for (int32_t start = (count - 2) / 2; start >= 0; --start) HeapSiftDown(a, start, count - 1, compare);
  for (int32_t end = count - 1; end > 0; --end) {
    std::swap(a[0], a[end]);
    HeapSiftDown(a, 0, end - 1, compare);
  }
}
