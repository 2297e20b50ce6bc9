#pragma once
// Plain pictures of the stand-in and their BMP files.
#include <cstdint>
#include <string>
#include <vector>

// Grey (channels 1) or R, G, B (channels 3) picture, row 0 at the top.
struct HostImage {
  int32_t width = 0, height = 0, channels = 1;
  std::vector<uint8_t> data;
};

// Reads an uncompressed 8-, 24- or 32-bit BMP, top-down or bottom-up, as a
// grey picture (channels 1) or in colour (channels 3).
bool HostImage_ReadBmp(const std::string& path, HostImage* out, int channels = 1);
// Writes a 24-bit bottom-up BMP.
bool HostImage_WriteBmp(const std::string& path, const HostImage& img);
