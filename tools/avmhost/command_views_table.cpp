// The views `avmhost views` draws.
#include "command_views.h"

const std::vector<HostView>& HostViews() {
  static const std::vector<HostView> views = [] {
    std::vector<HostView> v;
    static const char* undistNames[4][5] = {
        {"", "cam1_undist1", "cam1_undist2", "cam1_undist3", "cam1_undist4"},
        {"", "cam2_undist1", "cam2_undist2", "cam2_undist3", "cam2_undist4"},
        {"", "cam3_undist1", "cam3_undist2", "cam3_undist3", "cam3_undist4"},
        {"", "cam4_undist1", "cam4_undist2", "cam4_undist3", "cam4_undist4"}};
    for (int c = 1; c <= 4; ++c)
      for (int t = 1; t <= 4; ++t) {
        if (t == 2 && c > 2) continue;  // the curved panorama is a front and rear view
        v.push_back({undistNames[c - 1][t], c, HostView::kUndist, t, 600, 400});
      }
    v.push_back({"cam3_cut3", 3, HostView::kCut, 3, 600, 400});
    v.push_back({"cam4_cut3", 4, HostView::kCut, 3, 600, 400});
    v.push_back({"cam1_wide1", 1, HostView::kWide, 1, 800, 400});
    v.push_back({"cam1_wide2", 1, HostView::kWide, 2, 800, 400});
    v.push_back({"cam2_wide1", 2, HostView::kWide, 1, 800, 400});
    v.push_back({"cam2_wide2", 2, HostView::kWide, 2, 800, 400});
    return v;
  }();
  return views;
}
