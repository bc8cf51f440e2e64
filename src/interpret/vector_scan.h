// The vector half of BlockMatcher's candidate search: 32 positions at a time
// with byte shuffles, on processors that have AVX2.
#ifndef NCDRILL_INTERPRET_VECTOR_SCAN_H
#define NCDRILL_INTERPRET_VECTOR_SCAN_H

#include <cstddef>
#include <cstdint>

namespace ncdrill {

// Candidate positions are found by their first two bytes. Each pattern's
// prefix puts a bucket bit into tables indexed by the low and the high
// nibble of its first and of its second byte; a position is a candidate when
// the four lookups share a bit. A vector unit tests 32 positions at once with
// byte shuffles, and the scalar scan uses the same tables.
struct PrefixTables {
  alignas(32) std::uint8_t low1[32];  // by the first byte's low nibble (16 entries, twice)
  alignas(32) std::uint8_t high1[32];
  alignas(32) std::uint8_t low2[32];  // by the second byte
  alignas(32) std::uint8_t high2[32];
};

// Positions per mask word.
constexpr std::size_t kVectorWidth = 32;

// What 32 positions hold: bit k stands for position k.
struct PositionMasks {
  std::uint32_t candidates;  // may start a pattern
  std::uint32_t t;           // "T"
  std::uint32_t paren;       // "("
};

// Writes one PositionMasks per 32 positions of `bytes[0, positions)`. The
// byte after a position is its second byte, or 0 past `readable`; nothing at
// or past `readable` is read.
using CandidateMaskFn = void (*)(const PrefixTables& tables, const unsigned char* bytes,
                                 std::size_t positions, std::size_t readable, PositionMasks* masks);

// The best implementation this processor runs, or null when it has no AVX2
// (and on builds for other processors).
CandidateMaskFn BestCandidateMaskFn() noexcept;

inline unsigned CountTrailingZeros(std::uint32_t mask) noexcept {
  return static_cast<unsigned>(__builtin_ctz(mask));
}

}  // namespace ncdrill

#endif
