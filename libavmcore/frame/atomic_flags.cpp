#include "frame/atomic_flags.h"

// Sequentially consistent read-modify-writes are full barriers on every
// target we build for.
int32_t Atomic_Exchange(int32_t* word, int32_t value) { return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST); }
int32_t Atomic_FetchAnd(int32_t* word, int32_t value) { return __atomic_fetch_and(word, value, __ATOMIC_SEQ_CST); }
int32_t Atomic_FetchOr(int32_t* word, int32_t value) { return __atomic_fetch_or(word, value, __ATOMIC_SEQ_CST); }
int32_t Atomic_FetchXor(int32_t* word, int32_t value) { return __atomic_fetch_xor(word, value, __ATOMIC_SEQ_CST); }
int32_t Atomic_FetchAdd(int32_t* word, int32_t value) { return __atomic_fetch_add(word, value, __ATOMIC_SEQ_CST); }
int32_t Atomic_FetchSub(int32_t* word, int32_t value) { return __atomic_fetch_sub(word, value, __ATOMIC_SEQ_CST); }
int32_t Atomic_Increment(int32_t* word) { return __atomic_fetch_add(word, 1, __ATOMIC_SEQ_CST); }
int32_t Atomic_Decrement(int32_t* word) { return __atomic_fetch_sub(word, 1, __ATOMIC_SEQ_CST); }
