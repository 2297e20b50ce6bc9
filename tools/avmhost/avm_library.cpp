#include "avm_library.h"

#include <dlfcn.h>

#include <cstdlib>

AvmLibrary::~AvmLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool AvmLibrary::Open(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* e = dlerror();
    error_ = e != nullptr ? e : "dlopen failed";
    return false;
  }
  return true;
}

void* AvmLibrary::Symbol(const char* name) {
  if (handle_ == nullptr) return nullptr;
  dlerror();
  void* sym = dlsym(handle_, name);
  if (sym == nullptr) {
    const char* e = dlerror();
    error_ = e != nullptr ? e : std::string("missing symbol ") + name;
  }
  return sym;
}

std::string DefaultLibraryPath() {
  const char* env = getenv("AVM_LIBRARY");
  if (env != nullptr && env[0] != '\0') return env;
  return AVMHOST_DEFAULT_LIBRARY;
}
