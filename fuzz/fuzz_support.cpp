#include "fuzz/fuzz_support.h"

#include <stdlib.h>

#include <cstdio>

#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/lens_table.h"
#include "frame/log.h"

namespace fuzz {
namespace {

void QuietSink(const char*) {}

}  // namespace

const std::string& Dir() {
  static const std::string dir = [] {
    AvmLog_SetSink(QuietSink);
    char tmpl[] = "/tmp/avmfuzzXXXXXX";
    const char* made = mkdtemp(tmpl);
    std::string d = made != nullptr ? made : "/tmp";
    SetDataDirectory(d.c_str());
    return d;
  }();
  return dir;
}

std::string WriteFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = Dir() + "/" + name;
  if (FILE* f = fopen(path.c_str(), "wb")) {
    if (size > 0) fwrite(data, 1, size, f);
    fclose(f);
  }
  return path;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  return WriteFile(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void ResetConfiguration() {
  Dir();
  GlobalVariables_Release();
  gv() = GlobalVariables{};
  LensTable_Registry() = LensTableRegistry{nullptr, -1, 0};
  GlobalVariables_InitRuntimeDefaults();
}

}  // namespace fuzz
