#pragma once

// Fixed-size rotation and projection matrices. 4 x 4 matrices are 16 floats
// and 3 x 3 matrices 9 floats, row-major, acting on column vectors
// (v' = M v); a 4 x 4 translation sits in elements 3, 7 and 11. Angles are
// radians, positive counter-clockwise seen from the positive axis.

// Perspective projection: t = tan(fovY / 2) * scale * near, r = t * aspect;
// offX and offY shift the image centre (elements 2 and 6). All 16 elements
// are written.
void Mat4_Perspective(float* m, float fovY, float scale, float aspect, float near, float far, float offX,
                      float offY);

// Orthographic projection of the box left..right, bottom..top, near..far.
void Mat4_Ortho(float* m, float left, float right, float bottom, float top, float near, float far);

// Adds tx, ty, tz to the translation elements (no multiplication).
void Mat4_Translate(float* m, float tx, float ty, float tz);

// m = m * R(angle about (x, y, z)); the axis is used as given, not normalised.
void Mat4_Rotate(float* m, float angle, float x, float y, float z);

// Elementary rotations written into the 9 floats of m.
void Mat3_RotateX(float* m, float a);
void Mat3_RotateY(float* m, float a);
void Mat3_RotateZ(float* m, float a);

// out = RotX(a) * RotY(b) * RotZ(c).
void Mat3_FromEulerXYZ(float* out, float a, float b, float c);
