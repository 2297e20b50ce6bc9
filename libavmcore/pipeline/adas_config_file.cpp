// Reading and writing the driver-assistance configuration files.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pipeline/adas_config.h"
#include "frame/log.h"
#include "toolkit/matrix_alloc.h"

namespace {

// One field of a function file: a word of the configuration, or a table
// whose size is given by two words.
struct FileField {
  int word;        // >= 0: configuration word
  ImageI32* table; // else: this table
  int colsWord, rowsWord;
};

struct FunctionFile {
  int32_t bit;
  int presentWord;
  const char* name;
  uint32_t magic;
  std::vector<FileField> fields;
};

FileField W(int word) { return FileField{word, nullptr, 0, 0}; }
FileField T(ImageI32* table, int colsWord, int rowsWord) { return FileField{-1, table, colsWord, rowsWord}; }

// The function files in the order the writer visits them.
std::vector<FunctionFile> FunctionFiles(ADASConfig* c) {
  return {
      {kAdasLDWS, kAdasLdwsPresent, "adas_ldws.krv", kAdasLdwsMagic,
       {W(11), W(12), W(13), W(14), W(15), W(16), W(17), W(18), T(&c->ldws, 15, 16)}},
      {kAdasBSDS, kAdasBsdsPresent, "adas_bsds.krv", kAdasBsdsMagic,
       {W(25), W(26), W(27), W(28), W(29), W(42), W(43), W(44), T(&c->bsds[0], 26, 27),
        T(&c->bsds[1], 26, 27), T(&c->bsds[2], 29, 27), T(&c->bsds[3], 42, 43), T(&c->bsds[4], 42, 43)}},
      {kAdasAPA, kAdasApaPresent, "adas_apa.krv", kAdasApaMagic,
       {W(59), W(60), W(61), W(62), T(&c->apa, 60, 61), W(55), W(56), W(57), W(58)}},
      {kAdasMODS, kAdasModsPresent, "adas_mods.krv", kAdasModsMagic,
       {W(5), W(4), W(7), W(6), W(69), W(70), W(71), W(80), W(81), T(&c->mods[0], 70, 71),
        T(&c->mods[1], 70, 71), T(&c->mods[2], 80, 81), T(&c->mods[3], 80, 81)}},
      {kAdasRCTA, kAdasRctaPresent, "adas_rcta.krv", kAdasRctaMagic,
       {W(92), W(93), W(94), W(95), T(&c->rcta[0], 93, 94), T(&c->rcta[1], 93, 94)}},
      {kAdasLVSA, kAdasLvsaPresent, "adas_lvsa.krv", kAdasLvsaMagic,
       {W(105), W(106), W(107), W(108), T(&c->lvsa, 106, 107)}},
  };
}

std::string FilePath(const char* dir, const char* name) { return std::string(dir) + "/" + name; }

bool ReadWord(FILE* f, int32_t* out) {
  int32_t v;
  if (fread(&v, 4, 1, f) != 1) return false;
  *out = v;
  return true;
}

long BytesLeft(FILE* f) {
  long pos = ftell(f);
  if (pos < 0 || fseek(f, 0, SEEK_END) != 0) return 0;
  long end = ftell(f);
  fseek(f, pos, SEEK_SET);
  return end > pos ? end - pos : 0;
}

void FreeTable(ImageI32* t) {
  ImageI32_FreeData(t);
  *t = ImageI32{0, 0, nullptr};
}

// Reads one function file. On any shortfall the function stays absent and
// the configuration is as before.
bool LoadFunction(ADASConfig* c, const FunctionFile& ff, const char* dir) {
  std::string path = FilePath(dir, ff.name);
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  int32_t magic = 0;
  if (!ReadWord(f, &magic) || static_cast<uint32_t>(magic) != ff.magic) {
    fclose(f);
    return false;
  }
  int32_t saved[kAdasWordCount];
  memcpy(saved, c->C, sizeof(saved));
  std::vector<ImageI32*> loaded;
  bool ok = true;
  for (const FileField& fld : ff.fields) {
    if (fld.table == nullptr) {
      if (!ReadWord(f, &c->C[fld.word])) ok = false;
    } else {
      const int64_t cols = c->C[fld.colsWord], rows = c->C[fld.rowsWord];
      // Sizes come from the file: each side within what a packed position
      // can address, and the table within what the file still holds, before
      // anything is allocated.
      if (cols < 0 || rows < 0 || cols > kAdasMaxTableSide || rows > kAdasMaxTableSide ||
          cols * rows * 4 > BytesLeft(f)) {
        AvmLog("ADASConfig_Load %s: table of %lld x %lld does not fit the file\n", path.c_str(),
               static_cast<long long>(cols), static_cast<long long>(rows));
        ok = false;
      } else {
        const int64_t bytes = cols * rows * 4;
        FreeTable(fld.table);
        loaded.push_back(fld.table);
        if (!ImageI32_NewData(fld.table, static_cast<int32_t>(cols), static_cast<int32_t>(rows))) {
          AvmLog("ADASConfig_Load %s: no memory for a table of %lld x %lld\n", path.c_str(),
                 static_cast<long long>(cols), static_cast<long long>(rows));
          ok = false;
        } else if (bytes > 0 && fread(fld.table->data, 1, bytes, f) != static_cast<size_t>(bytes)) {
          ok = false;
        }
      }
    }
    if (!ok) break;
  }
  fclose(f);
  if (!ok) {
    AvmLog("ADASConfig_Load %s is short or corrupt, function left out\n", path.c_str());
    for (ImageI32* t : loaded) FreeTable(t);
    memcpy(c->C, saved, sizeof(saved));
    c->C[ff.presentWord] = 0;
    return false;
  }
  c->C[ff.presentWord] = 1;
  return true;
}

bool WriteWords(FILE* f, const int32_t* words, size_t n) {
  return n == 0 || fwrite(words, 4, n, f) == n;
}

// fflush + fsync + fclose; false when any of them or an earlier write failed.
bool FinishFile(FILE* f, bool ok) {
  if (fflush(f) != 0) ok = false;
  if (fsync(fileno(f)) != 0) ok = false;
  if (fclose(f) != 0) ok = false;
  return ok;
}

}  // namespace

int ADASConfig_Load(ADASConfig* config, const char* dataDirectory) {
  if (config == nullptr || dataDirectory == nullptr) return 0;
  std::string path = FilePath(dataDirectory, "adas_base.krv");
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  int32_t magic = 0;
  if (!ReadWord(f, &magic) || static_cast<uint32_t>(magic) != kAdasBaseMagic) {
    fclose(f);
    return 0;
  }
  int32_t* C = config->C;
  const int32_t before[5] = {C[kAdasLoaded], C[kAdasFrameWidth], C[kAdasFrameHeight], C[kAdasCarWidth],
                             C[kAdasCarLength]};
  C[kAdasLoaded] = 1;
  // A short file leaves the words it lacks as they were.
  bool more = ReadWord(f, &C[kAdasFrameWidth]) && ReadWord(f, &C[kAdasFrameHeight]) &&
              ReadWord(f, &C[kAdasCarWidth]) && ReadWord(f, &C[kAdasCarLength]);
  // Every function sizes and indexes the quad frame by these: a frame no
  // camera delivers refuses the file, the configuration unchanged.
  const int32_t frameW = C[kAdasFrameWidth], frameH = C[kAdasFrameHeight];
  if (frameW < 0 || frameH < 0 || frameW > kAdasMaxFrameSide || frameH > kAdasMaxFrameSide) {
    AvmLog("ADASConfig_Load: %s names a frame of %d x %d, file refused\n", path.c_str(), frameW, frameH);
    C[kAdasLoaded] = before[0];
    C[kAdasFrameWidth] = before[1];
    C[kAdasFrameHeight] = before[2];
    C[kAdasCarWidth] = before[3];
    C[kAdasCarLength] = before[4];
    fclose(f);
    return 0;
  }
  C[kAdasEnableMask] = 255;
  if (more) more = ReadWord(f, &C[kAdasEnableMask]);
  C[kAdasCameraMask] = 15;
  if (more) ReadWord(f, &C[kAdasCameraMask]);
  fclose(f);

  int32_t mask = C[kAdasEnableMask];
  for (const FunctionFile& ff : FunctionFiles(config)) {
    if (ff.bit == kAdasAPA) continue;  // written, never read
    if (mask & ff.bit) LoadFunction(config, ff, dataDirectory);
  }
  if (mask & kAdasDirty) C[kAdasDirtyPresent] = 1;
  // Every reader indexes the frame with these entries: one outside the frame
  // (or negative) becomes the empty entry 0, the top-left pixel.
  const uint32_t fw = static_cast<uint32_t>(C[kAdasFrameWidth]), fh = static_cast<uint32_t>(C[kAdasFrameHeight]);
  ImageI32* tables[] = {&config->ldws, &config->bsds[0], &config->bsds[1], &config->bsds[2], &config->bsds[3],
                        &config->bsds[4], &config->apa, &config->mods[0], &config->mods[1], &config->mods[2],
                        &config->mods[3], &config->rcta[0], &config->rcta[1], &config->lvsa};
  for (ImageI32* t : tables) {
    if (t->data == nullptr || t->width <= 0 || t->height <= 0) continue;
    const size_t n = static_cast<size_t>(t->width) * static_cast<size_t>(t->height);
    for (size_t i = 0; i < n; ++i) {
      const uint32_t e = static_cast<uint32_t>(t->data[i]);
      if ((e & 0xFFFFu) >= fw || (e >> 16) >= fh) t->data[i] = 0;
    }
  }
  return 1;
}

int ADASConfig_Save(const ADASConfig* config, const char* dataDirectory, int32_t saveMask) {
  if (config == nullptr || dataDirectory == nullptr) return 0;
  if (config->C[kAdasLoaded] == 0) return 1;
  // The field list points into the record; nothing is modified through it.
  ADASConfig* c = const_cast<ADASConfig*>(config);
  bool allOk = true;
  std::string path = FilePath(dataDirectory, "adas_base.krv");
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path.c_str());
    allOk = false;
  } else {
    const int32_t words[7] = {static_cast<int32_t>(kAdasBaseMagic), c->C[2], c->C[3], c->C[4], c->C[5],
                              saveMask, c->C[9]};
    if (!FinishFile(f, WriteWords(f, words, 7))) {
      AvmLog("ADASConfig_Save write %s failed\n", path.c_str());
      allOk = false;
    }
  }
  for (const FunctionFile& ff : FunctionFiles(c)) {
    if (c->C[ff.presentWord] == 0 || (saveMask & ff.bit) == 0) continue;
    path = FilePath(dataDirectory, ff.name);
    f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
      AvmLog("open file failed %s \n", path.c_str());
      allOk = false;
      continue;
    }
    int32_t magic = static_cast<int32_t>(ff.magic);
    bool ok = WriteWords(f, &magic, 1);
    for (const FileField& fld : ff.fields) {
      if (!ok) break;
      if (fld.table == nullptr) {
        ok = WriteWords(f, &c->C[fld.word], 1);
        continue;
      }
      int64_t cols = c->C[fld.colsWord], rows = c->C[fld.rowsWord];
      int64_t n = cols > 0 && rows > 0 ? cols * rows : 0;
      // The words give the stored size; a table that does not match them
      // cannot be written truthfully.
      if (n > 0 && (fld.table->data == nullptr ||
                    static_cast<int64_t>(fld.table->width) * fld.table->height != n)) {
        AvmLog("ADASConfig_Save %s: table does not match its size words\n", ff.name);
        ok = false;
        break;
      }
      ok = WriteWords(f, fld.table->data, static_cast<size_t>(n));
    }
    if (!FinishFile(f, ok)) {
      AvmLog("ADASConfig_Save write %s failed\n", path.c_str());
      allOk = false;
    }
  }
  return allOk ? 1 : 0;
}

void ADASConfig_Free(ADASConfig* config) {
  if (config == nullptr) return;
  FreeTable(&config->ldws);
  for (ImageI32& t : config->bsds) FreeTable(&t);
  FreeTable(&config->apa);
  for (ImageI32& t : config->mods) FreeTable(&t);
  for (ImageI32& t : config->rcta) FreeTable(&t);
  FreeTable(&config->lvsa);
  for (int w : {kAdasLoaded, kAdasLdwsPresent, kAdasBsdsPresent, kAdasApaPresent, kAdasModsPresent,
                kAdasRctaPresent, kAdasLvsaPresent})
    config->C[w] = 0;
}

int32_t ADASConfig_ReadBaseValue(const char* dataDirectory) {
  if (dataDirectory == nullptr) return 0;
  std::string path = FilePath(dataDirectory, "adas_base.krv");
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  int32_t value = 255;
  if (fseek(f, 20, SEEK_SET) != 0 || !ReadWord(f, &value)) value = 255;
  fclose(f);
  return value;
}

void ADASConfig_ToCameraCoords(ADASConfig* config) {
  if (config == nullptr || config->C[kAdasCameraCoords] == 0 || config->C[kAdasLoaded] == 0) return;
  const uint32_t halfW = static_cast<uint32_t>(config->C[kAdasFrameWidth]) / 2;
  const uint32_t halfH = static_cast<uint32_t>(config->C[kAdasFrameHeight]) / 2;
  auto convert = [&](ImageI32* t, bool markHalves) {
    if (t->data == nullptr || t->width <= 0 || t->height <= 0) return;
    int64_t n = static_cast<int64_t>(t->width) * t->height;
    for (int64_t i = 0; i < n; ++i) {
      uint32_t e = static_cast<uint32_t>(t->data[i]);
      uint32_t col = e & 0xFFFFu, row = e >> 16;
      uint32_t flags = 0;
      if (col >= halfW) {
        col -= halfW;
        flags |= 1u << 28;
      }
      if (row >= halfH) {
        row -= halfH;
        flags |= 1u << 29;
      }
      uint32_t out = col | (row << 16);
      if (markHalves) out |= flags;
      t->data[i] = static_cast<int32_t>(out);
    }
  };
  convert(&config->ldws, true);
  for (ImageI32& t : config->bsds) convert(&t, false);
  convert(&config->apa, false);
  for (ImageI32& t : config->mods) convert(&t, false);
  for (ImageI32& t : config->rcta) convert(&t, false);
  convert(&config->lvsa, false);
  config->C[kAdasCameraCoords] = 0;
}
