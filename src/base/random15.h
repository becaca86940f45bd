// The program's one random source: a 15-bit generator with the C library's srand/rand
// semantics (values 0..32767, seed 1 until seeded), the same on every platform.
#pragma once

constexpr int kRandomMax = 32767;

int projectRand();
void projectSrand(unsigned seed);
