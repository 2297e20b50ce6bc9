#pragma once
// What every fuzz target needs: a private data directory for the process,
// the input written into it as files, the library's log lines kept quiet,
// and the configuration back at its defaults for each input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"

namespace fuzz {

// The process's data directory (created on first use and made the library's
// data directory).
const std::string& Dir();
// Writes bytes to Dir()/name; returns the path.
std::string WriteFile(const std::string& name, const std::string& bytes);
std::string WriteFile(const std::string& name, const uint8_t* data, size_t size);
// Frees what the global configuration owns and returns it (and the lens
// table registry) to the static defaults. Silences the log on first use.
void ResetConfiguration();

}  // namespace fuzz
