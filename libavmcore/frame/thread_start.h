#pragma once
// Thread start: every thread of the library is a detached POSIX thread that
// its owner stops through a flag.
#include <cstdint>

using ThreadRoutine = void* (*)(void*);

// Starts routine(arg) detached with default attributes. The first argument is
// not used. Returns the creation result, 0 on success; otherwise no thread
// runs, and an owner that waits for the thread must not wait for it.
int Thread_CreateDetached(void* unused, ThreadRoutine routine, void* arg);

// Starts routine(arg) detached under round-robin scheduling at the given
// priority. Returns the pthread_create result (0 on success); without the
// privilege for real-time scheduling this fails and no thread runs.
int Thread_CreateDetachedRR(void* unused, ThreadRoutine routine, int32_t priority, void* arg);

// Tests: start(routine, arg) takes the place of the thread creation of
// Thread_CreateDetached (its result is returned as the creation result);
// null restores the real one.
using ThreadStartOverride = int (*)(ThreadRoutine routine, void* arg);
void Thread_SetStartOverride(ThreadStartOverride start);
