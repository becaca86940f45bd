// A portable 15-bit linear congruential generator with C srand/rand semantics, so that
// drawn instances are the same on every platform and library.
#include "base/random15.h"

#include <cstdint>

namespace {
// Only the low 31 bits ever reach a result, so 32-bit wrap-around gives the same
// sequence as a wider state.
uint32_t randomState = 1;
}  // namespace

int projectRand() {
  randomState = randomState * 1103515245u + 12345u;
  return static_cast<int>((randomState / 65536u) % 32768u);
}

void projectSrand(unsigned seed) { randomState = seed; }
