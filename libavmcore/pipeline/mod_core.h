#pragma once
// Moving-object detection core: the process-wide tuning values, the per-block
// tracker state, blob tracks with their motion statistics, the first-hit
// extent scans of labelled blobs, the per-row road background model and the
// image measures (histogram-contrast map, joint entropy, 5 x 5 box mean) that
// the moving-object detector's step builds on. Everything here runs on the
// MODS worker thread.
#include <cstdint>
#include <list>
#include <vector>

#include "frame/matrix_types.h"
#include "toolkit/kalman_filter.h"

// ---------------------------------------------------------------------------
// Tuning values, shared by every detector object of the process. Written
// before any worker starts (by MODTuning_Load), read-only afterwards.
struct MODTuning {
  int32_t historyMask;    // 31: window of the per-block hit history (five frames)
  int32_t hitThreshold;   // 3: hits in the window before a block is evaluated for an alarm
  int32_t historyTopBit;  // 16: always (historyMask + 1) / 2
  int32_t reservedA;      // 64, 4, 0.5, 10, 1: read from the file, used by nothing
  int32_t reservedB;
  float reservedC;
  int32_t reservedD;
  int32_t reservedE;
  int32_t debugFlags;  // 1 frame gap, 8 vehicle signals, 16 ring positions, 32 grey level
};

extern MODTuning g_modTuning;

// The tuning file the detector reads at its initialisation (a fixed path, not
// under the data directory).
extern const char* const kModTuningPath;

// Restores the defaults 31, 3, 16, 64, 4, 0.5, 10, 1 and 0.
void MODTuning_Reset();

// Reads a tuning file: line 1 "%d,%d,%d,%d,%f,%d,%d" into the seven values
// (the top bit is then recomputed), line 2 one "%d" into *objectValue (left
// alone when the line is missing or unreadable; the caller keeps it only
// within 1..39), line 3 one "%d" into the debug flags. A missing file, or a
// first line that does not give all seven fields, leaves the values as they
// are. Returns 1 when the file opened, else 0.
int MODTuning_Load(const char* path, int32_t* objectValue);

// ---------------------------------------------------------------------------
// One labelled region as the extent scans measure it (48 bytes). The scans
// set the bounds, the seed, trackId and the flags; cx, cy, w and h are the
// caller's (the detector fills them from the bounds).
struct MODRect {
  int32_t maxX, maxY, minX, minY;
  int32_t seedX, seedY;  // where the scan first met the region
  float cx, cy;          // centre
  int32_t w, h;          // integer reference size of the blob
  int32_t trackId;       // -1 at the first hit
  uint8_t valid;         // seen
  uint8_t excluded;      // skip: the scans pass over such records but never set it
  uint8_t started;
  uint8_t closed;
};
static_assert(sizeof(MODRect) == 48, "MODRect is a 48-byte record");

constexpr int32_t kModTrackRing = 9;
constexpr int32_t kModTrackMaxPoints = 7;
constexpr int32_t kModTrackIds = 9;

// A track of one blob through the frames. The five rings are indexed alike;
// entry k holds the step that starts at point k of the track.
struct MODTrack {
  int32_t count;    // points
  int32_t misses;   // 0 at creation; the detector counts unmatched steps here
  int32_t trackId;  // identifier slot 0..8
  int32_t start;    // ring start 0..8
  int32_t updated;
  float cosineSum;  // sum of the ring's direction cosines
  float cosine[kModTrackRing];  // between an entry's step and the next step
  float dx[kModTrackRing];      // the step
  float dy[kModTrackRing];
  float egoX[kModTrackRing];  // the step's start point through the block's affine map
  float egoY[kModTrackRing];
  float meanCosine, spreadCosine, meanDx, meanDy, meanEgoX, meanEgoY;  // MODTrack_Stats
  MODRect last;
  int32_t dense;  // detector's own counters (not touched here)
  int32_t alarm;
};

using MODTrackList = std::list<MODTrack>;

struct MODVehicleState;  // the detector object's vehicle signals

// Per-block detection state, one per block of the detector object. Built by
// MODBlockTrackerInit; not copyable (the image headers point into its own
// buffers).
struct MODBlockTracker {
  MODBlockTracker() = default;
  MODBlockTracker(const MODBlockTracker&) = delete;
  MODBlockTracker& operator=(const MODBlockTracker&) = delete;

  int32_t height = 0, width = 0;
  ImageU8 workImage{};  // label or mask work image of the block size
  int32_t freeze = 0;   // 6 after Init: steps left before detection resumes
  int32_t id = 0;       // 1 after Init; the detector sets the block id
  int32_t spareWord = 0;  // 1 after Init
  int32_t detected = 0;
  KalmanFilter greyFilter{};
  KalmanFilter positionFilterX{};
  KalmanFilter positionFilterY{};
  float measurementValue[1] = {0};
  Matrix measurement{};  // 1 x 1 over measurementValue
  Matrix mask{};         // float, block size (1.0 marks candidate pixels)
  ImageI32 labelImage{};
  ImageU8 previousFrame{};
  ImageU8 staticMask{};
  ImageU8 spareImage{};
  uint8_t idFree[kModTrackIds] = {};  // 1 while the identifier slot is free
  int32_t idWord = 0;                 // 1 after Init
  MODTrackList tracks;
  std::vector<MODRect> currentRects, previousRects;
  ImageU8 ring[20] = {};  // 20 images of the block size
  int32_t ringRead = 0, ringWrite = 0;
  ImageU8 background{}, foreground{};
  std::vector<int32_t> rowSum, rowCount, rowRef;  // per row of the road model
  MODVehicleState* vehicle = nullptr;
  const float* motion = nullptr;  // six floats a0..a5: the block's ground affine map
  double score = 0.0;
  int32_t resultX = 0, resultY = 0;
  int32_t lastReported[2] = {0, 0};
  int32_t bestDistance = 0;

  std::vector<uint8_t> bytes_;   // storage of every byte image
  std::vector<float> floats_;    // storage of mask
  std::vector<int32_t> ints_;    // storage of labelImage
};

// Sizes below 1 give an empty tracker (no buffers) that still has its
// filters and flags set up. Safe on a tracker that was initialised before
// (it is released first).
void MODBlockTrackerInit(MODBlockTracker* tracker, int32_t width, int32_t height);
// Empties the track list, frees every slot and every buffer; safe twice.
void MODBlockTrackerRelease(MODBlockTracker* tracker);

// Lowest free identifier slot, marked used; 8 (already used) when none is free.
int32_t MOD_TakeFreeSlot(MODBlockTracker* tracker);

// Appends the blob to the nearest track of list (d = squared differences of
// w, h, cx and cy against the track's last blob, truncated; joins when
// d <= 99), or opens a new track whose first step is the blob centre minus
// reference's centre. Returns the track the blob went to.
MODTrack* MODTrack_Associate(MODBlockTracker* tracker, MODTrackList* list, const MODRect* blob,
                             const MODRect* reference);
// Appends one point: the step from the last centre, that centre through the
// block's affine map (zero when the tracker has none), and the cosine with
// the previous step. Keeps at most seven points.
void MODTrack_AddPoint(MODBlockTracker* tracker, MODTrack* track, const MODRect* blob);
// Means of the cosines, steps and ground points over the count - 1 entries
// from the ring start, and the spread of the cosines. Returns the ring
// position after the last entry used, or 0 (nothing computed) below 3 points.
int32_t MODTrack_Stats(MODBlockTracker* tracker, MODTrack* track);

// First-hit extent scans over the labels 0 .. limit-1 of a label image (-1
// and other labels outside the range are background). width and height are
// clipped to the image. records hold limit entries, zeroed by the caller
// before the first scan.
void MOD_ScanRightToLeft(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit);
void MOD_ScanLeftToRight(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit);
void MOD_ScanBottomToTop(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit);
void MOD_ScanTopToBottom(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit);

// Splits current into road background and foreground (the tracker's images)
// against previous and the per-row reference, then refreshes the reference
// from this update's background. Images of another size than the tracker's
// are refused (nothing changes).
void MOD_RoadModelUpdate(MODBlockTracker* tracker, const ImageU8* current, const ImageU8* previous);

// Histogram-contrast map; out may be image. The range is that of the cost
// over all grey levels 0..255. A single grey value gives 0 everywhere.
void MOD_ContrastMap(const ImageU8* image, ImageU8* out);
// Joint entropy of the image and its 5 x 5 mean over a 128 x 128 histogram of
// (mean >> 1, pixel >> 1), with 8-bit bin counters and p = count / 16384, as
// the detector's thresholds were set with.
double MOD_Entropy2D(const ImageU8* image);
// 5 x 5 box mean with replicated edges (sum / 25, truncated); out may be image.
void MOD_BoxMean5(const ImageU8* image, ImageU8* out);

// ---------------------------------------------------------------------------
// Operations of the same family that the detector's step does not use.

// Writes image into the tracker's 20-image ring; once the ring is full it
// returns the image written 19 calls earlier (else null). Sizes must match.
const ImageU8* MOD_DelayRing(MODBlockTracker* tracker, const ImageU8* image);
// A new track from a blob: first step = blob centre - (refX, refY), the
// lowest free identifier slot.
MODTrack MOD_TrackCreate(MODBlockTracker* tracker, const MODRect* blob, float refX, float refY);
// Empties the list and frees every identifier slot.
void MOD_TrackListReset(MODBlockTracker* tracker, MODTrackList* list);
void MOD_TrackListRelease(MODTrackList* list);
// 1 when boxes {x0, y0, x1, y1} are within 3 pixels of touching along both axes.
int32_t MOD_BoxesOverlap(const int32_t a[4], const int32_t b[4]);
// The k-th smallest of n bytes (0-based), reordering them; 0 for an empty range.
uint8_t MOD_Select(uint8_t* data, int32_t n, int32_t k);
// Iterative intermeans threshold of an n-bin histogram, starting midway
// between its first and last non-empty bins.
int32_t MOD_IsodataThreshold(const int32_t* hist, int32_t n);
// Copies src into dst (src + 2 padX by src + 2 padY), repeating edge pixels.
void MOD_PadReplicateEx(const ImageU8* src, ImageU8* dst, int32_t padX, int32_t padY);
void MOD_PadReplicate(const ImageU8* src, ImageU8* dst, int32_t pad);
// Box mean of (2a + 1) x (2b + 1) pixels with replicated edges, truncated.
void MOD_BoxMean(const ImageU8* image, ImageU8* out, int32_t a, int32_t b);
void MOD_BoxMean3(const ImageU8* image, ImageU8* out);
// Box mean of (2r + 1) x (2r + 1) pixels written back into the image.
void MOD_BoxMeanInPlace(ImageU8* image, int32_t r);
// 3 x 3 median in place (edges replicated).
void MOD_Median3(ImageU8* image);
// Unnormalised contrast cost of every pixel (width x height doubles).
void MOD_ContrastCost(const ImageU8* image, double* out);
// The contrast map as floats 0..1 (0 everywhere for a single grey value).
void MOD_ContrastMapF(const ImageU8* image, float* out);
// Grey-level entropy in bits.
double MOD_Entropy(const ImageU8* image);
// Variance of the histogram index over the 128 bins of value >> 1.
double MOD_HistVariance(const ImageU8* image);
// Row sums (height entries) and column sums (width entries).
void MOD_RowColumnSums(const ImageU8* image, int32_t* rowSums, int32_t* columnSums);
// Copies w x h pixels from (sx, sy) of src to (dx, dy) of dst, clipped to both.
void MOD_CopyRect(const ImageU8* src, int32_t sx, int32_t sy, ImageU8* dst, int32_t dx, int32_t dy, int32_t w,
                  int32_t h);
