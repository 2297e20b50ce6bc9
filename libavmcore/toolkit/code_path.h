#pragma once
// The vector code this build and machine run, for benchmark and test
// reports. The lane forms are written for eight 32-bit lanes: one 256-bit
// register where the build targets AVX2, two 128-bit registers on SSE-only
// x86-64 builds and on the target's NEON unit. The 16-lane forms are chosen
// at run time on x86-64 CPUs with AVX-512F.
#include <cstdint>

// Bits of the widest vector registers the build's own code compiles to
// (128, 256 or 512).
int32_t CodePath_VectorBits();
// 1 when the 16-lane (512-bit) forms run: the CPU has them and they are
// not turned off; else 0.
int32_t CodePath_WideForms();
// Test and benchmark support: 0 turns the 16-lane forms off process-wide
// (the eight-lane forms then run, as on a CPU without AVX-512), 1 allows
// them again.
void CodePath_AllowWideForms(int32_t allow);
// The instruction set the build targets, e.g. "x86-64 AVX2 FMA".
const char* CodePath_InstructionSet();
