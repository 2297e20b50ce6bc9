#pragma once
// The live-pipeline sample: the rig of sample_rig.h with a sequence of quad
// frames of the car moving slowly over the chessboard floor, the right
// camera darker and tinted, for `avmhost play`.
#include <cstdint>
#include <string>

constexpr const char* kPlayFramesFile = "play_frames.nv12";  // NV12 frames back to back
constexpr const char* kPlayInfoFile = "play_frames.txt";     // "width height count"
constexpr int32_t kPlayFrameCount = 12;
// Per-channel gain of the right camera (camera 4).
constexpr float kPlayTint[3] = {0.68f, 0.78f, 0.92f};

// The rig files, the frames and the overlay icons. True when all were written.
bool WriteSamplePlay(const std::string& dir);
