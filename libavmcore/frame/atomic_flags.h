#pragma once
// Atomic operations on 32-bit flag words. Each is one read-modify-write with
// a full barrier and returns the previous value.
#include <cstdint>

int32_t Atomic_Exchange(int32_t* word, int32_t value);
int32_t Atomic_FetchAnd(int32_t* word, int32_t value);
int32_t Atomic_FetchOr(int32_t* word, int32_t value);
int32_t Atomic_FetchXor(int32_t* word, int32_t value);
int32_t Atomic_FetchAdd(int32_t* word, int32_t value);
int32_t Atomic_FetchSub(int32_t* word, int32_t value);
int32_t Atomic_Increment(int32_t* word);
int32_t Atomic_Decrement(int32_t* word);
