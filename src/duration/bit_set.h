// Sets of elementary activities: nBitWords unsigned 16-bit words, activity e is bit e % 16
// of word e / 16. Small inline helpers, combined word by word.
#pragma once
#include <cstddef>
#include <cstdint>

using BitWord = uint16_t;

inline bool isSubsetOf(const BitWord* a, const BitWord* b, int words) {
  for (int w = 0; w < words; ++w)
    if ((a[w] & b[w]) != a[w]) return false;
  return true;
}

inline void unionInto(BitWord* target, const BitWord* source, int words) {
  for (int w = 0; w < words; ++w) target[w] |= source[w];
}

inline void copyBits(BitWord* target, const BitWord* source, int words) {
  for (int w = 0; w < words; ++w) target[w] = source[w];
}

inline void clearBits(BitWord* target, int words) {
  for (int w = 0; w < words; ++w) target[w] = 0;
}

inline bool hasBit(const BitWord* set, int e) { return (set[e >> 4] >> (e & 15)) & 1u; }
inline void setBit(BitWord* set, int e) { set[e >> 4] |= static_cast<BitWord>(1u << (e & 15)); }
inline void resetBit(BitWord* set, int e) { set[e >> 4] &= static_cast<BitWord>(~(1u << (e & 15))); }

inline int countBits(const BitWord* set, int words) {
  int n = 0;
  for (int w = 0; w < words; ++w) n += __builtin_popcount(set[w]);
  return n;
}
