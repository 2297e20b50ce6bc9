#pragma once
// Test fixture support for the process-wide configuration: a fresh temporary
// data directory and a configuration (and lens-table registry) reset to the
// static defaults, both restored when the scope ends.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frame/lens_table.h"
#include "frame/global_variables.h"
#include "frame/data_directory.h"

class ScopedConfigState {
 public:
  ScopedConfigState() : savedDirectory_(DataDirectory()) {
    char tmpl[] = "/tmp/avmcfgXXXXXX";
    const char* made = mkdtemp(tmpl);
    dir_ = made != nullptr ? made : "/tmp";
    SetDataDirectory(dir_.c_str());
    ResetConfiguration();
  }
  ~ScopedConfigState() {
    ResetConfiguration();
    SetDataDirectory(savedDirectory_.c_str());
    std::error_code ec;
    if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ec);
  }
  ScopedConfigState(const ScopedConfigState&) = delete;
  ScopedConfigState& operator=(const ScopedConfigState&) = delete;

  // Frees what the configuration owns and returns it to the static defaults.
  static void ResetConfiguration() {
    GlobalVariables_Release();
    gv() = GlobalVariables{};
    LensTable_Registry() = LensTableRegistry{nullptr, -1, 0};
  }

  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

 private:
  std::string savedDirectory_;
  std::string dir_;
};
