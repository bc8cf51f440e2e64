// The candidate search in plain C++, for any processor, and the pieces of it
// that the byte-compare vector unit (SSE2) shares.
#ifndef NCDRILL_INTERPRET_PORTABLE_SCAN_H
#define NCDRILL_INTERPRET_PORTABLE_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interpret/vector_scan.h"

namespace ncdrill {

// 8 bytes as a word whose byte k is bytes[k], whatever the processor's byte
// order.
inline std::uint64_t LoadWord(const unsigned char* bytes) noexcept {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

inline std::uint32_t LoadHalfWord(const unsigned char* bytes) noexcept {
  std::uint32_t half;
  std::memcpy(&half, bytes, sizeof half);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  half = __builtin_bswap32(half);
#endif
  return half;
}

// The `count` (at most 8) bytes at `bytes` as a word, zero above them; reads
// nothing past them. Overlapping reads, so that a short tail costs no loop.
inline std::uint64_t LoadPartialWord(const unsigned char* bytes, std::size_t count) noexcept {
  if (count >= 4) {
    return LoadHalfWord(bytes) | static_cast<std::uint64_t>(LoadHalfWord(bytes + count - 4))
                                     << (8 * (count - 4));
  }
  if (count == 0) return 0;
  return bytes[0] | static_cast<std::uint64_t>(bytes[count / 2]) << (8 * (count / 2)) |
         static_cast<std::uint64_t>(bytes[count - 1]) << (8 * (count - 1));
}

// Marks position `at` of `bytes`, whose byte starts some pattern or is "T"
// or "(", in `masks` (bit k of word w for position 64w + k): a candidate
// when its first two bytes share a bucket, and "T" and "(" as they are.
// Returns whether it is "T".
inline bool MarkPosition(const PrefixTables& tables, const unsigned char* bytes,
                         std::size_t readable, std::size_t at, PositionMasks* masks) noexcept {
  const unsigned char c = bytes[at];
  const unsigned char next = at + 1 < readable ? bytes[at + 1] : 0;
  PositionMasks& word = masks[at / kWordPositions];
  const std::uint64_t position = std::uint64_t{1} << (at % kWordPositions);
  if ((tables.firstBits[c] & tables.secondBits[next]) != 0) word.candidates |= position;
  if (c == '(') word.paren |= position;
  if (c != 'T') return false;
  word.t |= position;
  return true;
}

// Empties the masks of `positions` positions.
void ClearMasks(std::size_t positions, PositionMasks* masks) noexcept;

// The portable unit: 64-bit words compared with each first byte, or byte by
// byte for tables whose patterns start with many different bytes.
void CandidateMasksPortable(const PrefixTables& tables, const unsigned char* bytes,
                            std::size_t positions, std::size_t readable,
                            PositionMasks* masks) noexcept;

// Byte by byte, whatever the table.
void CandidateMasksByByte(const PrefixTables& tables, const unsigned char* bytes,
                          std::size_t positions, std::size_t readable,
                          PositionMasks* masks) noexcept;

}  // namespace ncdrill

#endif
