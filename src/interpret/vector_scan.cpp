#include "interpret/vector_scan.h"

#include <cstring>
#include <initializer_list>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ncdrill {

#if defined(__x86_64__)
namespace {

// --- AVX2: a word of 64 positions is two vectors of 32 ---

__attribute__((target("avx2"))) inline __m256i NibbleLookup256(const std::uint8_t* low,
                                                               const std::uint8_t* high,
                                                               __m256i v) {
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i lows = _mm256_and_si256(v, nibble);
  const __m256i highs = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
  return _mm256_and_si256(
      _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(low)), lows),
      _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(high)), highs));
}

__attribute__((target("avx2"))) inline std::uint64_t Bits256(__m256i v) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

// Positions [0, 32) of `at`; reads 33 bytes.
__attribute__((target("avx2"))) inline PositionMasks Half(const PrefixTables& tables,
                                                          const unsigned char* at) {
  const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
  const __m256i both = _mm256_and_si256(NibbleLookup256(tables.low1, tables.high1, first),
                                        NibbleLookup256(tables.low2, tables.high2, second));
  const __m256i none = _mm256_cmpeq_epi8(both, _mm256_setzero_si256());
  return PositionMasks{~Bits256(none) & 0xffffffffu,
                       Bits256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('T'))),
                       Bits256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('(')))};
}

// Positions [0, 64) of `at`; reads 65 bytes.
__attribute__((target("avx2"))) inline PositionMasks Word256(const PrefixTables& tables,
                                                             const unsigned char* at) {
  const PositionMasks low = Half(tables, at);
  const PositionMasks high = Half(tables, at + 32);
  return PositionMasks{low.candidates | high.candidates << 32, low.t | high.t << 32,
                       low.paren | high.paren << 32};
}

PositionMasks Limit(PositionMasks masks, std::size_t positions) {
  const std::uint64_t valid = LowBits(positions);
  return PositionMasks{masks.candidates & valid, masks.t & valid, masks.paren & valid};
}

// The last word of a block may not have 65 bytes to read; AVX2 reads it
// from a zero-padded copy.
__attribute__((target("avx2"))) void CandidateMasksAvx2(const PrefixTables& tables,
                                                        const unsigned char* bytes,
                                                        std::size_t positions, std::size_t readable,
                                                        PositionMasks* masks) {
  std::size_t base = 0;
  for (; base + kWordPositions < readable && base < positions; base += kWordPositions) {
    *masks++ = Limit(Word256(tables, bytes + base), positions - base);
  }
  if (base >= positions) return;
  alignas(32) unsigned char padded[2 * kWordPositions] = {};
  std::memcpy(padded, bytes + base, readable - base);
  *masks = Limit(Word256(tables, padded), positions - base);
}

// --- AVX-512: a word is one vector, and masked loads read only the bytes
// the block has ---

#define NCDRILL_AVX512 __attribute__((target("avx512f,avx512bw")))

// The four tables in registers: stores of the masks could otherwise alias
// the byte tables and force them to be reloaded for every word.
struct Tables512 {
  __m512i low1, high1, low2, high2;
};

NCDRILL_AVX512 inline __m512i NibbleLookup512(__m512i low, __m512i high, __m512i v) {
  const __m512i nibble = _mm512_set1_epi8(0x0f);
  const __m512i lows = _mm512_and_si512(v, nibble);
  const __m512i highs = _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble);
  return _mm512_and_si512(_mm512_shuffle_epi8(low, lows), _mm512_shuffle_epi8(high, highs));
}

NCDRILL_AVX512 inline PositionMasks Word512(const Tables512& tables, __m512i first,
                                            __m512i second) {
  const __m512i both = _mm512_and_si512(NibbleLookup512(tables.low1, tables.high1, first),
                                        NibbleLookup512(tables.low2, tables.high2, second));
  return PositionMasks{_mm512_test_epi8_mask(both, both),
                       _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('T')),
                       _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('('))};
}

NCDRILL_AVX512 void CandidateMasksAvx512(const PrefixTables& prefixTables,
                                         const unsigned char* bytes, std::size_t positions,
                                         std::size_t readable, PositionMasks* masks) {
  const Tables512 tables{
      _mm512_load_si512(prefixTables.low1), _mm512_load_si512(prefixTables.high1),
      _mm512_load_si512(prefixTables.low2), _mm512_load_si512(prefixTables.high2)};
  std::size_t base = 0;
  // Whole words, each with the byte after it to read.
  for (; base + kWordPositions <= positions && base + kWordPositions < readable;
       base += kWordPositions) {
    *masks++ =
        Word512(tables, _mm512_loadu_si512(bytes + base), _mm512_loadu_si512(bytes + base + 1));
  }
  if (base >= positions) return;
  const std::size_t rest =
      readable - base < kWordPositions + 1 ? readable - base : kWordPositions + 1;
  const __m512i first = _mm512_maskz_loadu_epi8(LowBits(rest), bytes + base);
  const __m512i second = _mm512_maskz_loadu_epi8(LowBits(rest - 1), bytes + base + 1);
  *masks = Limit(Word512(tables, first, second), positions - base);
}

// --- AVX-512 VBMI: one permute looks a byte's bits up in 128 entries, half
// the work of two nibble shuffles ---

#define NCDRILL_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

struct TablesVbmi {
  __m512i first0, first1, second0, second1;
};

// Only the first "T" matters, so once a word has one, later words skip the
// "T" and "(" compares.
NCDRILL_VBMI inline PositionMasks WordVbmi(const TablesVbmi& tables, __m512i first, __m512i second,
                                           bool& tSeen) {
  const __m512i firstBits = _mm512_permutex2var_epi8(tables.first0, first, tables.first1);
  const __m512i secondBits = _mm512_permutex2var_epi8(tables.second0, second, tables.second1);
  PositionMasks masks{_mm512_test_epi8_mask(firstBits, secondBits), 0, 0};
  if (!tSeen) {
    masks.t = _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('T'));
    masks.paren = _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('('));
    tSeen = masks.t != 0;
  }
  return masks;
}

NCDRILL_VBMI void CandidateMasksVbmi(const PrefixTables& prefixTables, const unsigned char* bytes,
                                     std::size_t positions, std::size_t readable,
                                     PositionMasks* masks) {
  const TablesVbmi tables{
      _mm512_load_si512(prefixTables.first128), _mm512_load_si512(prefixTables.first128 + 64),
      _mm512_load_si512(prefixTables.second128), _mm512_load_si512(prefixTables.second128 + 64)};
  std::size_t base = 0;
  bool tSeen = false;
  for (; base + kWordPositions <= positions && base + kWordPositions < readable;
       base += kWordPositions) {
    *masks++ = WordVbmi(tables, _mm512_loadu_si512(bytes + base),
                        _mm512_loadu_si512(bytes + base + 1), tSeen);
  }
  if (base >= positions) return;
  const std::size_t rest =
      readable - base < kWordPositions + 1 ? readable - base : kWordPositions + 1;
  const __m512i first = _mm512_maskz_loadu_epi8(LowBits(rest), bytes + base);
  const __m512i second = _mm512_maskz_loadu_epi8(LowBits(rest - 1), bytes + base + 1);
  *masks = Limit(WordVbmi(tables, first, second, tSeen), positions - base);
}

}  // namespace

bool HasVectorUnit(VectorUnit unit) noexcept {
  __builtin_cpu_init();
  switch (unit) {
    case VectorUnit::kAvx512Vbmi:
      return HasVectorUnit(VectorUnit::kAvx512) && __builtin_cpu_supports("avx512vbmi");
    case VectorUnit::kAvx512:
      return HasVectorUnit(VectorUnit::kAvx2) && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512bw");
    case VectorUnit::kAvx2:
      return __builtin_cpu_supports("avx2");
    case VectorUnit::kSse2:
    case VectorUnit::kPortable:
      return true;
  }
  return false;
}

CandidateMaskFn CandidateMaskFnFor(VectorUnit unit) noexcept {
  if (!HasVectorUnit(unit)) return nullptr;
  switch (unit) {
    case VectorUnit::kAvx512Vbmi:
      return &CandidateMasksVbmi;
    case VectorUnit::kAvx512:
      return &CandidateMasksAvx512;
    case VectorUnit::kAvx2:
      return &CandidateMasksAvx2;
    case VectorUnit::kSse2:
    case VectorUnit::kPortable:
      break;
  }
  return nullptr;
}

#else

bool HasVectorUnit(VectorUnit unit) noexcept { return unit == VectorUnit::kPortable; }
CandidateMaskFn CandidateMaskFnFor(VectorUnit) noexcept { return nullptr; }

#endif

VectorUnit BestVectorUnit() noexcept {
  auto unit = static_cast<int>(HighestAllowedUnit());
  while (unit > 0 && !HasVectorUnit(static_cast<VectorUnit>(unit))) --unit;
  return static_cast<VectorUnit>(unit);
}

}  // namespace ncdrill
