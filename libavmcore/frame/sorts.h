#pragma once
// Sorts of the toolkit. The quicksorts are non-recursive (own stack of
// ranges), take the median of three (of three medians above 40 elements) as
// pivot and finish ranges below 8 elements by insertion sort.
#include <cstdint>

// Sorts index[0..count) so that key[index[i]] is descending (signed).
void QuickSortU32(uint32_t* index, int32_t count, const int32_t* key);
// Descending.
void QuickSortF32(float* value, int32_t count);
// Records of four 32-bit fields, descending by the fourth read as f32.
void QuickSortRecords16(void* records, int32_t count);

// Three-way comparison: negative means a before b.
using Compare64 = int (*)(uint64_t a, uint64_t b);
// Restores the heap property of a[start..end] (inclusive) below start.
void HeapSiftDown(uint64_t* a, int32_t start, int32_t end, Compare64 compare);
// Ascending by compare.
void HeapSort64(uint64_t* a, int32_t count, Compare64 compare);
