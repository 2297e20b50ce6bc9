#pragma once
// Constant-index shuffles of GCC vector-extension vectors, spelled for the
// compiler at hand: GCC's __builtin_shuffle takes the indices as a mask
// vector, Clang's __builtin_shufflevector as separate constants. Indices
// mean the same in both (0..n-1 pick lanes of a, n..2n-1 lanes of b), so
// both compilers produce the same lanes.
//   AVM_SHUFFLE1(T, a, i0, i1, ...)     lanes of a
//   AVM_SHUFFLE2(T, a, b, i0, i1, ...)  lanes of a and b
// T is the index vector type GCC wants (integers of the lane width).
#if defined(__clang__)
#define AVM_SHUFFLE1(T, a, ...) __builtin_shufflevector((a), (a), __VA_ARGS__)
#define AVM_SHUFFLE2(T, a, b, ...) __builtin_shufflevector((a), (b), __VA_ARGS__)
#elif defined(__GNUC__)
#define AVM_SHUFFLE1(T, a, ...) __builtin_shuffle(a, T{__VA_ARGS__})
#define AVM_SHUFFLE2(T, a, b, ...) __builtin_shuffle(a, b, T{__VA_ARGS__})
#else
#error "vector shuffles need GCC or Clang vector extensions"
#endif
