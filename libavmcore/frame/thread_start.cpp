#include "frame/thread_start.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>

namespace {
std::atomic<ThreadStartOverride> g_startOverride{nullptr};
}  // namespace

void Thread_SetStartOverride(ThreadStartOverride start) { g_startOverride.store(start); }

int Thread_CreateDetached(void* unused, ThreadRoutine routine, void* arg) {
  (void)unused;
  if (ThreadStartOverride start = g_startOverride.load()) return start(routine, arg);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, routine, arg);
  pthread_attr_destroy(&attr);
  return rc;
}

int Thread_CreateDetachedRR(void* unused, ThreadRoutine routine, int32_t priority, void* arg) {
  (void)unused;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
  pthread_attr_setschedpolicy(&attr, SCHED_RR);
  sched_param param = {};
  param.sched_priority = priority;
  int rc = pthread_attr_setschedparam(&attr, &param);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (rc == 0) rc = pthread_create(&thread, &attr, routine, arg);
  pthread_attr_destroy(&attr);
  return rc;
}
