#pragma once
// The 3-D bowl object: vehicle rectangle, cameras and the bowl grid (the
// image grid of a virtual top view over the vehicle's centre) with the two
// seam weight maps that share each node between the front/rear cameras
// (group 1) and the side cameras (group 2).
//
// Ground frame: millimetres, origin at the vehicle rectangle's centre, x
// across the vehicle (grid columns), y along it (grid rows, rear positive),
// z minus the height above the ground.
#include <cstdint>
#include <vector>

#include "camera/lut_config.h"
#include "camera/lut_config_file.h"
#include "frame/matrix_types.h"

// One bowl surface: floor extensions beyond the vehicle in x and y, wall
// height and wall reach factor (the wall reaches sqrt(k) x height).
struct BowlShape {
  float extX, extY, wallHeight, reach;
};

// One camera's mesh: 9 position floats, 12 texture floats (u, v, weight,
// seam value per corner) and one part flag (1 seam, 2 full coverage) a
// triangle.
struct BowlCameraMesh {
  std::vector<float> vertices;
  std::vector<float> texture;
  std::vector<uint32_t> flags;
  int32_t part1 = 0, part2 = 0;
};

// Cached single-camera TB mesh of the last (camera, shape) request.
struct TBMeshBlock {
  int32_t camera = 0, shape = 0;
  int32_t cols = 0, rows = 0;
  std::vector<float> X, Y, Z, U, V, valid;
  std::vector<float> vertices;  // 9 floats a triangle
  std::vector<float> texture;   // 6 floats a triangle
  int32_t count = 0;
  int32_t builds = 0;  // casts run for this handle (the cache's witness)
};

struct D3DGrid {
  int32_t ready = 0;
  int32_t meshesBuilt = 0;
  uint32_t quadW = 0, quadH = 0;
  float carW = 0.0f, carL = 0.0f;
  // Millimetres taken off the vehicle rectangle at its -y, +y, -x, +x edges.
  float insets[4] = {0, 0, 0, 0};
  int32_t cols = 0, rows = 0;
  int32_t projType = 1;  // 1 equidistant, 2 spherical, other pinhole
  float focal = 0.0f;    // grid pixels per radian (type 1)
  float height = 0.0f;   // H of the virtual top view, mm
  uint32_t model[4] = {0, 0, 0, 0};
  LutConfigInfo info{};
  CameraParamSet params{};
  CameraParamHeaders headers{};
  std::vector<float> seamAData, seamBData;
  Matrix seamA{0, 0, nullptr};  // 1 group 1, 0 group 2, -1 the vehicle
  Matrix seamB{0, 0, nullptr};  // 0..1 ramp between a group's two cameras; -1 unset
  BowlCameraMesh meshes[4];
  TBMeshBlock tb;
  BowlShape shape[2] = {{2400, 5400, 6000, 1.0f}, {2400, 3400, 4000, 1.0f}};
};

// Default bowl shape parameters (set 1 then set 2) of the plain creation.
extern const float kBowlDefaultShape[8];

// Reads the parameter file at path (no directory prefixed), sizes the grid
// from the bowl shape parameters and builds the seam maps. 1 on success; 0
// when the file cannot be read (the object stays not ready).
int32_t D3DGrid_Init_New(D3DGrid* grid, const char* path, const float shape[8], const float insets[4]);
// Frees everything the object holds; it is not ready afterwards.
void D3DGrid_Release(D3DGrid* grid);

// Grid size, view height and focal factor chosen by the second bowl shape
// parameter (the floor extension in y of set 1).
void D3DGrid_PickSize(float extY, int32_t* cols, int32_t* rows, float* height, float* focal);

// View projection of a ground point: the offset (px, py) from the grid
// centre.
void D3DGrid_ViewPoint(const D3DGrid* grid, float x, float y, float height, float* px, float* py);
// Fractional grid columns and rows of the inset vehicle rectangle's edges.
void D3DGrid_CarEdges(const D3DGrid* grid, float* cL, float* cR, float* rT, float* rB);

void D3DGrid_BuildSeamWeights(D3DGrid* grid);
void D3DGrid_BuildAxisWeights(D3DGrid* grid);
// Group-1 share of a node beside the vehicle at row distance dy and column
// distance dx from its corner, for a seam at angle g with ramp width w.
float D3DGrid_SeamRamp(float g, float w, float dy, float dx, float cL);
