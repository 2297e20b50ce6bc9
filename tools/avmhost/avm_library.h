#pragma once
#include <string>

// The loaded libavmcore.so. Entry points are looked up by name, as the real
// display application does.
class AvmLibrary {
 public:
  AvmLibrary() = default;
  ~AvmLibrary();
  AvmLibrary(const AvmLibrary&) = delete;
  AvmLibrary& operator=(const AvmLibrary&) = delete;

  // Path from --lib, else $AVM_LIBRARY, else the library built beside us.
  bool Open(const std::string& path);
  const std::string& error() const { return error_; }

  // Returns the entry point or null (and records the error).
  void* Symbol(const char* name);

  template <typename Fn>
  Fn Get(const char* name) {
    return reinterpret_cast<Fn>(Symbol(name));
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

std::string DefaultLibraryPath();
