// avmhost: command-line stand-in for the display application.
#include <cstdio>
#include <string>
#include <vector>

#include "avm_library.h"
#include "commands.h"

namespace {

const HostCommand kCommands[] = {
    {"config", "config [--data DIR]   set the data directory, Init, print the configuration records",
     RunConfig},
    {"views", "views --data DIR [--frame QUAD.bmp] [--out DIR]   draw every single-camera view from the library's LUTs, meshes and guide lines",
     RunViews},
    {"birdseye", "birdseye --data DIR [--frame QUAD.bmp] [--out FILE]   build the bird's-eye files, stitch the frame", RunBirdseye},
    {"calibrate",
     "calibrate [--data DIR] [--frame QUAD.bmp] [--out DIR] [--json]   solve the four camera poses from one quad "
     "frame of a calibration site (layout from its globalimage_base.txt), write the data files, stitch the bird's-eye picture (no --data: an embedded sample)",
     RunCalibrate},
    {"play", "play [--data DIR] [--frames N] [--record FILE.avi] [--capture DIR] [--out DIR]   run the live pipeline on the frames of avmsample play",
     RunPlay},
    {"bowl", "bowl --data DIR [--frame QUAD.bmp] [--out DIR]   draw the 3-D bowl view from the library's meshes and view matrices, and its 3-D LUT",
     RunBowl},
    {"birdseye", "birdseye --data DIR [--frame QUAD.bmp] [--out FILE]   build the bird's-eye files, stitch the frame\n"
                 "    birdseye --six --data DIR [--out FILE]   the same for six cameras (frame1.bmp, frame2.bmp)",
     RunBirdseye},
};

void Usage() {
  fprintf(stderr, "usage: avmhost [--lib PATH] COMMAND [options]\n");
  for (const HostCommand& c : kCommands) fprintf(stderr, "  %s\n", c.usage);
}

}  // namespace

std::string OptionValue(const std::vector<std::string>& args, const std::string& name,
                        const std::string& fallback) {
  for (size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == name) return args[i + 1];
  return fallback;
}

bool HasFlag(const std::vector<std::string>& args, const std::string& flag) {
  for (const std::string& a : args)
    if (a == flag) return true;
  return false;
}

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::string libPath = DefaultLibraryPath();
  if (words.size() >= 2 && words[0] == "--lib") {
    libPath = words[1];
    words.erase(words.begin(), words.begin() + 2);
  }
  if (words.empty()) {
    Usage();
    return 2;
  }
  for (const HostCommand& c : kCommands) {
    if (words[0] != c.name) continue;
    AvmLibrary lib;
    if (!lib.Open(libPath)) {
      fprintf(stderr, "avmhost: cannot load %s: %s\n", libPath.c_str(), lib.error().c_str());
      return 1;
    }
    return c.run(lib, std::vector<std::string>(words.begin() + 1, words.end()));
  }
  fprintf(stderr, "avmhost: unknown command '%s'\n", words[0].c_str());
  Usage();
  return 2;
}
