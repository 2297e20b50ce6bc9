// avmsample: writes the embedded sample data directories that avmhost's
// commands run on (the display application would have real ones).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/avmsample/sample_calibrate.h"
#include "tools/avmsample/sample_play.h"
#include "tools/avmsample/fuzz_seeds.h"
#include "tools/avmsample/sample_rig.h"
#include "tools/avmsample/six_sample.h"

namespace {

struct SampleKind {
  const char* name;
  const char* usage;
  bool (*write)(const std::string& dir);
};

const SampleKind kKinds[] = {
    {"rig", "rig DIR   four fisheye cameras around a car on a chessboard floor (views, birdseye)", WriteSampleRig},
    {"calibrate",
     "calibrate DIR [--layout 1|2|3]   a calibration site of board layout 1 (default), 2 or 3 seen by four cameras at known poses "
     "(calibrate)",
     WriteSampleCalibrate},
    {"play", "play DIR  the rig with a sequence of quad frames, the right camera tinted, and overlay icons (play)",
     WriteSamplePlay},
    {"six", "six DIR   six fisheye cameras around a car on a chessboard floor (birdseye --six)", WriteSixSample},
    {"fuzz-seeds", "fuzz-seeds DIR   seed inputs of the fuzz targets, one folder per target (fuzz/seeds)",
     WriteFuzzSeeds},
};

void Usage() {
  fprintf(stderr, "usage: avmsample KIND DIR\n");
  for (const SampleKind& k : kKinds) fprintf(stderr, "  %s\n", k.usage);
}

}  // namespace

int main(int argc, char** argv) {
  // The calibration site's board layout: calibrate DIR --layout N.
  if (argc == 5 && strcmp(argv[1], "calibrate") == 0 && strcmp(argv[3], "--layout") == 0) {
    char* end = nullptr;
    const long layout = strtol(argv[4], &end, 10);
    if (end == argv[4] || *end != '\0' || (layout < 1 || layout > 3)) {
      fprintf(stderr, "avmsample: --layout takes 1, 2 or 3\n");
      return 2;
    }
    if (!WriteSampleCalibrateLayout(argv[2], static_cast<int>(layout))) {
      fprintf(stderr, "avmsample: cannot write the calibrate sample into %s\n", argv[2]);
      return 1;
    }
    printf("sample data directory: %s\n", argv[2]);
    return 0;
  }
  if (argc != 3) {
    Usage();
    return 2;
  }
  for (const SampleKind& k : kKinds) {
    if (strcmp(argv[1], k.name) != 0) continue;
    if (!k.write(argv[2])) {
      fprintf(stderr, "avmsample: cannot write the %s sample into %s\n", k.name, argv[2]);
      return 1;
    }
    printf("sample data directory: %s\n", argv[2]);
    return 0;
  }
  fprintf(stderr, "avmsample: unknown kind '%s'\n", argv[1]);
  Usage();
  return 2;
}
