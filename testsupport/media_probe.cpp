#include "testsupport/media_probe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

std::string Run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

bool Media_ToolsAvailable() {
  return system("ffprobe -version > /dev/null 2>&1") == 0 && system("ffmpeg -version > /dev/null 2>&1") == 0;
}

std::vector<ProbedStream> Media_Probe(const std::string& path, bool countFrames) {
  const std::string cmd = std::string("ffprobe -v error ") + (countFrames ? "-count_frames " : "") +
                          "-show_entries stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames "
                          "-of default=noprint_wrappers=0 " +
                          Quote(path) + " 2>/dev/null";
  std::vector<ProbedStream> streams;
  std::istringstream in(Run(cmd));
  std::string line;
  ProbedStream s;
  while (std::getline(in, line)) {
    if (line == "[STREAM]") {
      s = ProbedStream{};
    } else if (line == "[/STREAM]") {
      streams.push_back(s);
    } else {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string k = line.substr(0, eq), v = line.substr(eq + 1);
      if (k == "codec_type") s.codecType = v;
      if (k == "codec_name") s.codecName = v;
      if (k == "width") s.width = atoi(v.c_str());
      if (k == "height") s.height = atoi(v.c_str());
      if (k == "r_frame_rate") s.frameRate = v;
      if (k == "nb_read_frames" && v != "N/A") s.frames = atoi(v.c_str());
    }
  }
  return streams;
}

std::vector<uint8_t> Media_DecodeFrameNV12(const std::string& path, int32_t n) {
  const std::string cmd = "ffmpeg -v error -i " + Quote(path) + " -vf 'select=eq(n\\," + std::to_string(n) +
                          ")' -frames:v 1 -f rawvideo -pix_fmt nv12 - 2>/dev/null";
  const std::string out = Run(cmd);
  return std::vector<uint8_t>(out.begin(), out.end());
}

double Media_Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0.0 || n == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (se / static_cast<double>(n)));
}
