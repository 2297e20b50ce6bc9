// The bowl view matrix, texture re-projection and custom meshes.
#include "surround/view_matrix.h"

#include <cmath>
#include <cstring>

#include "frame/numeric_constants.h"
#include "surround/bowl_cameras.h"
#include "toolkit/matrix.h"
#include "toolkit/transform3d.h"

namespace {

int32_t PickCamera(int32_t camera) { return camera >= 1 && camera <= 3 ? camera : 4; }

// Inclusive picture bounds of the re-projections.
bool InsideInclusive(const BowlCameras& c, float u, float v) {
  return u >= 0.0f && u <= c.umax && v >= 0.0f && v <= c.vmax;
}

// Cameras of the object with camera index c given the pose (r, t) instead of
// its stored one.
void CamerasWithPose(const D3DGrid* grid, int32_t camera, const float* r, const float* t, BowlCameras* cams) {
  CameraParamSet p = grid->params;
  CameraParamHeaders h;
  CameraParamSet_SetHeaders(&p, &h);
  std::memcpy(p.R[camera - 1], r, 3 * sizeof(float));
  std::memcpy(p.T[camera - 1], t, 3 * sizeof(float));
  BowlCameras_Setup(cams, &h, grid->model, grid->info.lensSlot, grid->quadW, grid->quadH);
}

}  // namespace

void Generate3DMVP(float* mvp, float zoom, float aspect, float offX, float offY, float pitch, float yaw,
                   float distance, float tx, float ty) {
  float P[16];
  Mat4_Perspective(P, kQuarterPi, zoom, aspect, 0.1f, 100000.0f, -offX, offY);
  const float turns = yaw / kTwoPi;
  if (turns > 0.0f) yaw -= kTwoPi * static_cast<float>(static_cast<int32_t>(turns));
  else if (turns < 0.0f) yaw -= kTwoPi * static_cast<float>(static_cast<int32_t>(turns) - 1);
  float V[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  Mat4_Rotate(V, -pitch, 1.0f, 0.0f, 0.0f);
  Mat4_Rotate(V, kTwoPi - yaw, 0.0f, 0.0f, 1.0f);
  const float d = std::fabs(distance);
  V[3] += -(V[0] * tx + V[1] * ty);
  V[7] += -(V[4] * tx + V[5] * ty);
  V[11] += -(V[8] * tx + V[9] * ty) - d;
  Matrix a, b, o;
  Matrix_Init(&a, 4, 4, P);
  Matrix_Init(&b, 4, 4, V);
  Matrix_Init(&o, 4, 4, mvp);
  Matrix_Product(&a, &b, &o);
}

void Mod3DTrianProject(D3DGrid* grid, int32_t camera, const float* r, const float* t, int32_t compose) {
  const int32_t c = PickCamera(camera);
  float rv[3], tv[3];
  if (compose != 0) {
    RotationVec_ApplyAngles(grid->params.R[c - 1], r, rv);
    for (int k = 0; k < 3; ++k) tv[k] = grid->params.T[c - 1][k] + t[k];
  } else {
    std::memcpy(rv, r, sizeof rv);
    std::memcpy(tv, t, sizeof tv);
  }
  BowlCameras cams;
  CamerasWithPose(grid, c, rv, tv, &cams);
  BowlCameraMesh& m = grid->meshes[c - 1];
  for (size_t k = 0; k < m.flags.size() * 3; ++k) {
    const float* p = &m.vertices[k * 3];
    float u, v;
    if (!BowlCameras_Project(&cams, c, p[0], p[1], p[2], &u, &v) || !InsideInclusive(cams, u, v)) continue;
    BowlCameras_Texture(&cams, c, u, v, &m.texture[k * 4], &m.texture[k * 4 + 1]);
  }
}

void GenerateCustomTBTrian(const D3DGrid* grid, int32_t camera, const float* triangles, int32_t* count,
                           float* vertices, float* texture) {
  if (count == nullptr) return;
  if (*count < 1 || triangles == nullptr) {
    *count = 0;
    return;
  }
  const int32_t c = PickCamera(camera);
  BowlCameras cams;
  BowlCameras_Setup(&cams, &grid->headers, grid->model, grid->info.lensSlot, grid->quadW, grid->quadH);
  int32_t kept = 0;
  for (int32_t t = 0; t < *count; ++t) {
    const float* p = triangles + static_cast<size_t>(t) * 9;
    float uv[6];
    bool ok = true;
    for (int k = 0; k < 3 && ok; ++k) {
      float u, v;
      ok = BowlCameras_Project(&cams, c, p[3 * k], p[3 * k + 1], p[3 * k + 2], &u, &v) &&
           InsideInclusive(cams, u, v);
      if (ok) BowlCameras_Texture(&cams, c, u, v, &uv[2 * k], &uv[2 * k + 1]);
    }
    if (!ok) continue;
    if (vertices != nullptr) std::memcpy(vertices + static_cast<size_t>(kept) * 9, p, 9 * sizeof(float));
    if (texture != nullptr) std::memcpy(texture + static_cast<size_t>(kept) * 6, uv, sizeof uv);
    ++kept;
  }
  *count = kept;
}

void SetCustom3DTrian(D3DGrid* grid, const float* triangles, int32_t n, int32_t groupMode) {
  for (BowlCameraMesh& m : grid->meshes) m = BowlCameraMesh();
  if (n < 1 || triangles == nullptr || grid->ready == 0) {
    grid->meshesBuilt = 1;
    return;
  }
  BowlCameras cams;
  BowlCameras_Setup(&cams, &grid->headers, grid->model, grid->info.lensSlot, grid->quadW, grid->quadH);
  const int32_t cols = grid->cols, rows = grid->rows;
  for (int32_t t = 0; t < n; ++t) {
    const float* p = triangles + static_cast<size_t>(t) * 9;
    bool allInside = true;
    for (int k = 0; k < 3; ++k)
      allInside = allInside && std::fabs(p[3 * k]) < grid->carW / 2 && std::fabs(p[3 * k + 1]) < grid->carL / 2;
    if (allInside) continue;
    size_t node[3];
    bool onGrid = true;
    for (int k = 0; k < 3 && onGrid; ++k) {
      float px, py;
      D3DGrid_ViewPoint(grid, p[3 * k], p[3 * k + 1], grid->height, &px, &py);
      const int32_t c = static_cast<int32_t>(std::floor(cols / 2 + px + 0.5f));
      const int32_t r = static_cast<int32_t>(std::floor(rows / 2 + py + 0.5f));
      onGrid = c >= 0 && c < cols && r >= 0 && r < rows;
      if (onGrid) node[k] = static_cast<size_t>(r) * cols + c;
    }
    if (!onGrid) continue;
    float gw[2][3];
    bool part[2] = {false, false};
    for (int k = 0; k < 3; ++k) {
      gw[0][k] = grid->seamA.data[node[k]];
      gw[1][k] = 1.0f - gw[0][k];
      for (int g = 0; g < 2; ++g) part[g] = part[g] || gw[g][k] > 1.1920929e-5f;
    }
    if (groupMode == 1) part[1] = false;
    if (groupMode == 2) part[0] = false;
    const uint32_t flag = part[0] && part[1] ? 1u : 2u;
    const int32_t camOf[2] = {p[1] < 0.0f ? 1 : 2, p[0] < 0.0f ? 3 : 4};
    for (int g = 0; g < 2; ++g) {
      if (!part[g]) continue;
      const int32_t c = camOf[g];
      float rec[12];
      bool ok = true;
      for (int k = 0; k < 3 && ok; ++k) {
        float u, v;
        ok = BowlCameras_Project(&cams, c, p[3 * k], p[3 * k + 1], p[3 * k + 2], &u, &v) &&
             InsideInclusive(cams, u, v);
        if (!ok) break;
        BowlCameras_Texture(&cams, c, u, v, &rec[4 * k], &rec[4 * k + 1]);
        rec[4 * k + 2] = gw[g][k];
        rec[4 * k + 3] = grid->seamB.data[node[k]];
      }
      if (!ok) continue;
      BowlCameraMesh& m = grid->meshes[c - 1];
      m.vertices.insert(m.vertices.end(), p, p + 9);
      m.texture.insert(m.texture.end(), rec, rec + 12);
      m.flags.push_back(flag);
      (flag == 1 ? m.part1 : m.part2) += 1;
    }
  }
  grid->meshesBuilt = 1;
}
