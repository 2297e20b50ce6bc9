#include "frame/text_utils.h"
#include "frame/log.h"

#include <cctype>
#include <cstdio>
#include <cstring>

const char* StrCaseStr(const char* haystack, const char* needle) {
  if (haystack == nullptr || needle == nullptr || needle[0] == '\0' || haystack[0] == '\0') return nullptr;
  size_t n = strlen(needle);
  for (const char* p = haystack; *p != '\0'; ++p) {
    size_t i = 0;
    while (i < n && p[i] != '\0' &&
           tolower(static_cast<unsigned char>(p[i])) == tolower(static_cast<unsigned char>(needle[i])))
      ++i;
    if (i == n) return p;
    if (p[i] == '\0') return nullptr;  // the rest of the haystack is shorter than the needle
  }
  return nullptr;
}

int copyFile(const char* src, const char* dst) {
  if (src == nullptr || dst == nullptr) {
    AvmLog("copyFile src or dest file null ! ");
    return 0;
  }
  FILE* in = fopen(src, "rb");
  FILE* out = in != nullptr ? fopen(dst, "wb") : nullptr;
  if (in == nullptr || out == nullptr) {
    if (in != nullptr) fclose(in);
    AvmLog("copyFile fopen failed ! ");
    return 0;
  }
  int ch;
  while ((ch = fgetc(in)) != EOF) fputc(ch, out);
  const bool readFailed = ferror(in) != 0;
  fclose(in);
  // A full disk shows only in the write error state or at close.
  const bool writeFailed = ferror(out) != 0;
  if (fclose(out) != 0 || writeFailed || readFailed) {
    AvmLog("copyFile write failed ! ");
    return 0;
  }
  return 1;
}
