#pragma once
// System V objects shared with the display application, made so that they
// outlive the daemon.
//
// Qt removes a system semaphore and its key file when the object that
// created them is destroyed, even while another process still holds or
// waits on it; QSharedMemory::create() moreover takes over the segment's
// lock semaphore and sets it to 1 whoever holds it. The other process then
// re-creates a semaphore of its own on its next operation, and a release on
// the new one leaves a count that no process holds: a restart of the daemon
// could freeze the display application for good. Made here first, with
// Qt's key files and names, the objects are only ever opened by Qt objects,
// which then remove nothing; the kernel's undo records (Qt acquires with
// SEM_UNDO) release a hold of a process that was killed.

#include <QString>

// Key file that QSystemSemaphore(key) hands to ftok(); the lock semaphore of
// QSharedMemory(key) uses the same one.
QString systemSemaphoreKeyFile(const QString& key);
// Key file of QSharedMemory(key) (its nativeKey()).
QString sharedMemoryKeyFile(const QString& key);

// Makes sure the key file and the semaphore of `key` exist. A semaphore made
// here, or one left at 0 by a creator that died before setting it, gets
// `initialValue`; an existing one keeps its count. False, with a reason in
// `error`, when either cannot be made.
bool keepSystemSemaphore(const QString& key, int initialValue, QString* error = nullptr);

enum class SegmentResult { Created, Exists, Failed };
// Creates the segment of QSharedMemory(key) with `size` bytes, read-write
// for its owner, without touching its lock semaphore. Exists leaves the
// segment as it is.
SegmentResult createSharedSegment(const QString& key, int size, QString* error = nullptr);
