#include "calibration/solve/site_frame.h"

#include "camera/lut_config.h"
#include "frame/global_variables.h"

SiteDistances SiteDistances_FromConfig() {
  const GlobalVariables& g = gv();
  // place3..place6 are the front, rear, left and right distances; f20_23 the
  // base file's four signed offsets in the same order.
  return SiteDistances{g.place3 - g.f20_23[0], g.place4 - g.f20_23[1], g.place5 - g.f20_23[2],
                       g.place6 - g.f20_23[3]};
}

SiteAnchors SiteAnchors_Float(const int32_t box[3], const SiteDistances& d) {
  const float a = static_cast<float>(box[0]), b = static_cast<float>(box[1]);
  SiteAnchors s;
  s.xC = static_cast<float>(d.dR - d.dL) / 2.0f;
  s.yC = static_cast<float>(d.dB - d.dF) / 2.0f;
  s.xL = -a / 2.0f - static_cast<float>(d.dL);
  s.xR = a / 2.0f + static_cast<float>(d.dR);
  s.yF = -b / 2.0f - static_cast<float>(d.dF);
  s.yB = b / 2.0f + static_cast<float>(d.dB);
  return s;
}

SiteAnchors SiteAnchors_Integer(const int32_t box[3], const SiteDistances& d) {
  SiteAnchors s;
  s.xC = static_cast<float>(HalfToZero(d.dR - d.dL));
  s.yC = static_cast<float>(HalfToZero(d.dB - d.dF));
  s.xL = static_cast<float>(-HalfToZero(box[0]) - d.dL);
  s.xR = static_cast<float>(HalfToZero(box[0]) + d.dR);
  s.yF = static_cast<float>(-HalfToZero(box[1]) - d.dF);
  s.yB = static_cast<float>(HalfToZero(box[1]) + d.dB);
  return s;
}

void SiteBox_FromLutConfig(const LutConfig* cfg, int32_t box[3]) {
  box[0] = cfg->carWidth;
  box[1] = cfg->carLength;
  box[2] = cfg->carBoxParam;
}
