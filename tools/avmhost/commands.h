#pragma once
#include <string>
#include <vector>

class AvmLibrary;

// One sub-command of avmhost. `args` holds the words after the command name;
// the result is the process exit code.
struct HostCommand {
  const char* name;
  const char* usage;
  int (*run)(AvmLibrary& lib, const std::vector<std::string>& args);
};

// Looks up "--name value" in args; returns fallback when absent.
std::string OptionValue(const std::vector<std::string>& args, const std::string& name,
                        const std::string& fallback = "");

int RunConfig(AvmLibrary& lib, const std::vector<std::string>& args);
int RunViews(AvmLibrary& lib, const std::vector<std::string>& args);
int RunBirdseye(AvmLibrary& lib, const std::vector<std::string>& args);
int RunCalibrate(AvmLibrary& lib, const std::vector<std::string>& args);

// Builds the bird's-eye files of a calibrated data directory through the
// exports and stitches the quad frame into the picture at out. Prints its
// steps when verbose. The process exit code.
int StitchBirdseye(AvmLibrary& lib, const std::string& dir, const std::string& frame, const std::string& out,
                   bool verbose);
// True when args hold the flag.
bool HasFlag(const std::vector<std::string>& args, const std::string& flag);
int RunPlay(AvmLibrary& lib, const std::vector<std::string>& args);
int RunBowl(AvmLibrary& lib, const std::vector<std::string>& args);
// The six-camera form (birdseye --six): two camera groups meeting at a split
// line across the vehicle.
int RunBirdseyeSix(AvmLibrary& lib, const std::vector<std::string>& args);
