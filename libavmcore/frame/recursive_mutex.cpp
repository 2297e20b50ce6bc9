#include "frame/recursive_mutex.h"

void MutexInitRecursive(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void MutexDestroy(pthread_mutex_t* mutex) { pthread_mutex_destroy(mutex); }
void MutexLock(pthread_mutex_t* mutex) { pthread_mutex_lock(mutex); }
void MutexUnlock(pthread_mutex_t* mutex) { pthread_mutex_unlock(mutex); }
