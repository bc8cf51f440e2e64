#include "interpret/vector_scan.h"

#include <initializer_list>

#include "interpret/portable_scan.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ncdrill {

#if defined(__x86_64__) || defined(__i386__)
namespace {

// --- SSE2: no byte shuffles, so each byte is compared with every byte a
// pattern starts with, 16 at a time ---

// i386 builds do not assume SSE2; the functions that use it say so.
#define NCDRILL_SSE2 __attribute__((target("sse2")))

// Comparing with each first byte costs about as much as looking at the 16
// bytes one by one once there are this many.
constexpr std::size_t kMaxSse2Leads = 8;

// The `count` (at most 16) bytes at `bytes`, zero above them; reads nothing
// past them.
NCDRILL_SSE2 inline __m128i LoadPartial128(const unsigned char* bytes, std::size_t count) {
  if (count <= 8) return _mm_set_epi64x(0, static_cast<long long>(LoadPartialWord(bytes, count)));
  return _mm_set_epi64x(static_cast<long long>(LoadPartialWord(bytes + 8, count - 8)),
                        static_cast<long long>(LoadWord(bytes)));
}

// Bit k: byte k of `v` equals one of the first `Count` of `leads`.
template <std::size_t Count>
NCDRILL_SSE2 inline unsigned MatchingBytes128(__m128i v, const __m128i* leads) {
  __m128i any = _mm_cmpeq_epi8(v, leads[0]);
  for (std::size_t k = 1; k < Count; ++k) any = _mm_or_si128(any, _mm_cmpeq_epi8(v, leads[k]));
  return static_cast<unsigned>(_mm_movemask_epi8(any));
}

// Marks the positions `hits` flags from `at` on; returns whether one of them
// is "T".
inline bool MarkHits128(const PrefixTables& tables, const unsigned char* bytes,
                        std::size_t readable, std::size_t at, unsigned hits, PositionMasks* masks) {
  bool t = false;
  for (; hits != 0; hits &= hits - 1) {
    t = MarkPosition(tables, bytes, readable, at + CountTrailingZeros(hits), masks) || t;
  }
  return t;
}

// Compares 16 positions at a time from `at` on with the first `Count` of
// `leads`, and marks what they find. With `UntilT`, stops after the 16 that
// hold a "T" and returns where the next 16 start.
template <std::size_t Count, bool UntilT>
NCDRILL_SSE2 std::size_t MarkVectors128(const PrefixTables& tables, const __m128i* leads,
                                        const unsigned char* bytes, std::size_t positions,
                                        std::size_t readable, std::size_t at,
                                        PositionMasks* masks) {
  constexpr std::size_t kVectorBytes = 16;
  for (; at + kVectorBytes <= positions; at += kVectorBytes) {
    const unsigned hits = MatchingBytes128<Count>(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)), leads);
    if (hits != 0 && MarkHits128(tables, bytes, readable, at, hits, masks) && UntilT) {
      return at + kVectorBytes;
    }
  }
  if (at < positions) {
    // The last few positions: the bytes after them are read if there are any.
    const __m128i here = at + kVectorBytes <= readable
                             ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at))
                             : LoadPartial128(bytes + at, readable - at);
    const unsigned hits =
        MatchingBytes128<Count>(here, leads) & static_cast<unsigned>(LowBits(positions - at));
    if (hits != 0) MarkHits128(tables, bytes, readable, at, hits, masks);
  }
  return positions;
}

// The leads are the `Leads` first bytes, then "T" and "(", which only matter
// up to the first "T".
template <std::size_t Leads>
NCDRILL_SSE2 void CandidateMasksSse2Leads(const PrefixTables& tables, const unsigned char* bytes,
                                          std::size_t positions, std::size_t readable,
                                          PositionMasks* masks) {
  __m128i leads[Leads + 2];
  for (std::size_t k = 0; k < Leads + 2; ++k) {
    leads[k] = _mm_set1_epi64x(static_cast<long long>(tables.leadWords[k]));
  }
  ClearMasks(positions, masks);
  const std::size_t at =
      MarkVectors128<Leads + 2, true>(tables, leads, bytes, positions, readable, 0, masks);
  MarkVectors128<Leads, false>(tables, leads, bytes, positions, readable, at, masks);
}

NCDRILL_SSE2 void CandidateMasksSse2(const PrefixTables& tables, const unsigned char* bytes,
                                     std::size_t positions, std::size_t readable,
                                     PositionMasks* masks) {
  static_assert(kMaxSse2Leads == 8 && kMaxSse2Leads <= kMaxComparedLeads,
                "one case per count below");
  switch (tables.leadCount) {
    case 1:
      return CandidateMasksSse2Leads<1>(tables, bytes, positions, readable, masks);
    case 2:
      return CandidateMasksSse2Leads<2>(tables, bytes, positions, readable, masks);
    case 3:
      return CandidateMasksSse2Leads<3>(tables, bytes, positions, readable, masks);
    case 4:
      return CandidateMasksSse2Leads<4>(tables, bytes, positions, readable, masks);
    case 5:
      return CandidateMasksSse2Leads<5>(tables, bytes, positions, readable, masks);
    case 6:
      return CandidateMasksSse2Leads<6>(tables, bytes, positions, readable, masks);
    case 7:
      return CandidateMasksSse2Leads<7>(tables, bytes, positions, readable, masks);
    case 8:
      return CandidateMasksSse2Leads<8>(tables, bytes, positions, readable, masks);
    default:
      return CandidateMasksByByte(tables, bytes, positions, readable, masks);
  }
}

}  // namespace
#endif

#if defined(__x86_64__)
namespace {

// --- AVX2: nibble shuffles, 32 positions at a time; the last few of a
// block 16 at a time ---

#define NCDRILL_AVX2 __attribute__((target("avx2")))

NCDRILL_AVX2 inline __m256i NibbleLookup256(const std::uint8_t* low, const std::uint8_t* high,
                                            __m256i v) {
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i lows = _mm256_and_si256(v, nibble);
  const __m256i highs = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
  return _mm256_and_si256(
      _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(low)), lows),
      _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(high)), highs));
}

NCDRILL_AVX2 inline std::uint64_t Bits256(__m256i v) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

// Positions [0, 32) of `at`; reads 33 bytes.
NCDRILL_AVX2 inline PositionMasks Positions32(const PrefixTables& tables, const unsigned char* at) {
  const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
  const __m256i both = _mm256_and_si256(NibbleLookup256(tables.low1, tables.high1, first),
                                        NibbleLookup256(tables.low2, tables.high2, second));
  const __m256i none = _mm256_cmpeq_epi8(both, _mm256_setzero_si256());
  return PositionMasks{~Bits256(none) & 0xffffffffu,
                       Bits256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('T'))),
                       Bits256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('(')))};
}

NCDRILL_AVX2 inline __m128i NibbleLookup128(const std::uint8_t* low, const std::uint8_t* high,
                                            __m128i v) {
  const __m128i nibble = _mm_set1_epi8(0x0f);
  const __m128i lows = _mm_and_si128(v, nibble);
  const __m128i highs = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
  return _mm_and_si128(
      _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low)), lows),
      _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), highs));
}

NCDRILL_AVX2 inline std::uint64_t Bits128(__m128i v) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
}

// 16 positions whose first bytes are `first` and second bytes `second`.
NCDRILL_AVX2 inline PositionMasks Positions16(const PrefixTables& tables, __m128i first,
                                              __m128i second) {
  const __m128i both = _mm_and_si128(NibbleLookup128(tables.low1, tables.high1, first),
                                     NibbleLookup128(tables.low2, tables.high2, second));
  const __m128i none = _mm_cmpeq_epi8(both, _mm_setzero_si128());
  return PositionMasks{~Bits128(none) & 0xffffu, Bits128(_mm_cmpeq_epi8(first, _mm_set1_epi8('T'))),
                       Bits128(_mm_cmpeq_epi8(first, _mm_set1_epi8('(')))};
}

// The positions from `at` on, 32 or 16 of them, whichever the bytes left to
// read allow; `width` says how many.
NCDRILL_AVX2 inline PositionMasks PositionsFrom(const PrefixTables& tables,
                                                const unsigned char* bytes, std::size_t at,
                                                std::size_t readable, std::size_t& width) {
  if (at + 33 <= readable) {
    width = 32;
    return Positions32(tables, bytes + at);
  }
  width = 16;
  if (at + 17 <= readable) {
    return Positions16(tables, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + 1)));
  }
  // The last 16 or fewer bytes: each one's second byte is the next, or 0.
  const __m128i first = LoadPartial128(bytes + at, readable - at);
  return Positions16(tables, first, _mm_srli_si128(first, 1));
}

NCDRILL_AVX2 void CandidateMasksAvx2(const PrefixTables& tables, const unsigned char* bytes,
                                     std::size_t positions, std::size_t readable,
                                     PositionMasks* masks) {
  for (std::size_t base = 0; base < positions; base += kWordPositions) {
    const std::size_t end = positions - base < kWordPositions ? positions : base + kWordPositions;
    PositionMasks word{0, 0, 0};
    std::size_t width = 0;
    for (std::size_t at = base; at < end; at += width) {
      const PositionMasks part = PositionsFrom(tables, bytes, at, readable, width);
      const auto shift = static_cast<unsigned>(at - base);
      word.candidates |= part.candidates << shift;
      word.t |= part.t << shift;
      word.paren |= part.paren << shift;
    }
    *masks++ = Limit(word, end - base);
  }
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
#endif

namespace {

bool ProcessorHas(VectorUnit unit) noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (unit) {
    case VectorUnit::kAvx512Vbmi:
      return ProcessorHas(VectorUnit::kAvx512) && __builtin_cpu_supports("avx512vbmi");
    case VectorUnit::kAvx512:
      return ProcessorHas(VectorUnit::kAvx2) && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512bw");
    case VectorUnit::kAvx2:
      return __builtin_cpu_supports("avx2");
    case VectorUnit::kSse2:
      return __builtin_cpu_supports("sse2");
    case VectorUnit::kPortable:
      return true;
  }
#endif
  return unit == VectorUnit::kPortable;
}

}  // namespace

CandidateMaskFn CandidateMaskFnFor(VectorUnit unit) noexcept {
  if (!ProcessorHas(unit)) return nullptr;
  switch (unit) {
#if defined(__x86_64__)
    case VectorUnit::kAvx512Vbmi:
      return &CandidateMasksVbmi;
    case VectorUnit::kAvx512:
      return &CandidateMasksAvx512;
    case VectorUnit::kAvx2:
      return &CandidateMasksAvx2;
#endif
#if defined(__x86_64__) || defined(__i386__)
    case VectorUnit::kSse2:
      return &CandidateMasksSse2;
#endif
    case VectorUnit::kPortable:
      return &CandidateMasksPortable;
    default:
      break;
  }
  return nullptr;
}

bool HasVectorUnit(VectorUnit unit) noexcept { return CandidateMaskFnFor(unit) != nullptr; }

VectorUnit BestVectorUnit() noexcept {
  auto unit = static_cast<int>(HighestAllowedUnit());
  while (unit > 0 && !HasVectorUnit(static_cast<VectorUnit>(unit))) --unit;
  return static_cast<VectorUnit>(unit);
}

}  // namespace ncdrill
