#include "frame/data_directory.h"
#include "frame/log.h"

#include <cstdio>
#include <cstring>

namespace {
char gDataDirectory[kDataDirectorySize] = "/home/krv/1_morvelin";
}

const char* DataDirectory() { return gDataDirectory; }

bool SetDataDirectory(const char* path) {
  if (path == nullptr) {
    AvmLog("SetDataDirectory: null path refused\n");
    return false;
  }
  size_t len = strnlen(path, kDataDirectorySize);
  if (len >= kDataDirectorySize) {
    AvmLog("SetDataDirectory: path longer than %zu characters refused\n", kDataDirectorySize - 1);
    return false;
  }
  memcpy(gDataDirectory, path, len + 1);
  return true;
}

bool DataFilePath(char* out, size_t size, const char* name) {
  if (out == nullptr || size == 0) return false;
  int n = snprintf(out, size, "%s/%s", gDataDirectory, name);
  if (n < 0 || static_cast<size_t>(n) >= size) {
    out[0] = '\0';
    return false;
  }
  return true;
}
