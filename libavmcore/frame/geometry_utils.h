#pragma once
// Small angle and equation helpers.

// a - b wrapped once into [-pi, pi].
float AngleDiffWrapped(float a, float b);
// Angle at point 2 of p = (x1, y1, x2, y2, x3, y3), radians.
float Vec2_AngleBetween(const float p[6]);
// Intersection of the line (p0,p1)-(p4,p5) with the line (p2,p3)-(p6,p7);
// 1 with out = {x, y}, 0 when the lines are parallel or both horizontal.
int Line_Intersect(const float p[8], float out[2]);
// Real roots of a x^2 + b x + c: returns their number (2, 1 or 0).
int SolveQuadratic(float* r1, float* r2, float a, float b, float c);
bool IsNaN(float v);
