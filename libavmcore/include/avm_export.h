#pragma once
// Marks a C entry point of libavmcore. Everything else in the library is
// built with hidden visibility and stays internal.
#ifdef __cplusplus
#define AVM_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define AVM_EXPORT __attribute__((visibility("default")))
#endif
