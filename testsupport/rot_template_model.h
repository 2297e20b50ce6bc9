#pragma once
// Model files of the rotation-sweep template detector, written from a small
// description: every classifier holds the same trees, each either one leaf
// (nodes 1) or a stump (nodes 3: the root compares one feature with a
// threshold, below it leaf 1, at or above it leaf 2).
#include <cstdint>
#include <string>
#include <vector>

struct RotTemplateModelSpec {
  uint32_t magic = 0x09030101u;
  int32_t frameWidth = 200, frameHeight = 160;
  int32_t channelWidth = 100, channelHeight = 80;
  int32_t windowHeight = 8, windowWidth = 8;
  int32_t classifiers = 4;
  int32_t trees = 240;
  int32_t nodes = 1;
  float leaf = 0.1f;         // nodes 1: every tree's value
  uint32_t feature = 0;      // nodes 3: the stump's feature
  float threshold = 0.0f;
  float leafBelow = -0.1f, leafAbove = 0.1f;
  uint32_t child = 2;        // nodes 3: the root's child index
};

std::vector<uint8_t> RotTemplateModel_Bytes(const RotTemplateModelSpec& spec);
// Writes the bytes to path; false when the file cannot be written.
bool RotTemplateModel_Write(const RotTemplateModelSpec& spec, const std::string& path);
// A grey bitmap template of side x side: a bright bar across the middle rows
// on a dark ground.
bool RotTemplateModel_WriteTemplate(const std::string& path, int32_t side);
