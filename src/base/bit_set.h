// The bit-index arithmetic of the whole program. Sets of elementary activities are
// nBitWords unsigned 64-bit words, activity e being bit e % 64 of word e / 64; the members
// of one UDC are numbered by position and their per-state flags kept in one 64-bit mask,
// which is why a cutset holds at most kMaxUdcMembers members. Everything is combined word
// by word with portable builtins (no instruction-set flags: a library call for popcount
// would cost more than the SWAR sum below).
#pragma once
#include <cstddef>
#include <cstdint>

using BitWord = uint64_t;

constexpr int kBitWordBits = 64;
// Positions of a UDC's members are bits of a uint64_t, and a state key sums status x 3^p
// over them: 3^40 is the largest power of three below 2^64.
constexpr int kMaxUdcMembers = 40;

inline int wordOf(int e) { return e >> 6; }
inline BitWord bitOf(int e) { return BitWord{1} << (e & 63); }

inline bool hasBit(const BitWord* set, int e) { return (set[wordOf(e)] & bitOf(e)) != 0; }
inline void setBit(BitWord* set, int e) { set[wordOf(e)] |= bitOf(e); }
inline void resetBit(BitWord* set, int e) { set[wordOf(e)] &= ~bitOf(e); }

inline bool isSubsetOf(const BitWord* a, const BitWord* b, int words) {
  for (int w = 0; w < words; ++w)
    if ((a[w] & b[w]) != a[w]) return false;
  return true;
}

inline bool sameBits(const BitWord* a, const BitWord* b, int words) {
  for (int w = 0; w < words; ++w)
    if (a[w] != b[w]) return false;
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

inline int popCount64(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

inline int countBits(const BitWord* set, int words) {
  int n = 0;
  for (int w = 0; w < words; ++w) n += popCount64(set[w]);
  return n;
}

inline int lowestBit(uint64_t mask) { return __builtin_ctzll(mask); }
inline int highestBit(uint64_t mask) { return 63 - __builtin_clzll(mask); }

// Calls visit(e) for every member of the set, in ascending index.
template <class Visit>
inline void forEachMember(const BitWord* set, int words, Visit&& visit) {
  for (int w = 0; w < words; ++w)
    for (BitWord bits = set[w]; bits != 0; bits &= bits - 1) visit(w * kBitWordBits + __builtin_ctzll(bits));
}
