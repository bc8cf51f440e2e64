// The block scan in plain C++, for any processor, and the pieces of it that
// the byte-compare vector unit (SSE2) shares.
#ifndef NCDRILL_INTERPRET_PORTABLE_SCAN_H
#define NCDRILL_INTERPRET_PORTABLE_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interpret/vector_scan.h"

namespace ncdrill {

struct BlockState;

// 8 bytes as a word whose byte k is bytes[k], whatever the processor's byte
// order.
NCDRILL_INLINE std::uint64_t LoadWord(const unsigned char* bytes) noexcept {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

NCDRILL_INLINE std::uint32_t LoadHalfWord(const unsigned char* bytes) noexcept {
  std::uint32_t half;
  std::memcpy(&half, bytes, sizeof half);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  half = __builtin_bswap32(half);
#endif
  return half;
}

// The `count` (at most 8) bytes at `bytes` as a word, zero above them; reads
// nothing past them. Overlapping reads, so that a short tail costs no loop.
NCDRILL_INLINE std::uint64_t LoadPartialWord(const unsigned char* bytes,
                                             std::size_t count) noexcept {
  if (count >= 4) {
    return LoadHalfWord(bytes) | static_cast<std::uint64_t>(LoadHalfWord(bytes + count - 4))
                                     << (8 * (count - 4));
  }
  if (count == 0) return 0;
  return bytes[0] | static_cast<std::uint64_t>(bytes[count / 2]) << (8 * (count / 2)) |
         static_cast<std::uint64_t>(bytes[count - 1]) << (8 * (count - 1));
}

// Sets, at bit `bit` of `masks`, what position `at` of `block` holds: the
// start of a name (by its first two bytes), "T", "(", the end of the text,
// or the start of a code.
NCDRILL_INLINE void ClassifyPosition(const PrefixTables& tables, const unsigned char* block,
                                     std::size_t size, std::size_t at, unsigned bit,
                                     WordMasks& masks) noexcept {
  const unsigned c = block[at];
  const unsigned next = at + 1 < size ? block[at + 1] : 0;
  const unsigned third = at + 2 < size ? block[at + 2] : 0;
  const std::uint64_t position = std::uint64_t{1} << bit;
  const auto where = [position](bool holds) { return holds ? position : 0; };
  masks.names |= where((tables.firstBits[c] & tables.secondBits[next]) != 0);
  masks.t |= where(c == 'T');
  masks.paren |= where(c == '(');
  masks.nul |= where(c == 0);
  masks.m9 |= where((c == 'M') & (next == '9'));
  masks.g2 |= where((c == 'G') & (next == '2'));
  masks.g52 |= where((c == 'G') & (next == '5') & (third == '2'));
}

// The rest of a block path, for a block of up to 64 characters whose short
// test found the positions `looks` (bit k for position k) to hold all it
// acts on: "T", "(", NUL and the starts of names and codes (of the "T"s and
// "("s, those TAndParenLooks gives are enough); more positions do no harm.
// Each is looked at once, without a second scan of the block.
// The short tests of the units that have one end here.
bool ShortPath(BlockState& state, const HostCallbacks* host, const char* text, std::int32_t length,
               std::uint64_t looks);

// The portable unit's scan and block path for tables whose names and codes
// start with `leadCount` different bytes: vectors or 64-bit words compared
// with each of them, or byte by byte when there are many.
BlockScanFn PortableScanFor(std::size_t leadCount) noexcept;
BlockPathFn PortablePathFor(std::size_t leadCount) noexcept;

// Byte by byte, whatever the table.
BlockScanFn ByteScan() noexcept;
BlockPathFn BytePath() noexcept;

}  // namespace ncdrill

#endif
