#pragma once
// Whole files as bytes, for tests that check what was written.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

// The file's bytes; empty when it cannot be opened.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  fclose(f);
  return bytes;
}

}  // namespace testsupport
