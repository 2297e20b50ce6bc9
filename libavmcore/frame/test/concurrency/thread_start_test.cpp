#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

#include "frame/atomic_flags.h"
#include "frame/clock.h"
#include "frame/thread_start.h"

namespace {

// A worker as the library runs them: counts itself in, loops while its run
// flag is 1, leaves when it becomes 2, counts itself out.
struct Worker {
  int32_t runFlag = 1;
  int32_t running = 0;
  int32_t loops = 0;
};

void* WorkerMain(void* arg) {
  Worker* w = static_cast<Worker*>(arg);
  Atomic_Increment(&w->running);
  while (Atomic_FetchAdd(&w->runFlag, 0) == 1) {
    Atomic_Increment(&w->loops);
    usleep(1000);
  }
  Atomic_Decrement(&w->running);
  return nullptr;
}

bool WaitFor(int32_t* word, int32_t value, uint32_t timeoutMs) {
  const uint32_t start = GetTickMs();
  while (Atomic_FetchAdd(word, 0) != value) {
    if (GetTickMs() - start > timeoutMs) return false;
    usleep(1000);
  }
  return true;
}

TEST(ThreadStart, DetachedWorkersStartRunAndStopByFlag) {
  Worker w;
  for (int i = 0; i < 4; ++i) Thread_CreateDetached(nullptr, WorkerMain, &w);
  ASSERT_TRUE(WaitFor(&w.running, 4, 5000));
  while (Atomic_FetchAdd(&w.loops, 0) < 8) usleep(1000);
  EXPECT_EQ(1, Atomic_Exchange(&w.runFlag, 2));
  EXPECT_TRUE(WaitFor(&w.running, 0, 5000));
  usleep(5000);  // let the detached threads finish returning
}

// The creation result comes back: 0 for a thread that runs, the failure of
// a start that could not be made (injected) with no thread running.
int RefuseStart(ThreadRoutine, void*) { return 11; }  // EAGAIN

TEST(ThreadStart, DetachedStartReportsItsResult) {
  Worker w;
  Thread_SetStartOverride(RefuseStart);
  EXPECT_EQ(11, Thread_CreateDetached(nullptr, WorkerMain, &w));
  Thread_SetStartOverride(nullptr);
  usleep(5000);
  EXPECT_EQ(0, Atomic_FetchAdd(&w.running, 0));
  EXPECT_EQ(0, Thread_CreateDetached(nullptr, WorkerMain, &w));
  ASSERT_TRUE(WaitFor(&w.running, 1, 5000));
  Atomic_Exchange(&w.runFlag, 2);
  EXPECT_TRUE(WaitFor(&w.running, 0, 5000));
  usleep(5000);
}

TEST(ThreadStart, RoundRobinReportsItsResult) {
  Worker w;
  int rc = Thread_CreateDetachedRR(nullptr, WorkerMain, 10, &w);
  if (rc != 0) {
    // No real-time privilege here (or the sanitizer runtime refuses it): the
    // failure comes back and no thread runs.
    usleep(10000);
    EXPECT_EQ(0, Atomic_FetchAdd(&w.running, 0));
    return;
  }
  ASSERT_TRUE(WaitFor(&w.running, 1, 5000));
  Atomic_Exchange(&w.runFlag, 2);
  EXPECT_TRUE(WaitFor(&w.running, 0, 5000));
  usleep(5000);
}

TEST(ThreadStart, RoundRobinRejectsAnInvalidPriority) {
  Worker w;
  EXPECT_NE(0, Thread_CreateDetachedRR(nullptr, WorkerMain, 100000, &w));
  usleep(5000);
  EXPECT_EQ(0, Atomic_FetchAdd(&w.running, 0));
}

TEST(AtomicFlags, ConcurrentIncrementsAreNotLost) {
  struct Shared {
    int32_t counter = 0;
    int32_t done = 0;
  } s;
  auto body = [](void* arg) -> void* {
    Shared* sh = static_cast<Shared*>(arg);
    for (int i = 0; i < 10000; ++i) Atomic_FetchAdd(&sh->counter, 1);
    Atomic_Increment(&sh->done);
    return nullptr;
  };
  for (int t = 0; t < 4; ++t) Thread_CreateDetached(nullptr, body, &s);
  ASSERT_TRUE(WaitFor(&s.done, 4, 10000));
  EXPECT_EQ(40000, Atomic_FetchAdd(&s.counter, 0));
  usleep(5000);
}

}  // namespace
