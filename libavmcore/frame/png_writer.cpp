#include "frame/png_writer.h"
#include "frame/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint32_t g_crcTable[256];

void BuildCrcTable() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    g_crcTable[n] = c;
  }
}

void PutU32BE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Writes to the file while keeping the running CRC of the chunk.
struct ChunkWriter {
  FILE* f;
  bool ok;
  uint32_t crc;

  void Raw(const uint8_t* p, size_t n) {
    if (ok && n > 0 && fwrite(p, 1, n, f) != n) ok = false;
  }
  void Begin(uint32_t length, const char* type) {
    uint8_t hdr[8];
    PutU32BE(hdr, length);
    memcpy(hdr + 4, type, 4);
    Raw(hdr, 8);
    Crc32_Begin(&crc);
    Crc32_Update(&crc, hdr + 4, 4);
  }
  void Data(const uint8_t* p, size_t n) {
    Raw(p, n);
    Crc32_Update(&crc, p, n);
  }
  void End() {
    uint8_t b[4];
    PutU32BE(b, Crc32_End(&crc));
    Raw(b, 4);
  }
};

bool PlaneMatches(const ImageU8* p, int32_t w, int32_t h) {
  return p && p->data && p->width == w && p->height == h;
}

}  // namespace

void Crc32_Begin(uint32_t* crc) {
  static const bool built = (BuildCrcTable(), true);  // once per process, thread-safe
  (void)built;
  *crc = 0xFFFFFFFFu;
}

void Crc32_Update(uint32_t* crc, const uint8_t* bytes, size_t n) {
  uint32_t c = *crc;
  for (size_t i = 0; i < n; ++i) c = g_crcTable[(c ^ bytes[i]) & 255u] ^ (c >> 8);
  *crc = c;
}

uint32_t Crc32_End(uint32_t* crc) {
  *crc = ~*crc;
  return *crc;
}

void Adler32_Begin(Adler32State* state) {
  state->a = 1;
  state->b = 0;
}

void Adler32_Update(Adler32State* state, const uint8_t* bytes, size_t n) {
  uint32_t a = state->a, b = state->b;
  for (size_t i = 0; i < n; ++i) {
    a = (a + bytes[i]) % 65521u;
    b = (b + a) % 65521u;
  }
  state->a = a;
  state->b = b;
}

uint32_t Adler32_End(Adler32State* state) { return state->a + (state->b << 16); }

int SavePngRGBA(const ImageU8* red, const ImageU8* green, const ImageU8* blue,
                const ImageU8* alpha, const char* path) {
  if (!path || !red || !red->data || red->width < 1 || red->height < 1) return 0;
  const int32_t w = red->width, h = red->height;
  if (!PlaneMatches(green, w, h) || !PlaneMatches(blue, w, h) || !PlaneMatches(alpha, w, h))
    return 0;

  const uint64_t rowBytes = static_cast<uint64_t>(w) * 4 + 1;
  const uint64_t total = rowBytes * static_cast<uint64_t>(h);
  // Whole rows per stored block where a row fits; longer rows are split
  // over full 65535-byte blocks.
  const uint64_t blockBytes = rowBytes <= 65535 ? (65535 / rowBytes) * rowBytes : 65535;
  const uint64_t blocks = (total + blockBytes - 1) / blockBytes;
  const uint64_t idatLength = total + 5 * blocks + 6;
  if (idatLength > 0x7FFFFFFFu) return 0;  // beyond the PNG chunk length limit

  std::vector<uint8_t> raw(static_cast<size_t>(total), 0);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = raw.data() + static_cast<size_t>(y) * rowBytes + 1;  // filter byte stays 0
    const size_t off = static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int32_t x = 0; x < w; ++x) {
      row[4 * x + 0] = red->data[off + x];
      row[4 * x + 1] = green->data[off + x];
      row[4 * x + 2] = blue->data[off + x];
      row[4 * x + 3] = alpha->data[off + x];
    }
  }

  FILE* f = fopen(path, "wb");
  if (!f) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  ChunkWriter out{f, true, 0};

  static const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  out.Raw(kSignature, 8);

  uint8_t ihdr[13];
  PutU32BE(ihdr, static_cast<uint32_t>(w));
  PutU32BE(ihdr + 4, static_cast<uint32_t>(h));
  ihdr[8] = 8;   // bit depth
  ihdr[9] = 6;   // RGBA
  ihdr[10] = 0;  // deflate
  ihdr[11] = 0;  // adaptive filtering
  ihdr[12] = 0;  // no interlace
  out.Begin(13, "IHDR");
  out.Data(ihdr, 13);
  out.End();

  out.Begin(static_cast<uint32_t>(idatLength), "IDAT");
  static const uint8_t kZlibHeader[2] = {0x78, 0xDA};
  out.Data(kZlibHeader, 2);
  uint64_t pos = 0;
  for (uint64_t k = 0; k < blocks; ++k) {
    const uint64_t len = (k + 1 < blocks) ? blockBytes : total - pos;
    const uint16_t n = static_cast<uint16_t>(len);
    const uint16_t nn = static_cast<uint16_t>(~n);
    uint8_t hdr[5] = {static_cast<uint8_t>(k + 1 == blocks ? 1 : 0),
                      static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8),
                      static_cast<uint8_t>(nn & 0xFF), static_cast<uint8_t>(nn >> 8)};
    out.Data(hdr, 5);
    out.Data(raw.data() + pos, static_cast<size_t>(len));
    pos += len;
  }
  Adler32State adler;
  Adler32_Begin(&adler);
  Adler32_Update(&adler, raw.data(), raw.size());
  uint8_t trailer[4];
  PutU32BE(trailer, Adler32_End(&adler));
  out.Data(trailer, 4);
  out.End();

  static const uint8_t kIend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  out.Raw(kIend, 12);

  bool ok = out.ok;
  struct stat st;
  const bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
  if (fflush(f) != 0) ok = false;
  if (fsync(fileno(f)) != 0) ok = false;
  if (fclose(f) != 0) ok = false;
  if (!ok) {
    if (regular) remove(path);  // a truncated picture is worse than none
    return 0;
  }
  return 1;
}
