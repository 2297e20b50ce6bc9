#include "host_runner.h"

#include <sys/wait.h>

#include <cstdio>

int RunHost(const std::string& args, std::string* out, HostStderr err) {
  const std::string cmd =
      std::string(AVMHOST_BINARY) + " " + args + (err == HostStderr::kCaptured ? " 2>&1" : " 2>/dev/null");
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
    if (out != nullptr) out->append(buf, n);
  }
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}
