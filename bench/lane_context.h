#pragma once
// The label of a kernel measured with its lanes limited to `lanes`: whether
// the 16-lane 512-bit forms really ran (the report's context says which
// build and CPU; see support/code_path.cpp).
#include <string>

#include "toolkit/code_path.h"

inline std::string LanePath(int lanes) {
  if (lanes >= 16) return CodePath_WideForms() != 0 ? "16-lane 512-bit forms" : "eight-lane form (no 512-bit forms)";
  return "eight-lane form";
}
