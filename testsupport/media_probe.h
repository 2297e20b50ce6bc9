#pragma once
// Reads video files back with Debian's ffprobe and ffmpeg, for the tests of
// the recording road.
#include <cstdint>
#include <string>
#include <vector>

struct ProbedStream {
  std::string codecType;  // "video" / "audio"
  std::string codecName;  // "h264", "adpcm_ima_wav"
  int32_t width = 0, height = 0;
  std::string frameRate;  // r_frame_rate, e.g. "16/1"
  int32_t frames = -1;    // nb_read_frames (counted by decoding), -1 unknown
};

// Streams of the file; empty when ffprobe cannot read it. countFrames
// decodes the file to count its video frames.
std::vector<ProbedStream> Media_Probe(const std::string& path, bool countFrames);

// The n-th video frame (0 first) decoded to NV12 at the stream's size;
// empty on failure.
std::vector<uint8_t> Media_DecodeFrameNV12(const std::string& path, int32_t n);

// True when ffprobe and ffmpeg can be run.
bool Media_ToolsAvailable();

// PSNR (dB) of two equal-size byte planes; 99 for identical ones.
double Media_Psnr(const uint8_t* a, const uint8_t* b, size_t n);
