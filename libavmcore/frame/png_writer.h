#pragma once
#include <cstddef>
#include <cstdint>

#include "frame/matrix_types.h"

// Uncompressed 8-bit RGBA PNG from four separate planes of the same size
// (width and height from red, each plane's row step its width). The image
// goes into stored deflate blocks; rows longer than one block are split
// across blocks. Returns 1 when the whole file was written, flushed, synced
// and closed, 0 on any failure (bad planes, file not created, write or close
// error); a failed write removes the partial file.
int SavePngRGBA(const ImageU8* red, const ImageU8* green, const ImageU8* blue,
                const ImageU8* alpha, const char* path);

// CRC-32 (reflected polynomial 0xEDB88320) as PNG chunks use it.
void Crc32_Begin(uint32_t* crc);
void Crc32_Update(uint32_t* crc, const uint8_t* bytes, size_t n);
uint32_t Crc32_End(uint32_t* crc);

// Adler-32 as the zlib stream trailer uses it.
struct Adler32State {
  uint32_t a;
  uint32_t b;
};
void Adler32_Begin(Adler32State* state);
void Adler32_Update(Adler32State* state, const uint8_t* bytes, size_t n);
uint32_t Adler32_End(Adler32State* state);
