#pragma once
#include <cstddef>

// The one process-wide data directory. Every data file of the library is
// opened by a path formed from it at the moment of opening.

constexpr size_t kDataDirectorySize = 128;  // 127 characters and the NUL
constexpr const char* kDefaultDataDirectory = "/home/krv/1_morvelin";

// Current directory; never null, always NUL-terminated.
const char* DataDirectory();

// Replaces the directory. A null path or one that does not fit the buffer is
// refused with a log line and leaves the directory as it was. Returns true
// when the directory was replaced.
bool SetDataDirectory(const char* path);

// Writes "<directory>/<name>" into out. Returns false (and writes an empty
// string when size > 0) when the result would not fit.
bool DataFilePath(char* out, size_t size, const char* name);
