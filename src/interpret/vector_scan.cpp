#include "interpret/vector_scan.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ncdrill {

#if defined(__x86_64__)
namespace {

#define NCDRILL_AVX2 __attribute__((target("avx2")))
#define NCDRILL_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl")))

// The bucket bits of each of the 32 bytes in `v`, looked up by nibble.
NCDRILL_AVX2 inline __m256i NibbleLookup(const std::uint8_t* low, const std::uint8_t* high,
                                         __m256i v) {
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i lows = _mm256_and_si256(v, nibble);
  const __m256i highs = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
  return _mm256_and_si256(
      _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(low)), lows),
      _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(high)), highs));
}

std::uint32_t LowBits(std::size_t count) {
  return count >= 32 ? 0xffffffffu : (std::uint32_t{1} << count) - 1;
}

NCDRILL_AVX2 inline std::uint32_t Equal(__m256i v, char c) {
  return static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(c))));
}

NCDRILL_AVX2 inline PositionMasks Classify(const PrefixTables& tables, __m256i first,
                                           __m256i second, std::size_t positions) {
  const __m256i both = _mm256_and_si256(NibbleLookup(tables.low1, tables.high1, first),
                                        NibbleLookup(tables.low2, tables.high2, second));
  const __m256i none = _mm256_cmpeq_epi8(both, _mm256_setzero_si256());
  const std::uint32_t valid = LowBits(positions);
  return PositionMasks{~static_cast<std::uint32_t>(_mm256_movemask_epi8(none)) & valid,
                       Equal(first, 'T') & valid, Equal(first, '(') & valid};
}

NCDRILL_AVX2 inline PositionMasks WholeWord(const PrefixTables& tables, const unsigned char* at,
                                            std::size_t positions) {
  return Classify(tables, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)),
                  _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1)), positions);
}

// The last word of a block may not have 33 bytes to read. With AVX2 alone
// it is read from a zero-padded copy.
NCDRILL_AVX2 void CandidateMasksAvx2(const PrefixTables& tables, const unsigned char* bytes,
                                     std::size_t positions, std::size_t readable,
                                     PositionMasks* masks) {
  std::size_t base = 0;
  for (; base + kVectorWidth < readable && base < positions; base += kVectorWidth) {
    *masks++ = WholeWord(tables, bytes + base, positions - base);
  }
  if (base >= positions) return;
  alignas(32) unsigned char padded[2 * kVectorWidth] = {};
  std::memcpy(padded, bytes + base, readable - base);
  *masks = WholeWord(tables, padded, positions - base);
}

// AVX-512 loads only the bytes a mask names, so the last word needs no copy.
NCDRILL_AVX512 void CandidateMasksAvx512(const PrefixTables& tables, const unsigned char* bytes,
                                         std::size_t positions, std::size_t readable,
                                         PositionMasks* masks) {
  std::size_t base = 0;
  for (; base + kVectorWidth < readable && base < positions; base += kVectorWidth) {
    *masks++ = WholeWord(tables, bytes + base, positions - base);
  }
  if (base >= positions) return;
  const std::size_t rest = readable - base;  // 1 to 32
  const __m256i first = _mm256_maskz_loadu_epi8(LowBits(rest), bytes + base);
  const __m256i second = _mm256_maskz_loadu_epi8(LowBits(rest - 1), bytes + base + 1);
  *masks = Classify(tables, first, second, positions - base);
}

}  // namespace

CandidateMaskFn BestCandidateMaskFn() noexcept {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) return nullptr;
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
    return &CandidateMasksAvx512;
  }
  return &CandidateMasksAvx2;
}

#else

CandidateMaskFn BestCandidateMaskFn() noexcept { return nullptr; }

#endif

}  // namespace ncdrill
