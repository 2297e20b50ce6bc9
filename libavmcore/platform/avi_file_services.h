#pragma once
// The recording file of the encoder stand-in is written by the library's AVI
// writer (pipeline layer); these are the calls it makes.
#include <cstdint>

struct AviWriter;

// Creates path and writes the header; null on failure (AviWriter_LastError).
AviWriter* AviWriter_Open(const char* path, int32_t width, int32_t height, const char* fourcc, float rate);
// One video chunk ("00db"); 0, or -1 on failure.
int AviWriter_WriteVideo(AviWriter* writer, const void* data, int32_t size, const void* extra, int32_t extraSize,
                         int keyFrame);
// Index and final header, then the file is closed and the writer freed. 0, or -1.
int AviWriter_Close(AviWriter* writer);
