#include "interpret/vector_scan.h"

#include <algorithm>
#include <array>
#include <utility>

#include "interpret/block_path.h"
#include "interpret/portable_scan.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ncdrill {

#if defined(__x86_64__) || defined(__i386__)
namespace {

// --- SSE2: no byte shuffles, so each byte is compared with every byte a
// name or code starts with, 16 at a time ---

// i386 builds do not assume SSE2; the functions that use it say so.
#define NCDRILL_SSE2 __attribute__((target("sse2")))

// Where the scan is entered. A 32-bit caller built by the Microsoft
// compiler keeps the stack only 4-byte aligned, and SSE2 instructions that
// read a spilled vector from the stack need it 16-byte aligned: 32-bit builds
// align it on the way in.
#if defined(__i386__)
#define NCDRILL_SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define NCDRILL_SSE2_ENTRY NCDRILL_SSE2
#endif

constexpr std::size_t kSse2Bytes = 16;

// Comparing with each first byte costs about as much as looking at the 16
// bytes one by one once there are this many.
constexpr std::size_t kMaxSse2Leads = 8;

// The `count` (at most 16) bytes at `bytes`, zero above them; reads nothing
// past them.
NCDRILL_SSE2 NCDRILL_INLINE __m128i LoadPartial128(const unsigned char* bytes, std::size_t count) {
  if (count <= 8) return _mm_set_epi64x(0, static_cast<long long>(LoadPartialWord(bytes, count)));
  return _mm_set_epi64x(static_cast<long long>(LoadPartialWord(bytes + 8, count - 8)),
                        static_cast<long long>(LoadWord(bytes)));
}

NCDRILL_SSE2 NCDRILL_INLINE __m128i Row128(const std::uint8_t* row) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(row));
}

// Byte k is 0xff when byte k of `first` may need a look: it starts a name or
// a code (one of the leads, followed by a byte in the second-byte range) or
// ends the text (NUL). `second` holds the byte after each.
template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE __m128i LookVector128(__m128i first, __m128i second,
                                                  const PrefixTables& tables) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lead = zero;
  for (std::size_t k = 0; k < Leads; ++k) {
    lead = _mm_or_si128(lead, _mm_cmpeq_epi8(first, Row128(tables.leads[k])));
  }
  const __m128i fromLow = _mm_sub_epi8(second, Row128(tables.secondLow));
  const __m128i inRange = _mm_cmpeq_epi8(_mm_subs_epu8(fromLow, Row128(tables.secondSpan)), zero);
  return _mm_or_si128(_mm_and_si128(lead, inRange), _mm_cmpeq_epi8(first, zero));
}

// The same as bits: bit k for byte k.
template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE unsigned BytesToLookAt128(__m128i first, __m128i second,
                                                      const PrefixTables& tables) {
  return static_cast<unsigned>(_mm_movemask_epi8(LookVector128<Leads>(first, second, tables)));
}

// Bit k: byte k of `first` is `row`'s byte.
NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t Equal128(__m128i first, const std::uint8_t* row) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(first, Row128(row))));
}

// Sets in `masks` what the positions that `look` flags from `at` hold; bit
// k of `look` stands for position at + k, and bit k of `masks` for position
// start + k.
NCDRILL_INLINE void ClassifyLooks(const PrefixTables& tables, const unsigned char* block,
                                  std::size_t size, std::size_t start, std::size_t at,
                                  std::uint64_t look, WordMasks& masks) {
  for (; look != 0; look &= look - 1) {
    const unsigned byte = CountTrailingZeros(look);
    ClassifyPosition(tables, block, size, at + byte, static_cast<unsigned>(at - start) + byte,
                     masks);
  }
}

// The positions of the 16 from `at` (`first`, and `second` the bytes
// after them) that need a look, as bits of the positions from `start`; adds
// "T" and "(" to `masks` when `WithT`.
template <std::size_t Leads, bool WithT>
NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t Look128(const PrefixTables& tables, std::size_t start,
                                                  std::size_t at, __m128i first, __m128i second,
                                                  unsigned valid, WordMasks& masks) {
  const unsigned look = BytesToLookAt128<Leads>(first, second, tables) & valid;
  const auto shift = static_cast<unsigned>(at - start);
  if (WithT) {
    masks.t |= (Equal128(first, tables.leads[Leads]) & valid) << shift;
    masks.paren |= (Equal128(first, tables.leads[Leads + 1]) & valid) << shift;
  }
  return std::uint64_t{look} << shift;
}

// The same for the text's last positions, from `at` on, for a text of 16
// bytes or more whose last 16 begin at or before `at`: one load of those
// 16, without the branches of a partial one, and the bits of the positions
// before `at` dropped.
template <std::size_t Leads, bool WithT>
NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t LookLast128(const PrefixTables& tables,
                                                      const unsigned char* block, std::size_t size,
                                                      std::size_t start, std::size_t at,
                                                      WordMasks& masks) {
  const std::size_t from = size - kSse2Bytes;
  const auto seen = static_cast<unsigned>(at - from);
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + from));
  // The byte after the text's last counts as 0.
  const unsigned look = BytesToLookAt128<Leads>(first, _mm_srli_si128(first, 1), tables) >> seen;
  const auto shift = static_cast<unsigned>(at - start);
  if (WithT) {
    masks.t |= (Equal128(first, tables.leads[Leads]) >> seen) << shift;
    masks.paren |= (Equal128(first, tables.leads[Leads + 1]) >> seen) << shift;
  }
  return std::uint64_t{look} << shift;
}

// Adds what the text's positions from `start` (before its end) on, at most
// 64, hold to `masks`, 16 at a time; "T" and "(" only when `WithT` (until the
// word that holds the first "T"). The positions that need a look are
// gathered first and looked at together, so that a block costs one branch
// on what it holds, however many steps it takes.
template <std::size_t Leads, bool WithT>
NCDRILL_SSE2 NCDRILL_INLINE void AddFrom128(const PrefixTables& tables, const unsigned char* block,
                                            std::size_t size, std::size_t start, WordMasks& masks) {
  std::uint64_t look = 0;
  std::size_t at = start;
  // Whole vectors with the byte after them.
  for (; at + kSse2Bytes < size; at += kSse2Bytes) {
    look |= Look128<Leads, WithT>(
        tables, start, at, _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + at)),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + at + 1)), 0xffffu, masks);
  }
  if (size >= kSse2Bytes) {
    look |= LookLast128<Leads, WithT>(tables, block, size, start, at, masks);
  } else {
    // A text shorter than a vector; the byte after its last counts as 0.
    const __m128i first = LoadPartial128(block + at, size - at);
    look |= Look128<Leads, WithT>(tables, start, at, first, _mm_srli_si128(first, 1),
                                  static_cast<unsigned>(LowBits(size - at)), masks);
  }
  if (look != 0) ClassifyLooks(tables, block, size, start, start, look, masks);
}

// The masks of the 64 positions from `start` when the text goes on past
// them: four 16-byte steps in a straight line, then one look at whatever
// positions any of them flags, so that the steps overlap and a long block
// costs one branch per word.
template <std::size_t Leads, bool WithT>
NCDRILL_SSE2 NCDRILL_INLINE WordMasks FullWordSse2(const PrefixTables& tables,
                                                   const unsigned char* block, std::size_t size,
                                                   std::size_t start) {
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  std::uint64_t look = 0;
  for (std::size_t step = 0; step < kWordPositions / kSse2Bytes; ++step) {
    const unsigned char* bytes = block + start + step * kSse2Bytes;
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 1));
    const auto shift = static_cast<unsigned>(step * kSse2Bytes);
    look |= std::uint64_t{BytesToLookAt128<Leads>(first, second, tables)} << shift;
    if (WithT) {
      masks.t |= Equal128(first, tables.leads[Leads]) << shift;
      masks.paren |= Equal128(first, tables.leads[Leads + 1]) << shift;
    }
  }
  if (look != 0) ClassifyLooks(tables, block, size, start, start, look, masks);
  return masks;
}

// The masks of the text's last 64 positions or fewer, from `start`.
template <std::size_t Leads, bool WithT>
NCDRILL_SSE2 NCDRILL_INLINE WordMasks LastWordSse2(const PrefixTables& tables,
                                                   const unsigned char* block, std::size_t size,
                                                   std::size_t start) {
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  AddFrom128<Leads, WithT>(tables, block, size, start, masks);
  return masks;
}

template <std::size_t Leads>
NCDRILL_SSE2_ENTRY NCDRILL_INLINE bool ScanSse2Leads(const PrefixTables& tables,
                                                     BlockMatcher& matcher,
                                                     const unsigned char* block, std::size_t size,
                                                     BlockFacts& facts) {
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  std::size_t start = 0;
  for (; size - start > kWordPositions; start += kWordPositions) {
    const WordMasks masks = tSeen ? FullWordSse2<Leads, false>(tables, block, size, start)
                                  : FullWordSse2<Leads, true>(tables, block, size, start);
    tSeen = tSeen || masks.t != 0;
    if (!scan.Fold(masks, start)) return scan.found();
  }
  if (start < size) {
    scan.Fold(tSeen ? LastWordSse2<Leads, false>(tables, block, size, start)
                    : LastWordSse2<Leads, true>(tables, block, size, start),
              start);
  }
  return scan.found();
}

// The block path of the SSE2 scan `Scan`. Each unit has its own copy of
// these few lines, with its own target attribute: a template without the
// attribute could not have the scan inlined into it (clang refuses).
template <BlockScanFn Scan>
NCDRILL_OUT_OF_LINE NCDRILL_SSE2_ENTRY bool PathSse2(BlockState& state, const HostCallbacks* host,
                                                     const char* text, std::int32_t length) {
  const std::string_view block = state.Begin(text, length);
  BlockFacts facts;
  return Scan(state.matcher.prefixes(), state.matcher, ScanBytes(block), block.size(), facts) &&
         state.Finish(block, facts, host);
}

// Bit k: byte k of `first` is something a scan acts on: "T", "(", NUL or
// the start of a name or a code.
template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE unsigned Anything128(const PrefixTables& tables, __m128i first,
                                                 __m128i second) {
  // One movemask of the three: the short tests run on every short block.
  const __m128i tOrParen = _mm_or_si128(_mm_cmpeq_epi8(first, Row128(tables.leads[Leads])),
                                        _mm_cmpeq_epi8(first, Row128(tables.leads[Leads + 1])));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(LookVector128<Leads>(first, second, tables), tOrParen)));
}

// The positions of the `size` bytes (1 to 32) at `bytes` that hold
// something a scan acts on, bit k for position k. Two 16-byte steps at
// most, the second overlapping the first; below 17 bytes, 8-byte words, the
// same way. Why it branches on the length: see QuickPathPortable.
template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t ShortLooksSse2(const PrefixTables& tables,
                                                         const unsigned char* bytes,
                                                         std::size_t size) {
  if (size <= 8) {
    const __m128i first = _mm_set_epi64x(0, static_cast<long long>(LoadPartialWord(bytes, size)));
    return Anything128<Leads>(tables, first, _mm_srli_si128(first, 1)) & LowBits(size);
  }
  if (size <= kSse2Bytes) {
    const std::uint64_t tail = LoadWord(bytes + size - 8);
    const __m128i first =
        _mm_set_epi64x(static_cast<long long>(tail), static_cast<long long>(LoadWord(bytes)));
    const __m128i second = _mm_set_epi64x(static_cast<long long>(tail >> 8),
                                          static_cast<long long>(LoadWord(bytes + 1)));
    const std::uint64_t looks = Anything128<Leads>(tables, first, second);
    return (looks & 0xffu) | (looks >> 8) << (size - 8);
  }
  const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + size - kSse2Bytes));
  return std::uint64_t{Anything128<Leads>(
             tables, head, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 1)))} |
         std::uint64_t{Anything128<Leads>(tables, tail, _mm_srli_si128(tail, 1))}
             << (size - kSse2Bytes);
}

NCDRILL_SSE2 NCDRILL_INLINE __m128i Load128(const unsigned char* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t Bits128(__m128i marks) {
  return static_cast<unsigned>(_mm_movemask_epi8(marks));
}

// What 16 positions hold, 0xff for each: the starts of names and codes and
// NUL (`leads`), "T" and "(".
struct Marks16 {
  __m128i leads, t, paren;
};

template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE Marks16 Marks16Sse2(const PrefixTables& tables, __m128i first,
                                                __m128i second) {
  return Marks16{LookVector128<Leads>(first, second, tables),
                 _mm_cmpeq_epi8(first, Row128(tables.leads[Leads])),
                 _mm_cmpeq_epi8(first, Row128(tables.leads[Leads + 1]))};
}

// The positions of the `size` bytes (33 to 64) at `bytes` that hold
// something a scan acts on, as ShortLooksSse2 finds them, from the first 32
// and the last 32 (which overlap); of the "T"s and "("s, those
// TAndParenLooks gives.
template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t MidLooksSse2(const PrefixTables& tables,
                                                       const unsigned char* bytes,
                                                       std::size_t size) {
  const unsigned char* tail = bytes + size - 2 * kSse2Bytes;
  const __m128i last = Load128(tail + kSse2Bytes);
  const Marks16 parts[] = {Marks16Sse2<Leads>(tables, Load128(bytes), Load128(bytes + 1)),
                           Marks16Sse2<Leads>(tables, Load128(bytes + 16), Load128(bytes + 17)),
                           Marks16Sse2<Leads>(tables, Load128(tail), Load128(tail + 1)),
                           Marks16Sse2<Leads>(tables, last, _mm_srli_si128(last, 1))};
  const std::size_t from[] = {0, kSse2Bytes, size - 2 * kSse2Bytes, size - kSse2Bytes};
  std::uint64_t leads = 0;
  std::uint64_t t = 0;
  std::uint64_t paren = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    leads |= Bits128(parts[k].leads) << from[k];
    t |= Bits128(parts[k].t) << from[k];
    paren |= Bits128(parts[k].paren) << from[k];
  }
  return leads | TAndParenLooks(t, paren, leads);
}

template <std::size_t Leads>
NCDRILL_SSE2_ENTRY bool QuickPathSse2(BlockState& state, const HostCallbacks* host,
                                      const char* text, std::int32_t length) {
  const auto size = static_cast<std::uint32_t>(length);
  if (text != nullptr && size - 1 < 2 * kSse2Bytes) {
    const std::uint64_t looks = ShortLooksSse2<Leads>(
        state.matcher.prefixes(), reinterpret_cast<const unsigned char*>(text), size);
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  if (text != nullptr && size - (2 * kSse2Bytes + 1) < 2 * kSse2Bytes) {
    const std::uint64_t looks = MidLooksSse2<Leads>(
        state.matcher.prefixes(), reinterpret_cast<const unsigned char*>(text), size);
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  return PathSse2<&ScanSse2Leads<Leads>>(state, host, text, length);
}

// One scan per count of lead bytes, picked at load.
template <std::size_t... Leads>
constexpr std::array<BlockScanFn, sizeof...(Leads)> Sse2Scans(std::index_sequence<Leads...>) {
  return {&ScanSse2Leads<Leads>...};
}
template <std::size_t... Leads>
constexpr std::array<BlockPathFn, sizeof...(Leads)> Sse2Paths(std::index_sequence<Leads...>) {
  return {&QuickPathSse2<Leads>...};
}
constexpr auto kSse2Scans = Sse2Scans(std::make_index_sequence<kMaxSse2Leads + 1>());
constexpr auto kSse2Paths = Sse2Paths(std::make_index_sequence<kMaxSse2Leads + 1>());

}  // namespace
#endif

#if defined(__x86_64__)
namespace {

// --- AVX2: nibble shuffles, 32 positions at a time; a block's last few 16
// at a time ---

#define NCDRILL_AVX2 __attribute__((target("avx2")))

constexpr std::size_t kAvx2Bytes = 32;

// Clears the upper halves of the vector registers before what follows a
// scan: the rest of the block path and the host's callbacks are SSE code,
// which runs slower while they hold anything (every host instruction that
// writes a vector register then waits on them). The compiler clears them
// before calls of its own accord, but missed one path through an AVX2 scan;
// a host's drill block then read its chain at half speed.
NCDRILL_AVX2 NCDRILL_INLINE void LeaveVectorCode() { _mm256_zeroupper(); }

// The four nibble tables in registers.
struct Tables256 {
  __m256i low1, high1, low2, high2;
};

NCDRILL_AVX2 NCDRILL_INLINE __m256i NibbleLookup256(__m256i low, __m256i high, __m256i v) {
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i lows = _mm256_and_si256(v, nibble);
  const __m256i highs = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
  return _mm256_and_si256(_mm256_shuffle_epi8(low, lows), _mm256_shuffle_epi8(high, highs));
}

NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t Bits256(__m256i v) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

NCDRILL_AVX2 NCDRILL_INLINE __m256i Equal256(__m256i v, char c) {
  return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c));
}

// The masks of the 32 positions whose bytes are `first`, the bytes after
// them `second`, and the bytes after those `third`.
template <bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE WordMasks Masks32(const Tables256& tables, __m256i first,
                                              __m256i second, __m256i third) {
  const __m256i names = _mm256_and_si256(NibbleLookup256(tables.low1, tables.high1, first),
                                         NibbleLookup256(tables.low2, tables.high2, second));
  const __m256i namesAt =
      _mm256_cmpeq_epi8(_mm256_cmpeq_epi8(names, _mm256_setzero_si256()), _mm256_setzero_si256());
  const __m256i g = Equal256(first, 'G');
  const __m256i m9 = _mm256_and_si256(Equal256(first, 'M'), Equal256(second, '9'));
  const __m256i g2 = _mm256_and_si256(g, Equal256(second, '2'));
  const __m256i g52 =
      _mm256_and_si256(_mm256_and_si256(g, Equal256(second, '5')), Equal256(third, '2'));
  const __m256i nul = _mm256_cmpeq_epi8(first, _mm256_setzero_si256());
  const __m256i t = WithT ? Equal256(first, 'T') : _mm256_setzero_si256();
  const __m256i paren = WithT ? Equal256(first, '(') : _mm256_setzero_si256();
  const __m256i any =
      _mm256_or_si256(_mm256_or_si256(_mm256_or_si256(namesAt, nul), _mm256_or_si256(t, paren)),
                      _mm256_or_si256(_mm256_or_si256(m9, g2), g52));
  if (_mm256_testz_si256(any, any)) return WordMasks{0, 0, 0, 0, 0, 0, 0};
  return WordMasks{Bits256(namesAt), Bits256(t),  Bits256(paren), Bits256(nul),
                   Bits256(m9),      Bits256(g2), Bits256(g52)};
}

// 16 positions, with 128-bit halves of the same lookups.
template <bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE WordMasks Masks16(const Tables256& tables, __m128i first,
                                              __m128i second, __m128i third) {
  const WordMasks wide =
      Masks32<WithT>(tables, _mm256_castsi128_si256(first), _mm256_castsi128_si256(second),
                     _mm256_castsi128_si256(third));
  constexpr std::uint64_t kLow = 0xffff;
  return WordMasks{wide.names & kLow, wide.t & kLow,  wide.paren & kLow, wide.nul & kLow,
                   wide.m9 & kLow,    wide.g2 & kLow, wide.g52 & kLow};
}

// The masks of the positions from `at` on, 32 or 16 of them, whichever the
// bytes left allow; `width` says how many.
template <bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE WordMasks MasksFrom(const Tables256& tables, const unsigned char* block,
                                                std::size_t size, std::size_t at,
                                                std::size_t& width) {
  if (at + 34 <= size) {
    width = 32;
    const unsigned char* p = block + at;
    return Masks32<WithT>(tables, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1)),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2)));
  }
  width = 16;
  if (at + 18 <= size) {
    const unsigned char* p = block + at;
    return Masks16<WithT>(tables, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)));
  }
  // The last 17 bytes or fewer: the bytes after them count as 0.
  const std::size_t left = size - at;
  const __m128i first = LoadPartial128(block + at, left < 16 ? left : 16);
  __m128i second = _mm_srli_si128(first, 1);
  __m128i third = _mm_srli_si128(first, 2);
  if (left > 16) {
    const __m128i last = _mm_cvtsi32_si128(block[at + 16]);
    second = _mm_or_si128(second, _mm_slli_si128(last, 15));
    third = _mm_or_si128(third, _mm_slli_si128(last, 14));
  }
  const WordMasks masks = Masks16<WithT>(tables, first, second, third);
  const std::uint64_t valid = LowBits(left);
  return WordMasks{masks.names & valid, masks.t & valid,  masks.paren & valid, masks.nul & valid,
                   masks.m9 & valid,    masks.g2 & valid, masks.g52 & valid};
}

template <bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE WordMasks MasksByNibbles(const Tables256& tables,
                                                     const unsigned char* block, std::size_t size,
                                                     std::size_t start) {
  WordMasks word{0, 0, 0, 0, 0, 0, 0};
  const std::size_t end = size - start < kWordPositions ? size : start + kWordPositions;
  std::size_t width = 0;
  for (std::size_t at = start; at < end; at += width) {
    const WordMasks part = MasksFrom<WithT>(tables, block, size, at, width);
    const auto shift = static_cast<unsigned>(at - start);
    word.names |= part.names << shift;
    word.t |= part.t << shift;
    word.paren |= part.paren << shift;
    word.nul |= part.nul << shift;
    word.m9 |= part.m9 << shift;
    word.g2 |= part.g2 << shift;
    word.g52 |= part.g52 << shift;
  }
  return word;
}

// A table whose names start with many different bytes: names by nibble
// lookups, codes by compares, everything 32 positions at a time.
NCDRILL_AVX2 NCDRILL_INLINE bool ScanAvx2ByNibbles(const PrefixTables& prefixTables,
                                                   BlockMatcher& matcher,
                                                   const unsigned char* block, std::size_t size,
                                                   BlockFacts& facts) {
  const Tables256 tables{_mm256_load_si256(reinterpret_cast<const __m256i*>(prefixTables.low1)),
                         _mm256_load_si256(reinterpret_cast<const __m256i*>(prefixTables.high1)),
                         _mm256_load_si256(reinterpret_cast<const __m256i*>(prefixTables.low2)),
                         _mm256_load_si256(reinterpret_cast<const __m256i*>(prefixTables.high2))};
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    const WordMasks masks = tSeen ? MasksByNibbles<false>(tables, block, size, start)
                                  : MasksByNibbles<true>(tables, block, size, start);
    tSeen = tSeen || masks.t != 0;
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

// Otherwise the SSE2 way, 32 positions at a time: a byte needs a look when
// it starts a name or a code, is NUL, or is "T" or "(" before the first "T".
NCDRILL_AVX2 NCDRILL_INLINE __m256i Row256(const std::uint8_t* row) {
  static_assert(PrefixTables::kRowBytes >= kAvx2Bytes, "a row fills a vector");
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(row));
}

template <std::size_t Leads>
NCDRILL_AVX2 NCDRILL_INLINE unsigned BytesToLookAt256(__m256i first, __m256i second,
                                                      const PrefixTables& tables) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i lead = zero;
  for (std::size_t k = 0; k < Leads; ++k) {
    lead = _mm256_or_si256(lead, _mm256_cmpeq_epi8(first, Row256(tables.leads[k])));
  }
  const __m256i fromLow = _mm256_sub_epi8(second, Row256(tables.secondLow));
  const __m256i inRange =
      _mm256_cmpeq_epi8(_mm256_subs_epu8(fromLow, Row256(tables.secondSpan)), zero);
  const __m256i look =
      _mm256_or_si256(_mm256_and_si256(lead, inRange), _mm256_cmpeq_epi8(first, zero));
  return static_cast<unsigned>(_mm256_movemask_epi8(look));
}

NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t Equal256(__m256i first, const std::uint8_t* row) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(first, Row256(row))));
}

// As Look128, but it looks at the positions it flags itself; for 32
// positions.
template <std::size_t Leads, bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE void Add256(const PrefixTables& tables, const unsigned char* block,
                                        std::size_t size, std::size_t start, std::size_t at,
                                        __m256i first, __m256i second, WordMasks& masks) {
  const unsigned look = BytesToLookAt256<Leads>(first, second, tables);
  if (WithT) {
    const auto shift = static_cast<unsigned>(at - start);
    masks.t |= Equal256(first, tables.leads[Leads]) << shift;
    masks.paren |= Equal256(first, tables.leads[Leads + 1]) << shift;
  }
  if (look != 0) ClassifyLooks(tables, block, size, start, at, look, masks);
}

// As FullWordSse2, 32 positions at a time.
template <std::size_t Leads, bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE WordMasks FullWordAvx2(const PrefixTables& tables,
                                                   const unsigned char* block, std::size_t size,
                                                   std::size_t start) {
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  std::uint64_t look = 0;
  for (std::size_t step = 0; step < kWordPositions / kAvx2Bytes; ++step) {
    const unsigned char* bytes = block + start + step * kAvx2Bytes;
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 1));
    const auto shift = static_cast<unsigned>(step * kAvx2Bytes);
    look |= std::uint64_t{BytesToLookAt256<Leads>(first, second, tables)} << shift;
    if (WithT) {
      masks.t |= Equal256(first, tables.leads[Leads]) << shift;
      masks.paren |= Equal256(first, tables.leads[Leads + 1]) << shift;
    }
  }
  if (look != 0) ClassifyLooks(tables, block, size, start, start, look, masks);
  return masks;
}

// The 0 to 3 bytes after the whole 4-byte groups of the `left` bytes (1 to
// 32) at `bytes`, in the low bytes of a word, without a branch on `left`:
// from the text's last 4 bytes when it has 4, else byte by byte.
NCDRILL_INLINE std::uint32_t BytesAfterGroups(const unsigned char* bytes, std::size_t left) {
  static constexpr unsigned char kNoBytes[4] = {};
  const std::size_t rest = left % 4;
  const unsigned char* lastFour = left >= 4 ? bytes + left - 4 : kNoBytes;
  // The top `rest` bytes of the last 4; none when `rest` is 0.
  const auto fromLastFour =
      static_cast<std::uint32_t>(std::uint64_t{LoadHalfWord(lastFour)} >> (8 * (4 - rest)));
  // A text of 1 to 3 bytes: its first, middle and last byte cover it.
  const std::size_t shortLeft = std::min<std::size_t>(left, 3);
  const std::uint32_t byByte = bytes[0] |
                               std::uint32_t{bytes[shortLeft / 2]} << 8 * (shortLeft / 2) |
                               std::uint32_t{bytes[shortLeft - 1]} << 8 * (shortLeft - 1);
  return left >= 4 ? fromLastFour : byByte;
}

// The text's last `left` bytes (1 to 32) at `bytes`, zero above them,
// without a branch on `left`: the whole 4-byte groups in one masked load,
// which reads nothing that is masked out, and the bytes after them in the
// group after those.
NCDRILL_AVX2 NCDRILL_INLINE __m256i LoadLast256(const unsigned char* bytes, std::size_t left) {
  const auto groups = static_cast<int>(left / 4);
  const __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i whole = _mm256_maskload_epi32(reinterpret_cast<const int*>(bytes),
                                              _mm256_cmpgt_epi32(_mm256_set1_epi32(groups), index));
  const auto tail = static_cast<int>(BytesAfterGroups(bytes, left));
  const __m256i tailGroup = _mm256_and_si256(_mm256_set1_epi32(tail),
                                             _mm256_cmpeq_epi32(_mm256_set1_epi32(groups), index));
  return _mm256_or_si256(whole, tailGroup);
}

// Byte k of the result is byte k + 1 of `v`; the top byte is 0.
NCDRILL_AVX2 NCDRILL_INLINE __m256i NextBytes256(__m256i v) {
  return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, v, 0x81), v, 1);
}

// Adds what the text's last `size - at` positions (1 to 32) hold to the
// masks of the positions from `start`, in one load.
template <std::size_t Leads, bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE void AddLast256(const PrefixTables& tables, const unsigned char* block,
                                            std::size_t size, std::size_t start, std::size_t at,
                                            WordMasks& masks) {
  // A text of 32 bytes or more: its last 32 in one plain load, and the bits
  // of the positions before `at` dropped.
  const bool whole = size >= kAvx2Bytes;
  const std::size_t from = whole ? size - kAvx2Bytes : at;
  const __m256i first = whole ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + from))
                              : LoadLast256(block + at, size - at);
  const auto seen = static_cast<unsigned>(at - from);
  const auto valid = static_cast<std::uint32_t>(LowBits(size - from));
  const std::uint64_t look =
      (BytesToLookAt256<Leads>(first, NextBytes256(first), tables) & valid) >> seen;
  if (WithT) {
    const auto shift = static_cast<unsigned>(at - start);
    masks.t |= (Equal256(first, tables.leads[Leads]) >> seen) << shift;
    masks.paren |= (Equal256(first, tables.leads[Leads + 1]) >> seen) << shift;
  }
  if (look != 0) ClassifyLooks(tables, block, size, start, at, look, masks);
}

// The masks of the text's last 64 positions or fewer, from `start`: 32 at
// a time, the last 32 or fewer in one load (masked below 32 bytes).
template <std::size_t Leads, bool WithT>
NCDRILL_AVX2 NCDRILL_INLINE WordMasks LastWordAvx2(const PrefixTables& tables,
                                                   const unsigned char* block, std::size_t size,
                                                   std::size_t start) {
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  // Whole vectors with the byte after them.
  std::size_t at = start;
  for (; at + kAvx2Bytes < size; at += kAvx2Bytes) {
    Add256<Leads, WithT>(tables, block, size, start, at,
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + at)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + at + 1)),
                         masks);
  }
  AddLast256<Leads, WithT>(tables, block, size, start, at, masks);
  return masks;
}

template <std::size_t Leads>
NCDRILL_AVX2 NCDRILL_INLINE bool ScanAvx2Leads(const PrefixTables& tables, BlockMatcher& matcher,
                                               const unsigned char* block, std::size_t size,
                                               BlockFacts& facts) {
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  std::size_t start = 0;
  for (; size - start > kWordPositions; start += kWordPositions) {
    const WordMasks masks = tSeen ? FullWordAvx2<Leads, false>(tables, block, size, start)
                                  : FullWordAvx2<Leads, true>(tables, block, size, start);
    tSeen = tSeen || masks.t != 0;
    if (!scan.Fold(masks, start)) return scan.found();
  }
  if (start < size) {
    scan.Fold(tSeen ? LastWordAvx2<Leads, false>(tables, block, size, start)
                    : LastWordAvx2<Leads, true>(tables, block, size, start),
              start);
  }
  return scan.found();
}

// The block path of the AVX2 scan `Scan`.
template <BlockScanFn Scan>
NCDRILL_OUT_OF_LINE NCDRILL_AVX2 bool PathAvx2(BlockState& state, const HostCallbacks* host,
                                               const char* text, std::int32_t length) {
  const std::string_view block = state.Begin(text, length);
  BlockFacts facts;
  const bool found =
      Scan(state.matcher.prefixes(), state.matcher, ScanBytes(block), block.size(), facts);
  LeaveVectorCode();
  return found && state.Finish(block, facts, host);
}

// The positions of the `size` bytes (1 to 32) at `bytes` that hold a "T", a
// "(", a NUL or the start of a name or a code, bit k for position k.
template <std::size_t Leads>
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t ShortLooksAvx2(const PrefixTables& tables,
                                                         const unsigned char* bytes,
                                                         std::size_t size) {
  const __m256i first = LoadLast256(bytes, size);
  const std::uint64_t any = BytesToLookAt256<Leads>(first, NextBytes256(first), tables) |
                            Equal256(first, tables.leads[Leads]) |
                            Equal256(first, tables.leads[Leads + 1]);
  return any & LowBits(size);
}

// The positions of the `size` bytes (33 to 64) at `bytes` that hold
// something a scan acts on, from the first 32 and the last 32 (which
// overlap): names, codes and NUL as `leadsOf` (a LeadsFn) finds them 32 at a
// time, and of the "T"s and "("s, those TAndParenLooks gives.
template <typename LeadsFn>
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t MidLooks256(const unsigned char* bytes, std::size_t size,
                                                      const LeadsFn& leadsOf) {
  const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 1));
  const __m256i last =
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + size - kAvx2Bytes));
  const auto lastShift = static_cast<unsigned>(size - kAvx2Bytes);
  // Bit k of `low` for position k, bit k of `high` for position lastShift + k.
  const auto both = [lastShift](std::uint64_t low, std::uint64_t high) {
    return low | high << lastShift;
  };
  const std::uint64_t leads = both(leadsOf(first, second), leadsOf(last, NextBytes256(last)));
  const std::uint64_t t = both(Bits256(Equal256(first, 'T')), Bits256(Equal256(last, 'T')));
  const std::uint64_t paren = both(Bits256(Equal256(first, '(')), Bits256(Equal256(last, '(')));
  return leads | TAndParenLooks(t, paren, leads);
}

// MidLooks256's names, codes and NUL by compares with the `Leads` bytes
// names and codes start with, as ShortLooksAvx2 finds them.
template <std::size_t Leads>
struct ComparedLeads {
  const PrefixTables& tables;
  NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t operator()(__m256i first, __m256i second) const {
    return BytesToLookAt256<Leads>(first, second, tables);
  }
};

// A block of up to 64 characters goes from the short test to ShortPath;
// longer blocks, to the block path `Path`. The AVX-512 units take short
// blocks this way too: the same test built for AVX-512 (its masked loads
// and mask registers) made typical blocks slower, and so did their own
// one-load scans of a short block.
template <std::size_t Leads, BlockPathFn Path>
NCDRILL_AVX2 bool QuickPathAvx2(BlockState& state, const HostCallbacks* host, const char* text,
                                std::int32_t length) {
  const auto size = static_cast<std::uint32_t>(length);
  if (text != nullptr && size - 1 < kAvx2Bytes) {
    const std::uint64_t looks = ShortLooksAvx2<Leads>(
        state.matcher.prefixes(), reinterpret_cast<const unsigned char*>(text), size);
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  if (text != nullptr && size - (kAvx2Bytes + 1) < kAvx2Bytes) {
    const std::uint64_t looks = MidLooks256(reinterpret_cast<const unsigned char*>(text), size,
                                            ComparedLeads<Leads>{state.matcher.prefixes()});
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  return Path(state, host, text, length);
}

template <std::size_t... Leads>
constexpr std::array<BlockScanFn, sizeof...(Leads)> Avx2Scans(std::index_sequence<Leads...>) {
  return {&ScanAvx2Leads<Leads>...};
}
template <std::size_t... Leads>
constexpr std::array<BlockPathFn, sizeof...(Leads)> Avx2Paths(std::index_sequence<Leads...>) {
  return {&QuickPathAvx2<Leads, &PathAvx2<&ScanAvx2Leads<Leads>>>...};
}
constexpr auto kAvx2Scans = Avx2Scans(std::make_index_sequence<kMaxSse2Leads + 1>());
constexpr auto kAvx2Paths = Avx2Paths(std::make_index_sequence<kMaxSse2Leads + 1>());

// Whether AVX2 finds the positions that may start a name by comparing with
// each first byte, or else by nibble lookups of the first two bytes. The
// compares cost less, but test the byte after a first byte only against the
// range of all second bytes: once that range takes in letters (a name such
// as "CYCLE81" or "DWELL"), most words of a comment that begin with a first
// byte pass, and each is looked at one by one. The nibble lookups tell each
// first byte's own second bytes apart.
constexpr std::uint8_t kMaxComparedSecondSpan = 15;
bool ComparesLeads(const PrefixTables& tables) noexcept {
  return tables.leadCount < kAvx2Scans.size() && tables.secondSpan[0] <= kMaxComparedSecondSpan;
}

// Byte k is nonzero where byte k of `first` may start a name, by the nibble
// lookups of it and of the byte after it (`second`).
NCDRILL_AVX2 NCDRILL_INLINE __m256i NamesByNibbles(const PrefixTables& tables, __m256i first,
                                                   __m256i second) {
  return _mm256_and_si256(
      NibbleLookup256(_mm256_load_si256(reinterpret_cast<const __m256i*>(tables.low1)),
                      _mm256_load_si256(reinterpret_cast<const __m256i*>(tables.high1)), first),
      NibbleLookup256(_mm256_load_si256(reinterpret_cast<const __m256i*>(tables.low2)),
                      _mm256_load_si256(reinterpret_cast<const __m256i*>(tables.high2)), second));
}

// Byte k is 0xff where byte k of `first` may start a code (by it and the
// byte after it, `second`) or is NUL.
NCDRILL_AVX2 NCDRILL_INLINE __m256i CodesOrNul256(__m256i first, __m256i second) {
  const __m256i codeLead = _mm256_or_si256(Equal256(first, 'G'), Equal256(first, 'M'));
  const __m256i codeSecond = _mm256_or_si256(
      _mm256_or_si256(Equal256(second, '2'), Equal256(second, '5')), Equal256(second, '9'));
  return _mm256_or_si256(_mm256_and_si256(codeLead, codeSecond),
                         _mm256_cmpeq_epi8(first, _mm256_setzero_si256()));
}

// As ShortLooksAvx2, for a table whose names start with many different
// bytes, or with second bytes that a range does not hold tightly: names by
// nibble lookups, which see the first two bytes together (comparing with
// every first byte would flag most letters of a block).
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t ShortLooksByNibbles(const PrefixTables& tables,
                                                              const unsigned char* bytes,
                                                              std::size_t size) {
  const __m256i first = LoadLast256(bytes, size);
  const __m256i second = NextBytes256(first);
  const __m256i names = NamesByNibbles(tables, first, second);
  const __m256i other = _mm256_or_si256(
      CodesOrNul256(first, second), _mm256_or_si256(Equal256(first, 'T'), Equal256(first, '(')));
  const std::uint64_t any =
      ~Bits256(_mm256_cmpeq_epi8(names, _mm256_setzero_si256())) | Bits256(other);
  return any & LowBits(size);
}

// MidLooks256's names, codes and NUL by NamesByNibbles and CodesOrNul256.
struct LeadsByNibbles {
  const PrefixTables& tables;
  NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t operator()(__m256i first, __m256i second) const {
    const __m256i names = NamesByNibbles(tables, first, second);
    return (~Bits256(_mm256_cmpeq_epi8(names, _mm256_setzero_si256())) & 0xffffffffu) |
           Bits256(CodesOrNul256(first, second));
  }
};

// The quick path of the tables ComparesLeads turns down, for every unit from
// AVX2 up: blocks of up to 64 characters go from the short tests by nibbles
// to ShortPath; longer blocks, to the unit's block path `Path`.
template <BlockPathFn Path>
NCDRILL_AVX2 bool QuickPathByNibbles(BlockState& state, const HostCallbacks* host, const char* text,
                                     std::int32_t length) {
  const auto size = static_cast<std::uint32_t>(length);
  if (text != nullptr && size - 1 < kAvx2Bytes) {
    const std::uint64_t looks = ShortLooksByNibbles(
        state.matcher.prefixes(), reinterpret_cast<const unsigned char*>(text), size);
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  if (text != nullptr && size - (kAvx2Bytes + 1) < kAvx2Bytes) {
    const std::uint64_t looks = MidLooks256(reinterpret_cast<const unsigned char*>(text), size,
                                            LeadsByNibbles{state.matcher.prefixes()});
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  return Path(state, host, text, length);
}

// --- AVX-512: a word is one vector, and masked loads read only the bytes
// the block has ---

#define NCDRILL_AVX512 __attribute__((target("avx512f,avx512bw")))

// The first 64 bytes from `at` and the 64 after each; 0 past the text.
// `valid` marks the positions the text has, and `lastThird` is the byte two
// after the last position (0 past the text).
struct Bytes512 {
  __m512i first, second;
  std::uint64_t valid;
  unsigned char lastThird;
};

// Byte k of the result is byte k + 1 of `v`; the top byte is `next`'s lowest.
NCDRILL_AVX512 NCDRILL_INLINE __m512i NextBytes512(__m512i v, __m512i next) {
  // The zero-masking form with every lane kept is the same instruction; g++
  // 12 takes the plain form's undefined lanes for uninitialised values.
  return _mm512_alignr_epi8(_mm512_maskz_alignr_epi32(0xffff, next, v, 4), v, 1);
}

NCDRILL_AVX512 NCDRILL_INLINE Bytes512 Load512(const unsigned char* block, std::size_t size,
                                               std::size_t at) {
  if (at + kWordPositions + 2 <= size) {
    return Bytes512{_mm512_loadu_si512(block + at), _mm512_loadu_si512(block + at + 1),
                    ~std::uint64_t{0}, block[at + kWordPositions + 1]};
  }
  // The text's last 65 bytes or fewer: one masked load, and the bytes after
  // each moved down from it, which costs less than two more masked loads.
  const std::size_t left = size - at;
  const std::uint64_t valid = LowBits(left);
  const __m512i first = _mm512_maskz_loadu_epi8(valid, block + at);
  const unsigned char after = left > kWordPositions ? block[at + kWordPositions] : 0;
  const __m512i second = NextBytes512(first, _mm512_maskz_set1_epi8(1, static_cast<char>(after)));
  return Bytes512{first, second, valid, 0};
}

// Everything but the names, which each unit looks up its own way.
template <bool WithT>
NCDRILL_AVX512 NCDRILL_INLINE WordMasks CodeMasks512(const Bytes512& bytes, std::uint64_t names) {
  const __m512i first = bytes.first;
  const std::uint64_t g = _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('G'));
  const std::uint64_t second2 = _mm512_cmpeq_epi8_mask(bytes.second, _mm512_set1_epi8('2'));
  const std::uint64_t second5 = _mm512_cmpeq_epi8_mask(bytes.second, _mm512_set1_epi8('5'));
  // The byte two after a position is the byte after the next one.
  const std::uint64_t third2 = second2 >> 1 | std::uint64_t{bytes.lastThird == '2'}
                                                  << (kWordPositions - 1);
  const std::uint64_t m = _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('M'));
  const std::uint64_t second9 = _mm512_cmpeq_epi8_mask(bytes.second, _mm512_set1_epi8('9'));
  const std::uint64_t t = WithT ? _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('T')) : 0;
  const std::uint64_t paren = WithT ? _mm512_cmpeq_epi8_mask(first, _mm512_set1_epi8('(')) : 0;
  const std::uint64_t valid = bytes.valid;
  return WordMasks{names & valid,
                   t,
                   paren,
                   _mm512_testn_epi8_mask(first, first) & valid,
                   m & second9,
                   g & second2,
                   g & second5 & third2};
}

// The four nibble tables in registers: stores could otherwise alias the
// byte tables and force them to be reloaded for every word.
struct Tables512 {
  __m512i low1, high1, low2, high2;
};

NCDRILL_AVX512 NCDRILL_INLINE __m512i NibbleLookup512(__m512i low, __m512i high, __m512i v) {
  const __m512i nibble = _mm512_set1_epi8(0x0f);
  const __m512i lows = _mm512_and_si512(v, nibble);
  const __m512i highs = _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble);
  return _mm512_and_si512(_mm512_shuffle_epi8(low, lows), _mm512_shuffle_epi8(high, highs));
}

template <bool WithT>
NCDRILL_AVX512 NCDRILL_INLINE WordMasks Masks512(const Tables512& tables, const Bytes512& bytes) {
  const __m512i both = _mm512_and_si512(NibbleLookup512(tables.low1, tables.high1, bytes.first),
                                        NibbleLookup512(tables.low2, tables.high2, bytes.second));
  return CodeMasks512<WithT>(bytes, _mm512_test_epi8_mask(both, both));
}

NCDRILL_AVX512 NCDRILL_INLINE bool ScanAvx512(const PrefixTables& prefixTables,
                                              BlockMatcher& matcher, const unsigned char* block,
                                              std::size_t size, BlockFacts& facts) {
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    // Loaded for each word: in a block path, holding them across the calls
    // that walk names would cost a spill of each at every block.
    const Tables512 tables{
        _mm512_load_si512(prefixTables.low1), _mm512_load_si512(prefixTables.high1),
        _mm512_load_si512(prefixTables.low2), _mm512_load_si512(prefixTables.high2)};
    const Bytes512 bytes = Load512(block, size, start);
    const WordMasks masks = tSeen ? Masks512<false>(tables, bytes) : Masks512<true>(tables, bytes);
    tSeen = tSeen || masks.t != 0;
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

// --- AVX-512 VBMI: one permute looks a byte's bits up in 128 entries, half
// the work of two nibble shuffles ---

#define NCDRILL_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

struct TablesVbmi {
  __m512i first0, first1, second0, second1;
};

template <bool WithT>
NCDRILL_VBMI NCDRILL_INLINE WordMasks MasksVbmi(const TablesVbmi& tables, const Bytes512& bytes) {
  const __m512i firstBits = _mm512_permutex2var_epi8(tables.first0, bytes.first, tables.first1);
  const __m512i secondBits = _mm512_permutex2var_epi8(tables.second0, bytes.second, tables.second1);
  return CodeMasks512<WithT>(bytes, _mm512_test_epi8_mask(firstBits, secondBits));
}

NCDRILL_VBMI NCDRILL_INLINE bool ScanVbmi(const PrefixTables& prefixTables, BlockMatcher& matcher,
                                          const unsigned char* block, std::size_t size,
                                          BlockFacts& facts) {
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    // Loaded for each word, as in ScanAvx512.
    const TablesVbmi tables{
        _mm512_load_si512(prefixTables.first128), _mm512_load_si512(prefixTables.first128 + 64),
        _mm512_load_si512(prefixTables.second128), _mm512_load_si512(prefixTables.second128 + 64)};
    const Bytes512 bytes = Load512(block, size, start);
    const WordMasks masks =
        tSeen ? MasksVbmi<false>(tables, bytes) : MasksVbmi<true>(tables, bytes);
    tSeen = tSeen || masks.t != 0;
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

// The block path of the AVX-512 scan `Scan`.
template <BlockScanFn Scan>
NCDRILL_OUT_OF_LINE NCDRILL_AVX512 bool PathAvx512(BlockState& state, const HostCallbacks* host,
                                                   const char* text, std::int32_t length) {
  const std::string_view block = state.Begin(text, length);
  BlockFacts facts;
  const bool found =
      Scan(state.matcher.prefixes(), state.matcher, ScanBytes(block), block.size(), facts);
  LeaveVectorCode();
  return found && state.Finish(block, facts, host);
}

// The block path of the AVX-512 VBMI scan `Scan`.
template <BlockScanFn Scan>
NCDRILL_OUT_OF_LINE NCDRILL_VBMI bool PathVbmi(BlockState& state, const HostCallbacks* host,
                                               const char* text, std::int32_t length) {
  const std::string_view block = state.Begin(text, length);
  BlockFacts facts;
  const bool found =
      Scan(state.matcher.prefixes(), state.matcher, ScanBytes(block), block.size(), facts);
  LeaveVectorCode();
  return found && state.Finish(block, facts, host);
}

// Short blocks go as on AVX2 (QuickPathAvx2; for the tables ComparesLeads
// turns down, QuickPathByNibbles).
template <BlockPathFn Path, std::size_t... Leads>
constexpr std::array<BlockPathFn, sizeof...(Leads)> Avx512Paths(std::index_sequence<Leads...>) {
  return {&QuickPathAvx2<Leads, Path>...};
}
constexpr auto kAvx512Paths =
    Avx512Paths<&PathAvx512<&ScanAvx512>>(std::make_index_sequence<kMaxSse2Leads + 1>());
constexpr auto kVbmiPaths =
    Avx512Paths<&PathVbmi<&ScanVbmi>>(std::make_index_sequence<kMaxSse2Leads + 1>());

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

BlockScanFn BlockScanFor(VectorUnit unit, const PrefixTables& tables) noexcept {
  if (!HasVectorUnit(unit)) return nullptr;
  const std::size_t leadCount = tables.leadCount;
  switch (unit) {
#if defined(__x86_64__)
    case VectorUnit::kAvx512Vbmi:
      return &ScanVbmi;
    case VectorUnit::kAvx512:
      return &ScanAvx512;
    case VectorUnit::kAvx2:
      return ComparesLeads(tables) ? kAvx2Scans[leadCount] : &ScanAvx2ByNibbles;
#endif
#if defined(__x86_64__) || defined(__i386__)
    case VectorUnit::kSse2:
      return leadCount < kSse2Scans.size() ? kSse2Scans[leadCount] : ByteScan();
#endif
    default:
      return PortableScanFor(leadCount);
  }
}

BlockPathFn BlockPathFor(VectorUnit unit, const PrefixTables& tables) noexcept {
  if (!HasVectorUnit(unit)) return nullptr;
  const std::size_t leadCount = tables.leadCount;
  switch (unit) {
#if defined(__x86_64__)
    case VectorUnit::kAvx512Vbmi:
      return ComparesLeads(tables) ? kVbmiPaths[leadCount]
                                   : &QuickPathByNibbles<&PathVbmi<&ScanVbmi>>;
    case VectorUnit::kAvx512:
      return ComparesLeads(tables) ? kAvx512Paths[leadCount]
                                   : &QuickPathByNibbles<&PathAvx512<&ScanAvx512>>;
    case VectorUnit::kAvx2:
      return ComparesLeads(tables) ? kAvx2Paths[leadCount]
                                   : &QuickPathByNibbles<&PathAvx2<&ScanAvx2ByNibbles>>;
#endif
#if defined(__x86_64__) || defined(__i386__)
    case VectorUnit::kSse2:
      return leadCount < kSse2Paths.size() ? kSse2Paths[leadCount] : BytePath();
#endif
    default:
      return PortablePathFor(leadCount);
  }
}

bool HasVectorUnit(VectorUnit unit) noexcept {
#if defined(__i386__)
  // The AVX units are built for x86-64 only.
  if (unit > VectorUnit::kSse2) return false;
#endif
  return ProcessorHas(unit);
}

VectorUnit BestVectorUnit() noexcept {
  auto unit = static_cast<int>(HighestAllowedUnit());
  while (unit > 0 && !HasVectorUnit(static_cast<VectorUnit>(unit))) --unit;
  return static_cast<VectorUnit>(unit);
}

}  // namespace ncdrill
