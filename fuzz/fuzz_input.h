#pragma once
// Input framing shared by the fuzz targets and the seed writer
// (avmsample fuzz-seeds). A target that reads several files takes them from
// one input: each file but the last is a 32-bit little-endian length and
// that many bytes; the last file is whatever remains. A length beyond the
// input takes the rest, so every input splits somehow.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzinput {

inline std::vector<std::string> Split(const uint8_t* data, size_t size, int files) {
  std::vector<std::string> out;
  size_t at = 0;
  for (int i = 0; i + 1 < files; ++i) {
    uint32_t len = 0;
    for (int b = 0; b < 4; ++b)
      if (at < size) len |= static_cast<uint32_t>(data[at++]) << (8 * b);
    const size_t take = len < size - at ? len : size - at;
    out.emplace_back(reinterpret_cast<const char*>(data + at), take);
    at += take;
  }
  out.emplace_back(reinterpret_cast<const char*>(data + at), size - at);
  return out;
}

inline std::string Join(const std::vector<std::string>& files) {
  std::string out;
  for (size_t i = 0; i < files.size(); ++i) {
    if (i + 1 < files.size()) {
      const uint32_t len = static_cast<uint32_t>(files[i].size());
      for (int b = 0; b < 4; ++b) out.push_back(static_cast<char>((len >> (8 * b)) & 0xFF));
    }
    out += files[i];
  }
  return out;
}

}  // namespace fuzzinput
