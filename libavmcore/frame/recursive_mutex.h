#pragma once
#include <pthread.h>

// Thin wrappers over a caller-owned platform mutex. Errors are not reported.
void MutexInitRecursive(pthread_mutex_t* mutex);  // owner may relock; one unlock per lock
void MutexDestroy(pthread_mutex_t* mutex);
void MutexLock(pthread_mutex_t* mutex);
void MutexUnlock(pthread_mutex_t* mutex);
