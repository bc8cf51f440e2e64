// The candidate search of BlockMatcher: which positions of a block may
// start a pattern, and where "T" and "(" stand, a word of 64 positions at a
// time. One implementation per vector unit, picked at load; the portable one
// is plain C++.
#ifndef NCDRILL_INTERPRET_VECTOR_SCAN_H
#define NCDRILL_INTERPRET_VECTOR_SCAN_H

#include <cstddef>
#include <cstdint>

namespace ncdrill {

// Tables whose patterns start with more distinct bytes than this are not
// searched by comparing each byte with every first byte (the SSE2 and the
// portable word scans), but byte by byte.
constexpr std::size_t kMaxComparedLeads = 16;

// Candidate positions are found by their first two bytes. Each pattern's
// prefix puts a bucket bit into tables indexed by its first and by its
// second byte; a position is a candidate when the two lookups share a bit.
// Units with byte shuffles look the bits up by nibble (AVX2, AVX-512) or by
// the low seven bits (AVX-512 VBMI); the others find the positions whose
// byte starts some pattern and look those up whole.
struct PrefixTables {
  // 16 entries, repeated for each 16-byte lane of a 64-byte vector.
  alignas(64) std::uint8_t low1[64];  // by the first byte's low nibble
  alignas(64) std::uint8_t high1[64];
  alignas(64) std::uint8_t low2[64];  // by the second byte's
  alignas(64) std::uint8_t high2[64];
  // The same bits by the byte's low seven bits, for 128-entry byte
  // permutes: entry k holds the bits of bytes k and k + 128.
  alignas(64) std::uint8_t first128[128];
  alignas(64) std::uint8_t second128[128];
  // The same bits by the whole byte.
  std::uint8_t firstBits[256];
  std::uint8_t secondBits[256];
  // Whether a byte starts some pattern or is "T" or "(".
  std::uint8_t attention[256];
  // The `leadCount` distinct bytes that patterns start with (NUL among them:
  // the end of the text stops the search), then "T" and "(", each repeated
  // in every byte of a word. Empty when leadCount exceeds kMaxComparedLeads.
  std::uint64_t leadWords[kMaxComparedLeads + 2];
  std::size_t leadCount;
};

// Positions per mask word.
constexpr std::size_t kWordPositions = 64;

// What 64 positions hold: bit k stands for position k.
struct PositionMasks {
  std::uint64_t candidates;  // may start a pattern
  // "T" and "(": only the first "T" of a block matters, so after the first
  // word that holds a "T" these may be left empty.
  std::uint64_t t;
  std::uint64_t paren;
};

// Writes one PositionMasks per 64 positions of `bytes[0, positions)`. The
// byte after a position is its second byte, or 0 past `readable`; nothing at
// or past `readable` is read.
using CandidateMaskFn = void (*)(const PrefixTables& tables, const unsigned char* bytes,
                                 std::size_t positions, std::size_t readable, PositionMasks* masks);

// In ascending order; the numbers are those NCDRILL_VECTOR_UNIT gives.
enum class VectorUnit {
  kPortable = 0,    // plain C++, 8 bytes at a time in 64-bit words
  kSse2 = 1,        // byte compares, 16 bytes at a time (i386: when the processor has it)
  kAvx2 = 2,        // nibble shuffles, 32 bytes at a time
  kAvx512 = 3,      // nibble shuffles, 64 bytes at a time, masked loads
  kAvx512Vbmi = 4,  // 128-entry byte permutes, 64 bytes at a time, masked loads
};

// Whether this processor, and this build's target, has `unit`.
bool HasVectorUnit(VectorUnit unit) noexcept;

// The implementation for `unit`, or null when this processor (or this
// build's target) does not have it.
CandidateMaskFn CandidateMaskFnFor(VectorUnit unit) noexcept;

// The highest unit this build may use (NCDRILL_VECTOR_UNIT).
VectorUnit HighestAllowedUnit() noexcept;

// The best unit this processor has, up to HighestAllowedUnit().
VectorUnit BestVectorUnit() noexcept;

inline unsigned CountTrailingZeros(std::uint64_t mask) noexcept {
  return static_cast<unsigned>(__builtin_ctzll(mask));
}

// A mask of the `count` lowest bits.
inline std::uint64_t LowBits(std::size_t count) noexcept {
  return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// `masks` without the positions from `positions` on.
inline PositionMasks Limit(PositionMasks masks, std::size_t positions) noexcept {
  const std::uint64_t valid = LowBits(positions);
  return PositionMasks{masks.candidates & valid, masks.t & valid, masks.paren & valid};
}

}  // namespace ncdrill

#endif
