#include "testsupport/rot_template_model.h"

#include <cstdio>
#include <cstring>

#include "toolkit/bmp_file.h"

namespace {

void Put(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutF(std::vector<uint8_t>* out, float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  Put(out, u);
}

}  // namespace

std::vector<uint8_t> RotTemplateModel_Bytes(const RotTemplateModelSpec& s) {
  std::vector<uint8_t> out;
  Put(&out, s.magic);
  const int32_t header[9] = {s.frameWidth,  s.frameHeight, s.channelWidth, s.channelHeight, s.windowHeight,
                             s.windowWidth, s.classifiers, s.trees,        s.nodes};
  for (int32_t v : header) Put(&out, static_cast<uint32_t>(v));
  for (int32_t c = 0; c < s.classifiers; ++c) {
    // features, thresholds, children, leaves: trees x nodes each.
    for (int table = 0; table < 4; ++table) {
      for (int32_t t = 0; t < s.trees; ++t) {
        for (int32_t k = 0; k < s.nodes; ++k) {
          const bool root = k == 0 && s.nodes >= 3;
          switch (table) {
            case 0: Put(&out, root ? s.feature : 0u); break;
            case 1: PutF(&out, root ? s.threshold : 0.0f); break;
            case 2: Put(&out, root ? s.child : 0u); break;
            default:
              PutF(&out, s.nodes < 3 ? s.leaf : k == 1 ? s.leafBelow : k == 2 ? s.leafAbove : 0.0f);
          }
        }
      }
    }
  }
  return out;
}

bool RotTemplateModel_Write(const RotTemplateModelSpec& spec, const std::string& path) {
  const std::vector<uint8_t> bytes = RotTemplateModel_Bytes(spec);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool RotTemplateModel_WriteTemplate(const std::string& path, int32_t side) {
  std::vector<uint8_t> px(static_cast<size_t>(side) * side, 30);
  for (int32_t y = side / 3; y < side - side / 3; ++y)
    for (int32_t x = 0; x < side; ++x) px[static_cast<size_t>(y) * side + x] = 220;
  return Bmp_SaveGrayU8(side, side, side, px.data(), path.c_str()) != 0;
}
