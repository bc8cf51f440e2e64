#include "interpret/vector_scan.h"

#include <algorithm>
#include <array>
#include <utility>

#include "interpret/block_path.h"
#include "interpret/portable_scan.h"
#include "interpret/word_scan.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ncdrill {

#if defined(__x86_64__) || defined(__i386__)
namespace {

// What the first walk of a block of more than 64 characters found
// (LongWalkSse2, LongWalk256, LongWalkVbmi). Most long blocks are a few
// words and a comment: nothing after the first 64 characters (the head)
// counts, and they go on as short blocks do, from the positions of the
// head a short test would have found, without a scan.
//
// The walk need not find a NUL after the head. A NUL ends the text early,
// which matters only when something it acts on would stand after it, and
// anything after the head makes the walk hand the block on whole. Short of
// that, ShortPath comes to the same from the whole text: no name holds a
// NUL, and no request or code reads past one. (The AVX-512 walks test for
// NULs all the same, in the test their word walkers share: without it,
// they ran slower here.)
enum class LongBlock {
  kIdle,   // nothing it acts on: it does nothing
  kHead,   // what it acts on is all in the head, at `headLooks`
  kWhole,  // something after the head: the block path scans it all
};
struct LongWalk {
  LongBlock verdict;
  std::uint64_t headLooks;
};

// The walk's answer when nothing after the head counts: the block does
// nothing, or ShortPath looks at `headLooks`.
NCDRILL_INLINE LongWalk FromHead(std::uint64_t headLooks) noexcept {
  return LongWalk{headLooks != 0 ? LongBlock::kHead : LongBlock::kIdle, headLooks};
}

// The positions of a long block's head that ShortPath must look at, from
// those the walk's lookup flagged there (`leads`) and its "T"s and "("s
// (`either`): as TAndParenLooks has it, the first of these when it is a
// "T"; and when the head holds more to look at, the first of them whatever
// it is, so that ShortPath sees a "(" before a name that starts with "T"
// (a position more only costs a look when ShortPath runs anyway).
NCDRILL_INLINE std::uint64_t HeadLooks(std::uint64_t leads, std::uint64_t either,
                                       const unsigned char* head) noexcept {
  const bool firstIsT = either != 0 && head[CountTrailingZeros(either)] == 'T';
  const std::uint64_t first = either & (0 - either);
  return leads | (leads != 0 || firstIsT ? first : 0);
}

// Where a block goes after that walk: nowhere, to ShortPath, or to the
// block path `whole`.
NCDRILL_INLINE bool AfterLongWalk(const LongWalk& walk, BlockState& state,
                                  const HostCallbacks* host, const char* text, std::int32_t length,
                                  BlockPathFn whole) {
  switch (walk.verdict) {
    case LongBlock::kIdle:
      return false;
    case LongBlock::kHead:
      return ShortPath(state, host, text, length, walk.headLooks);
    case LongBlock::kWhole:
      break;
  }
  return whole(state, host, text, length);
}

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

NCDRILL_SSE2 NCDRILL_INLINE __m128i Row128(const std::uint8_t* row) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(row));
}

NCDRILL_SSE2 NCDRILL_INLINE __m128i Load128(const unsigned char* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t Bits128(__m128i marks) {
  return static_cast<unsigned>(_mm_movemask_epi8(marks));
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

// --- Word walkers (WordScan): the tight loops of a scan, one word of 64 positions
// at a time ---

// The SSE2 walker's look at a word: each byte compared with the `Leads`
// first bytes of names and codes, and the byte after it with the range of
// their second bytes, moved to start at -128 so that one signed compare
// tests it. A word is read from memory 16 bytes at a time, the byte after
// each from a load one byte on: keeping a whole word in registers would
// spill it.
template <std::size_t Leads>
struct Compares128 {
  NCDRILL_SSE2 NCDRILL_INLINE explicit Compares128(const PrefixTables& tables)
      : bias(Row128(tables.secondBias)),
        last(Row128(tables.secondLast)),
        low(Row128(tables.secondLow)),
        span(Row128(tables.secondSpan)),
        tight(tables.secondSpan[0] <= kMaxComparedSecondSpan) {
    for (std::size_t k = 0; k < Leads; ++k) leads[k] = Row128(tables.leads[k]);
  }
  // Whether a byte of the word at `bytes` (which has a byte after it)
  // follows a byte and lies in the range of second bytes, or is NUL: half
  // the work of AnyLead. Where the range is tight (digits), most words of a
  // comment have none.
  NCDRILL_SSE2 NCDRILL_INLINE bool AnySecondOrNul(const unsigned char* bytes) const {
    __m128i outOfRange = _mm_set1_epi8(-1);
    __m128i smallest = _mm_set1_epi8(-1);
    for (std::size_t v = 0; v < 4; ++v) {
      const __m128i second = Load128(bytes + 16 * v + 1);
      outOfRange = _mm_and_si128(outOfRange, _mm_cmpgt_epi8(_mm_add_epi8(second, bias), last));
      smallest = _mm_min_epu8(smallest, Load128(bytes + 16 * v));
    }
    const __m128i none =
        _mm_andnot_si128(_mm_cmpeq_epi8(smallest, _mm_setzero_si128()), outOfRange);
    return _mm_movemask_epi8(none) != 0xffff;
  }
  // A cheaper first test, for the first walk of a long block (which needs
  // no NULs, LongBlock): whether a byte of the 64 from `bytes` + 1 on lies
  // in the range of second bytes, or below its span (a control byte, which
  // only costs a look): one unsigned minimum of each byte and its distance
  // from the range's start tells. `Last`: the text's last 64 bytes, with a
  // byte of 0xff after them.
  template <bool Last>
  NCDRILL_SSE2 NCDRILL_INLINE bool AnySecondOrLow(const unsigned char* bytes) const {
    __m128i smallest = _mm_set1_epi8(-1);
    for (std::size_t v = 0; v < 4; ++v) {
      const __m128i after = Last && v == 3
                                ? _mm_or_si128(_mm_srli_si128(Load128(bytes + 48), 1),
                                               _mm_slli_si128(_mm_set1_epi8(-1), kSse2Bytes - 1))
                                : Load128(bytes + 16 * v + 1);
      smallest = _mm_min_epu8(smallest, _mm_min_epu8(_mm_sub_epi8(after, low), after));
    }
    const __m128i within = _mm_cmpeq_epi8(_mm_subs_epu8(smallest, span), _mm_setzero_si128());
    return _mm_movemask_epi8(within) != 0;
  }
  // Whether a byte from `from` up to `end` (16 or more bytes on) lies in
  // the range of second bytes: one subtraction and one unsigned minimum per
  // 16 bytes, into two minimums that do not wait on each other, and one
  // test for all.
  NCDRILL_SSE2 NCDRILL_INLINE bool AnySecondBetween(const unsigned char* from,
                                                    const unsigned char* end) const {
    __m128i smallest = _mm_sub_epi8(Load128(end - kSse2Bytes), low);
    __m128i other = smallest;
    for (; from + 2 * kSse2Bytes < end; from += 2 * kSse2Bytes) {
      smallest = _mm_min_epu8(smallest, _mm_sub_epi8(Load128(from), low));
      other = _mm_min_epu8(other, _mm_sub_epi8(Load128(from + kSse2Bytes), low));
    }
    if (from + kSse2Bytes < end) {
      smallest = _mm_min_epu8(smallest, _mm_sub_epi8(Load128(from), low));
    }
    smallest = _mm_min_epu8(smallest, other);
    const __m128i within = _mm_cmpeq_epi8(_mm_subs_epu8(smallest, span), _mm_setzero_si128());
    return _mm_movemask_epi8(within) != 0;
  }
  // 0xff where a byte of `first` may start a name or a code.
  NCDRILL_SSE2 NCDRILL_INLINE __m128i CodeFlags(__m128i first, __m128i second) const {
    __m128i lead = _mm_setzero_si128();
    for (std::size_t k = 0; k < Leads; ++k) {
      lead = _mm_or_si128(lead, _mm_cmpeq_epi8(first, leads[k]));
    }
    return _mm_andnot_si128(_mm_cmpgt_epi8(_mm_add_epi8(second, bias), last), lead);
  }
  // Whether a position of the word at `bytes` (which has a byte after it)
  // may start a name or a code, or holds a NUL: one NUL test of the word's
  // smallest bytes, one movemask.
  NCDRILL_SSE2 NCDRILL_INLINE bool AnyLead(const unsigned char* bytes) const {
    return (!tight || AnySecondOrNul(bytes)) && AnyLeadAt(bytes);
  }
  // The same without the first test.
  NCDRILL_SSE2 NCDRILL_INLINE bool AnyLeadAt(const unsigned char* bytes) const {
    __m128i any = _mm_setzero_si128();
    __m128i smallest = _mm_set1_epi8(-1);
    for (std::size_t v = 0; v < 4; ++v) {
      const __m128i first = Load128(bytes + 16 * v);
      any = _mm_or_si128(any, CodeFlags(first, Load128(bytes + 16 * v + 1)));
      smallest = _mm_min_epu8(smallest, first);
    }
    any = _mm_or_si128(any, _mm_cmpeq_epi8(smallest, _mm_setzero_si128()));
    return _mm_movemask_epi8(any) != 0;
  }
  // Those positions, bit k for position k; `Last`: the text's last 64
  // bytes, the byte after the last counting as 0.
  template <bool Last>
  NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t LeadBits(const unsigned char* bytes) const {
    std::uint64_t bits = 0;
    for (std::size_t v = 0; v < 4; ++v) {
      const __m128i first = Load128(bytes + 16 * v);
      const __m128i second =
          Last && v == 3 ? _mm_srli_si128(first, 1) : Load128(bytes + 16 * v + 1);
      const __m128i flags =
          _mm_or_si128(CodeFlags(first, second), _mm_cmpeq_epi8(first, _mm_setzero_si128()));
      bits |= Bits128(flags) << (16 * v);
    }
    return bits;
  }
  // Bit k: byte k is `c`, or `d`.
  NCDRILL_SSE2 NCDRILL_INLINE static std::uint64_t EqualBits(const unsigned char* bytes, char c,
                                                             char d) {
    std::uint64_t bits = 0;
    for (std::size_t v = 0; v < 4; ++v) {
      const __m128i first = Load128(bytes + 16 * v);
      bits |= Bits128(_mm_or_si128(_mm_cmpeq_epi8(first, _mm_set1_epi8(c)),
                                   _mm_cmpeq_epi8(first, _mm_set1_epi8(d))))
              << (16 * v);
    }
    return bits;
  }
  // What TSearch takes of the word at `bytes`, from position `seen` on.
  template <bool Exact>
  NCDRILL_SSE2 NCDRILL_INLINE static void SearchT(TSearch& t, std::size_t start,
                                                  const unsigned char* bytes, unsigned seen,
                                                  const unsigned char* block) {
    if (Exact) {
      t.Take(start, EqualBits(bytes, 'T', 'T') >> seen, EqualBits(bytes, '(', '(') >> seen);
    } else {
      t.TakeFirst(start, EqualBits(bytes, 'T', '(') >> seen, block);
    }
  }
  __m128i leads[Leads > 0 ? Leads : 1];
  __m128i bias, last;
  __m128i low, span;
  bool tight;
};

// Bit k: byte k of the word at `bytes` is a "T" or a "(", by the rows of
// PrefixTables (loads, where constants take three instructions each).
NCDRILL_SSE2 NCDRILL_INLINE std::uint64_t TOrParenBits128(const PrefixTables& tables,
                                                          std::size_t leadCount,
                                                          const unsigned char* bytes) {
  const __m128i t = Row128(tables.leads[leadCount]);
  const __m128i paren = Row128(tables.leads[leadCount + 1]);
  std::uint64_t bits = 0;
  for (std::size_t v = 0; v < 4; ++v) {
    const __m128i first = Load128(bytes + 16 * v);
    bits |= Bits128(_mm_or_si128(_mm_cmpeq_epi8(first, t), _mm_cmpeq_epi8(first, paren)))
            << (16 * v);
  }
  return bits;
}

// Walks the words of `scan` (see WordScan) with the compares of a table
// whose names and codes start with `Leads` different bytes.
template <std::size_t Leads, bool Exact, typename Scan>
NCDRILL_SSE2 NCDRILL_INLINE void WalkWordsSse2(const PrefixTables& tables, Scan& scan) {
  const Compares128<Leads> look(tables);
  const unsigned char* block = scan.words();
  const std::size_t size = scan.wordsSize();
  TSearch& t = scan.t();
  std::size_t start = scan.firstWord();
  if (start >= size) return;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const unsigned char* bytes = block + start;
    if (t.Looking()) look.template SearchT<Exact>(t, start, bytes, 0, block);
    if (look.AnyLead(bytes) && !scan.Fold(start, look.template LeadBits<false>(bytes))) return;
  }
  // The last word, from the text's last 64 bytes.
  const std::size_t from = size - kWordPositions;
  const auto seen = static_cast<unsigned>(start - from);
  const unsigned char* bytes = block + from;
  if (t.Looking()) look.template SearchT<Exact>(t, start, bytes, seen, block);
  const std::uint64_t leads = look.template LeadBits<true>(bytes) >> seen;
  if (leads != 0) scan.Fold(start, leads);
}

// The BlockScanFn for Examine: facts exact to the first "T".
template <std::size_t Leads>
NCDRILL_SSE2_ENTRY NCDRILL_INLINE bool ScanSse2(const PrefixTables& tables, BlockMatcher& matcher,
                                                const unsigned char* block, std::size_t size,
                                                BlockFacts& facts) {
  WordScan scan(tables, matcher, block, size, facts);
  WalkWordsSse2<Leads, true>(tables, scan);
  return scan.Finish();
}

// The block path of the SSE2 scans: a long block is tested first, and
// scanned only when it may act (WordTest). Each unit has its own copy of
// these few lines, with its own target attribute: a template without the
// attribute could not have the walks inlined into it.
template <std::size_t Leads>
NCDRILL_OUT_OF_LINE NCDRILL_SSE2_ENTRY bool PathSse2(BlockState& state, const HostCallbacks* host,
                                                     const char* text, std::int32_t length) {
  const std::string_view block = HostBlock(text, length);
  const PrefixTables& tables = state.matcher.prefixes();
  WordTest test(ScanBytes(block), block.size());
  const bool tested = block.size() > kWordPositions;
  if (tested) {
    WalkWordsSse2<Leads, false>(tables, test);
    if (!test.MayAct()) return false;
  }
  state.matcher.BeginBlock();
  BlockFacts facts;
  WordScan scan(tables, state.matcher, ScanBytes(block), block.size(), facts);
  if (tested) scan.Resume(test);
  WalkWordsSse2<Leads, false>(tables, scan);
  return scan.Finish() && state.Finish(block, facts, host);
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

// What 32 positions of a long block's head hold, bit k for position k:
// those that may start a name or a code or hold a NUL (`leads`), as
// LeadBits finds them, and its "T"s and "("s (`either`).
struct HeadHalf {
  std::uint64_t leads;
  std::uint64_t either;
};

template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE HeadHalf HeadHalfSse2(const PrefixTables& tables,
                                                  const Compares128<Leads>& look,
                                                  const unsigned char* bytes) {
  const __m128i t = Row128(tables.leads[Leads]);
  const __m128i paren = Row128(tables.leads[Leads + 1]);
  HeadHalf half{0, 0};
  for (std::size_t v = 0; v < 2; ++v) {
    const __m128i first = Load128(bytes + kSse2Bytes * v);
    const __m128i leads = _mm_or_si128(look.CodeFlags(first, Load128(bytes + kSse2Bytes * v + 1)),
                                       _mm_cmpeq_epi8(first, _mm_setzero_si128()));
    half.leads |= Bits128(leads) << (kSse2Bytes * v);
    half.either |= Bits128(_mm_or_si128(_mm_cmpeq_epi8(first, t), _mm_cmpeq_epi8(first, paren)))
                   << (kSse2Bytes * v);
  }
  return half;
}

// Walks a block of more than 64 characters once, 64 at a time, to see
// whether its first 64 (the head) hold all it acts on: whether anything
// after them may start a name or a code or is NUL, and, when the head holds
// no "T" or "(", whether a "T" comes before the first "(" after it.
template <std::size_t Leads>
NCDRILL_SSE2 NCDRILL_INLINE LongWalk LongWalkSse2(const PrefixTables& tables,
                                                  const unsigned char* bytes, std::size_t size) {
  const Compares128<Leads> look(tables);
  // Most long blocks are a few words and a comment that opens in their
  // first 32 characters: when a "T" or a "(" stands there and nothing after
  // them may start a name or a code, those 32 hold all that ShortPath
  // needs; when only the rest of the head may, the head does. One pass over
  // the second bytes from there on tells which (and a comment with a digit
  // after the head costs that pass on top of the words' walk).
  const HeadHalf low = HeadHalfSse2(tables, look, bytes);
  const bool secondsInHalf = !look.tight || look.AnySecondBetween(bytes + 33, bytes + 65);
  const bool secondsAfter = !look.tight || look.AnySecondBetween(bytes + 65, bytes + size);
  if (low.either != 0 && !(secondsInHalf | secondsAfter)) {
    return FromHead(HeadLooks(low.leads, low.either, bytes));
  }
  const HeadHalf high = HeadHalfSse2(tables, look, bytes + 32);
  const std::uint64_t headEither = low.either | high.either << 32;
  const std::uint64_t headLooks = HeadLooks(low.leads | high.leads << 32, headEither, bytes);
  bool settled = headEither != 0;
  if (settled && !secondsAfter) return FromHead(headLooks);
  std::size_t start = kWordPositions;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const unsigned char* word = bytes + start;
    if (!settled) {
      const std::uint64_t either = TOrParenBits128(tables, Leads, word);
      if (either != 0) {
        if (word[CountTrailingZeros(either)] == 'T') return LongWalk{LongBlock::kWhole, 0};
        settled = true;
      }
    }
    if ((!look.tight || look.template AnySecondOrLow<false>(word)) && look.AnyLeadAt(word)) {
      return LongWalk{LongBlock::kWhole, 0};
    }
  }
  // The last word, from the text's last 64 bytes. Its positions before
  // `start` were looked at already, with the same result; those of the
  // head are the head's.
  const std::size_t from = size - kWordPositions;
  const unsigned char* word = bytes + from;
  if (!settled) {
    const std::uint64_t either = TOrParenBits128(tables, Leads, word);
    if (either != 0 && word[CountTrailingZeros(either)] == 'T') {
      return LongWalk{LongBlock::kWhole, 0};
    }
  }
  if (!look.tight || look.template AnySecondOrLow<true>(word)) {
    const auto headPart = static_cast<unsigned>(std::max<std::size_t>(from, kWordPositions) - from);
    if ((look.template LeadBits<true>(word) >> headPart) != 0) {
      return LongWalk{LongBlock::kWhole, 0};
    }
  }
  return FromHead(headLooks);
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
  if (text != nullptr && length > static_cast<std::int32_t>(kWordPositions)) {
    return AfterLongWalk(LongWalkSse2<Leads>(state.matcher.prefixes(),
                                             reinterpret_cast<const unsigned char*>(text), size),
                         state, host, text, length, &PathSse2<Leads>);
  }
  return PathSse2<Leads>(state, host, text, length);
}

// One scan per count of lead bytes, picked at load.
template <std::size_t... Leads>
constexpr std::array<BlockScanFn, sizeof...(Leads)> Sse2Scans(std::index_sequence<Leads...>) {
  return {&ScanSse2<Leads>...};
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

// --- AVX2: compares as on SSE2, or nibble shuffles, 32 positions at a
// time ---

#define NCDRILL_AVX2 __attribute__((target("avx2")))

constexpr std::size_t kAvx2Bytes = 32;

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

// The short tests' compares, the SSE2 way, 32 positions at a time: a byte
// needs a look when it starts a name or a code or is NUL.
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

// The AVX2 word walkers. Each lookup gives, for 32 bytes `first` and the
// bytes after them `second`, a nonzero byte where a position may start a
// name or a code or holds a NUL.

// Compares as on SSE2.
template <std::size_t Leads>
struct Compares256 {
  NCDRILL_AVX2 NCDRILL_INLINE explicit Compares256(const PrefixTables& tables)
      : bias(Row256(tables.secondBias)), last(Row256(tables.secondLast)) {
    for (std::size_t k = 0; k < Leads; ++k) leads[k] = Row256(tables.leads[k]);
  }
  NCDRILL_AVX2 NCDRILL_INLINE __m256i LeadFlags(__m256i first, __m256i second) const {
    __m256i lead = _mm256_setzero_si256();
    for (std::size_t k = 0; k < Leads; ++k) {
      lead = _mm256_or_si256(lead, _mm256_cmpeq_epi8(first, leads[k]));
    }
    const __m256i outOfRange = _mm256_cmpgt_epi8(_mm256_add_epi8(second, bias), last);
    return _mm256_or_si256(_mm256_andnot_si256(outOfRange, lead),
                           _mm256_cmpeq_epi8(first, _mm256_setzero_si256()));
  }
  __m256i leads[Leads > 0 ? Leads : 1];
  __m256i bias, last;
};

// The classes of bytes (PrefixTables) by nibble lookups, for the tables
// ComparesLeads turns down.
struct Classes256 {
  NCDRILL_AVX2 NCDRILL_INLINE explicit Classes256(const PrefixTables& tables)
      : low1(Load256(tables.classLow1)),
        high1(Load256(tables.classHigh1)),
        low2(Load256(tables.classLow2)),
        high2(Load256(tables.classHigh2)),
        nul(_mm256_set1_epi8(PrefixTables::kClassNul)) {}
  NCDRILL_AVX2 NCDRILL_INLINE static __m256i Load256(const std::uint8_t* table) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(table));
  }
  NCDRILL_AVX2 NCDRILL_INLINE __m256i LeadFlags(__m256i first, __m256i second) const {
    return _mm256_and_si256(NibbleLookup256(low1, high1, first),
                            _mm256_or_si256(NibbleLookup256(low2, high2, second), nul));
  }
  __m256i low1, high1, low2, high2, nul;
};

NCDRILL_AVX2 NCDRILL_INLINE __m256i LoadBytes256(const unsigned char* bytes) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

// The first test of a word where the second bytes of names and codes lie
// close together, as Compares128::AnySecondOrNul makes it.
struct SecondTest256 {
  NCDRILL_AVX2 NCDRILL_INLINE explicit SecondTest256(const PrefixTables& tables)
      : bias(Row256(tables.secondBias)),
        last(Row256(tables.secondLast)),
        tight(tables.secondSpan[0] <= kMaxComparedSecondSpan) {}
  // Whether a byte of `lowSecond` or `highSecond` (the bytes after a
  // word's) lies in the range: the first walk's test, which needs no NULs
  // (LongBlock), and runs for tables the compares serve, whose range is
  // tight.
  NCDRILL_AVX2 NCDRILL_INLINE bool AnySecond(__m256i lowSecond, __m256i highSecond) const {
    const __m256i outOfRange =
        _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_add_epi8(lowSecond, bias), last),
                         _mm256_cmpgt_epi8(_mm256_add_epi8(highSecond, bias), last));
    return _mm256_testc_si256(outOfRange, _mm256_set1_epi8(-1)) == 0;
  }
  // Whether a byte from `from` up to `end` (32 or more bytes on) lies in
  // the range: one test for all.
  NCDRILL_AVX2 NCDRILL_INLINE bool AnySecondBetween(const unsigned char* from,
                                                    const unsigned char* end) const {
    __m256i outOfRange = OutOfRange(end - kAvx2Bytes);
    for (; from + kAvx2Bytes < end; from += kAvx2Bytes) {
      outOfRange = _mm256_and_si256(outOfRange, OutOfRange(from));
    }
    return _mm256_testc_si256(outOfRange, _mm256_set1_epi8(-1)) == 0;
  }
  // Whether all of the 32 bytes at `at` lie outside the range.
  NCDRILL_AVX2 NCDRILL_INLINE bool OutOfRangeAll(const unsigned char* at) const {
    return _mm256_testc_si256(OutOfRange(at), _mm256_set1_epi8(-1)) != 0;
  }
  // 0xff for each of the 32 bytes at `at` that lies outside the range.
  NCDRILL_AVX2 NCDRILL_INLINE __m256i OutOfRange(const unsigned char* at) const {
    return _mm256_cmpgt_epi8(_mm256_add_epi8(LoadBytes256(at), bias), last);
  }
  // Whether the word at `bytes` (which has a byte after it) may hold
  // something.
  NCDRILL_AVX2 NCDRILL_INLINE bool Passes(const unsigned char* bytes) const {
    if (!tight) return true;
    const __m256i outOfRange =
        _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_add_epi8(LoadBytes256(bytes + 1), bias), last),
                         _mm256_cmpgt_epi8(_mm256_add_epi8(LoadBytes256(bytes + 33), bias), last));
    const __m256i nul = _mm256_cmpeq_epi8(
        _mm256_min_epu8(LoadBytes256(bytes), LoadBytes256(bytes + 32)), _mm256_setzero_si256());
    return _mm256_testc_si256(_mm256_andnot_si256(nul, outOfRange), _mm256_set1_epi8(-1)) == 0;
  }
  __m256i bias, last;
  bool tight;
};

// Bit k: byte k of `flags` is not 0.
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t Set256(__m256i flags) {
  return ~Bits256(_mm256_cmpeq_epi8(flags, _mm256_setzero_si256())) & 0xffffffffu;
}

// The positions of the word at `bytes` that may start a name or a code or
// hold a NUL, bit k for position k; `Last`: the text's last 64 bytes, the
// byte after the last counting as 0.
template <bool Last, typename Lookup>
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t LeadBits256(const Lookup& lookup,
                                                      const unsigned char* bytes) {
  const __m256i high = LoadBytes256(bytes + 32);
  const __m256i afterHigh = Last ? NextBytes256(high) : LoadBytes256(bytes + 33);
  return Set256(lookup.LeadFlags(LoadBytes256(bytes), LoadBytes256(bytes + 1))) |
         Set256(lookup.LeadFlags(high, afterHigh)) << 32;
}

// Bit k: byte k of the word at `bytes` is `c`, or `d`.
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t EqualBits256(const unsigned char* bytes, char c, char d) {
  const __m256i low = LoadBytes256(bytes);
  const __m256i high = LoadBytes256(bytes + 32);
  return Bits256(_mm256_or_si256(Equal256(low, c), Equal256(low, d))) |
         Bits256(_mm256_or_si256(Equal256(high, c), Equal256(high, d))) << 32;
}

// Bit k: byte k of the word at `bytes` is a "T" or a "(", by the rows of
// PrefixTables (loads, where constants take three instructions each).
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t TOrParenBits256(const PrefixTables& tables,
                                                          std::size_t leadCount,
                                                          const unsigned char* bytes) {
  const __m256i t = Row256(tables.leads[leadCount]);
  const __m256i paren = Row256(tables.leads[leadCount + 1]);
  const __m256i low = LoadBytes256(bytes);
  const __m256i high = LoadBytes256(bytes + 32);
  return Bits256(_mm256_or_si256(_mm256_cmpeq_epi8(low, t), _mm256_cmpeq_epi8(low, paren))) |
         Bits256(_mm256_or_si256(_mm256_cmpeq_epi8(high, t), _mm256_cmpeq_epi8(high, paren))) << 32;
}

// What TSearch takes of the word at `bytes`, from position `seen` on.
template <bool Exact>
NCDRILL_AVX2 NCDRILL_INLINE void SearchT256(TSearch& t, std::size_t start,
                                            const unsigned char* bytes, unsigned seen,
                                            const unsigned char* block) {
  if (Exact) {
    t.Take(start, EqualBits256(bytes, 'T', 'T') >> seen, EqualBits256(bytes, '(', '(') >> seen);
  } else {
    t.TakeFirst(start, EqualBits256(bytes, 'T', '(') >> seen, block);
  }
}

// Walks the words of `scan` with the lookup `Lookup`.
template <typename Lookup, bool Exact, typename Scan>
NCDRILL_AVX2 NCDRILL_INLINE void WalkWordsAvx2(const PrefixTables& tables, Scan& scan) {
  const Lookup lookup(tables);
  const SecondTest256 second(tables);
  const unsigned char* block = scan.words();
  const std::size_t size = scan.wordsSize();
  TSearch& t = scan.t();
  std::size_t start = scan.firstWord();
  if (start >= size) return;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const unsigned char* bytes = block + start;
    if (t.Looking()) SearchT256<Exact>(t, start, bytes, 0, block);
    if (!second.Passes(bytes)) continue;
    const __m256i any =
        _mm256_or_si256(lookup.LeadFlags(LoadBytes256(bytes), LoadBytes256(bytes + 1)),
                        lookup.LeadFlags(LoadBytes256(bytes + 32), LoadBytes256(bytes + 33)));
    if (!_mm256_testz_si256(any, any) && !scan.Fold(start, LeadBits256<false>(lookup, bytes))) {
      return;
    }
  }
  const std::size_t from = size - kWordPositions;
  const auto seen = static_cast<unsigned>(start - from);
  const unsigned char* bytes = block + from;
  if (t.Looking()) SearchT256<Exact>(t, start, bytes, seen, block);
  const std::uint64_t leads = LeadBits256<true>(lookup, bytes) >> seen;
  if (leads != 0) scan.Fold(start, leads);
}

template <typename Lookup>
NCDRILL_AVX2 NCDRILL_INLINE bool ScanAvx2(const PrefixTables& tables, BlockMatcher& matcher,
                                          const unsigned char* block, std::size_t size,
                                          BlockFacts& facts) {
  WordScan scan(tables, matcher, block, size, facts);
  WalkWordsAvx2<Lookup, true>(tables, scan);
  return scan.Finish();
}

// The block path of the AVX2 scans, as PathSse2.
template <typename Lookup>
NCDRILL_OUT_OF_LINE NCDRILL_AVX2 bool PathAvx2(BlockState& state, const HostCallbacks* host,
                                               const char* text, std::int32_t length) {
  const std::string_view block = HostBlock(text, length);
  const PrefixTables& tables = state.matcher.prefixes();
  WordTest test(ScanBytes(block), block.size());
  const bool tested = block.size() > kWordPositions;
  if (tested) {
    WalkWordsAvx2<Lookup, false>(tables, test);
    if (!test.MayAct()) return false;
  }
  state.matcher.BeginBlock();
  BlockFacts facts;
  WordScan scan(tables, state.matcher, ScanBytes(block), block.size(), facts);
  if (tested) scan.Resume(test);
  WalkWordsAvx2<Lookup, false>(tables, scan);
  // The rest of the path and the host's callbacks are SSE code, which runs
  // slower while the upper halves of the vector registers hold anything.
  _mm256_zeroupper();
  return scan.Finish() && state.Finish(block, facts, host);
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

// The positions of a long block's first 64 characters (its head) that may
// start a name or a code or hold a NUL, by the short tests' compares, with
// the byte after the 64th as it stands.
template <std::size_t Leads>
NCDRILL_AVX2 NCDRILL_INLINE std::uint64_t HeadLeads256(const PrefixTables& tables,
                                                       const unsigned char* bytes) {
  return std::uint64_t{
             BytesToLookAt256<Leads>(LoadBytes256(bytes), LoadBytes256(bytes + 1), tables)} |
         std::uint64_t{
             BytesToLookAt256<Leads>(LoadBytes256(bytes + 32), LoadBytes256(bytes + 33), tables)}
             << 32;
}

// The first walk's test of a word after the head: a second byte in range
// first, then the lookup (a NUL it finds only costs the whole scan). The
// `Last` word is the text's last 64 bytes, the byte after the last
// counting as 0.
template <bool Last, typename Lookup>
NCDRILL_AVX2 NCDRILL_INLINE bool AnyLead256(const Lookup& lookup, const SecondTest256& second,
                                            const unsigned char* bytes) {
  const __m256i low = LoadBytes256(bytes);
  const __m256i high = LoadBytes256(bytes + 32);
  const __m256i lowSecond = LoadBytes256(bytes + 1);
  const __m256i highSecond = Last ? NextBytes256(high) : LoadBytes256(bytes + 33);
  if (!second.AnySecond(lowSecond, highSecond)) return false;
  const __m256i any =
      _mm256_or_si256(lookup.LeadFlags(low, lowSecond), lookup.LeadFlags(high, highSecond));
  return !_mm256_testz_si256(any, any);
}

// Walks a block of more than 64 characters once, 64 at a time, as
// LongWalkSse2 does.
template <std::size_t Leads>
NCDRILL_AVX2 NCDRILL_INLINE LongWalk LongWalk256(const PrefixTables& tables,
                                                 const unsigned char* bytes, std::size_t size) {
  const Compares256<Leads> lookup(tables);
  const SecondTest256 second(tables);
  // As LongWalkSse2 has it, from the first 32 characters when they can.
  const __m256i low = LoadBytes256(bytes);
  const std::uint64_t lowEither =
      Bits256(_mm256_or_si256(_mm256_cmpeq_epi8(low, Row256(tables.leads[Leads])),
                              _mm256_cmpeq_epi8(low, Row256(tables.leads[Leads + 1]))));
  const std::uint64_t lowLeads = BytesToLookAt256<Leads>(low, LoadBytes256(bytes + 1), tables);
  const bool secondsInHalf = !second.OutOfRangeAll(bytes + 33);
  const bool secondsAfter = second.AnySecondBetween(bytes + 65, bytes + size);
  if (lowEither != 0 && !(secondsInHalf | secondsAfter)) {
    return FromHead(HeadLooks(lowLeads, lowEither, bytes));
  }
  const std::uint64_t headEither = TOrParenBits256(tables, Leads, bytes);
  const std::uint64_t headLooks = HeadLooks(HeadLeads256<Leads>(tables, bytes), headEither, bytes);
  bool settled = headEither != 0;
  if (settled && !secondsAfter) return FromHead(headLooks);
  std::size_t start = kWordPositions;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const unsigned char* word = bytes + start;
    if (!settled) {
      const std::uint64_t either = TOrParenBits256(tables, Leads, word);
      if (either != 0) {
        if (word[CountTrailingZeros(either)] == 'T') return LongWalk{LongBlock::kWhole, 0};
        settled = true;
      }
    }
    if (AnyLead256<false>(lookup, second, word)) return LongWalk{LongBlock::kWhole, 0};
  }
  // The last word, from the text's last 64 bytes. Its positions before
  // `start` were looked at already, with the same result; those of the
  // head are the head's.
  const std::size_t from = size - kWordPositions;
  const unsigned char* word = bytes + from;
  if (!settled) {
    const std::uint64_t either = TOrParenBits256(tables, Leads, word);
    if (either != 0 && word[CountTrailingZeros(either)] == 'T') {
      return LongWalk{LongBlock::kWhole, 0};
    }
  }
  if (AnyLead256<true>(lookup, second, word)) {
    const auto headPart = static_cast<unsigned>(std::max<std::size_t>(from, kWordPositions) - from);
    if ((LeadBits256<true>(lookup, word) >> headPart) != 0) return LongWalk{LongBlock::kWhole, 0};
  }
  return FromHead(headLooks);
}

// A block of up to 64 characters goes from the short test to ShortPath;
// longer blocks through LongWalk256 to what it found, else to `Path`. The
// AVX-512 units take blocks of the tables the compares serve this way too:
// the same tests built for AVX-512 (its masked loads and mask registers)
// made typical blocks slower, and so did their own one-load scans of a
// short block and their own first walks of a long one; while 512-bit
// instructions run, the 256-bit ones around them run slower.
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
  if (text != nullptr && length > static_cast<std::int32_t>(kWordPositions)) {
    return AfterLongWalk(LongWalk256<Leads>(state.matcher.prefixes(),
                                            reinterpret_cast<const unsigned char*>(text), size),
                         state, host, text, length, Path);
  }
  return Path(state, host, text, length);
}

template <std::size_t... Leads>
constexpr std::array<BlockScanFn, sizeof...(Leads)> Avx2Scans(std::index_sequence<Leads...>) {
  return {&ScanAvx2<Compares256<Leads>>...};
}
template <std::size_t... Leads>
constexpr std::array<BlockPathFn, sizeof...(Leads)> Avx2Paths(std::index_sequence<Leads...>) {
  return {&QuickPathAvx2<Leads, &PathAvx2<Compares256<Leads>>>...};
}
constexpr auto kAvx2Scans = Avx2Scans(std::make_index_sequence<kMaxSse2Leads + 1>());
constexpr auto kAvx2Paths = Avx2Paths(std::make_index_sequence<kMaxSse2Leads + 1>());

// Whether the second bytes of names and codes lie close together, so that
// the walks' first test of a word passes only where one may start. Where
// they do not, the VBMI unit scans long blocks without a first walk: most
// words would pass its tests, and most long blocks be walked twice.
bool TightSeconds(const PrefixTables& tables) noexcept {
  return tables.secondSpan[0] <= kMaxComparedSecondSpan;
}

// Whether AVX2 finds the positions that may start a name by comparing with
// each first byte, or else by nibble lookups of the first two bytes. The
// compares cost less, but test the byte after a first byte only against the
// range of all second bytes (kMaxComparedSecondSpan); the nibble lookups
// tell each first byte's own second bytes apart.
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

// --- AVX-512: a word is one vector; the classes of bytes by nibble
// shuffles, or on VBMI by 64-entry byte permutes ---

#define NCDRILL_AVX512 __attribute__((target("avx512f,avx512bw")))
#define NCDRILL_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// A word's 64 bytes and the byte after each.
struct Word512 {
  __m512i first, second;
};

// The word at `bytes`, which has a byte after it.
NCDRILL_AVX512 NCDRILL_INLINE Word512 LoadWord512(const unsigned char* bytes) {
  return Word512{_mm512_loadu_si512(bytes), _mm512_loadu_si512(bytes + 1)};
}

// A text's last 64 bytes, at `bytes`: the byte after the last counts as 0,
// and a masked load reads nothing past it.
NCDRILL_AVX512 NCDRILL_INLINE Word512 LoadLastWord512(const unsigned char* bytes) {
  return Word512{_mm512_loadu_si512(bytes),
                 _mm512_maskz_loadu_epi8(~std::uint64_t{0} >> 1, bytes + 1)};
}

// Bit k: byte k of `word` is `c`.
NCDRILL_AVX512 NCDRILL_INLINE std::uint64_t Equal512(const Word512& word, char c) {
  return _mm512_cmpeq_epi8_mask(word.first, _mm512_set1_epi8(c));
}

// The first test of a word where the second bytes of names and codes lie
// close together, as Compares128::AnySecondOrNul makes it.
struct SecondTest512 {
  NCDRILL_AVX512 NCDRILL_INLINE explicit SecondTest512(const PrefixTables& tables)
      : low(_mm512_set1_epi8(static_cast<char>(tables.secondLow[0]))),
        span(_mm512_set1_epi8(static_cast<char>(tables.secondSpan[0]))),
        tight(tables.secondSpan[0] <= kMaxComparedSecondSpan) {}
  NCDRILL_AVX512 NCDRILL_INLINE bool Passes(const Word512& word) const {
    if (!tight) return true;
    return (_mm512_cmple_epu8_mask(_mm512_sub_epi8(word.second, low), span) |
            _mm512_testn_epi8_mask(word.first, word.first)) != 0;
  }
  __m512i low, span;
  bool tight;
};

// What TSearch takes of `word`, at `start`, from position `seen` on.
template <bool Exact>
NCDRILL_AVX512 NCDRILL_INLINE void SearchT512(TSearch& t, std::size_t start, const Word512& word,
                                              unsigned seen, const unsigned char* block) {
  if (Exact) {
    t.Take(start, Equal512(word, 'T') >> seen, Equal512(word, '(') >> seen);
  } else {
    t.TakeFirst(start, (Equal512(word, 'T') | Equal512(word, '(')) >> seen, block);
  }
}

// The classes by nibble shuffles. Each lookup has its own walker: a
// function with the lookup's instructions in it must carry its target.
struct Classes512 {
  NCDRILL_AVX512 NCDRILL_INLINE explicit Classes512(const PrefixTables& tables)
      : low1(_mm512_load_si512(tables.classLow1)),
        high1(_mm512_load_si512(tables.classHigh1)),
        low2(_mm512_load_si512(tables.classLow2)),
        high2(_mm512_load_si512(tables.classHigh2)),
        nul(_mm512_set1_epi8(PrefixTables::kClassNul)) {}
  NCDRILL_AVX512 NCDRILL_INLINE static __m512i Nibbles(__m512i low, __m512i high, __m512i v) {
    const __m512i nibble = _mm512_set1_epi8(0x0f);
    return _mm512_and_si512(
        _mm512_shuffle_epi8(low, _mm512_and_si512(v, nibble)),
        _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble)));
  }
  // Bit k: position k may start a name or a code, or holds a NUL.
  NCDRILL_AVX512 NCDRILL_INLINE std::uint64_t Leads(const Word512& word) const {
    return _mm512_test_epi8_mask(Nibbles(low1, high1, word.first),
                                 _mm512_or_si512(Nibbles(low2, high2, word.second), nul));
  }
  __m512i low1, high1, low2, high2, nul;
};

// Walks the words of `scan` by the lookup `Classes512`. (A walker with the
// lookup's instructions in it must carry its target: each lookup has its
// own.)
template <bool Exact, typename Scan>
NCDRILL_AVX512 NCDRILL_INLINE void WalkWordsAvx512(const PrefixTables& tables, Scan& scan) {
  const Classes512 lookup(tables);
  const SecondTest512 second(tables);
  const unsigned char* block = scan.words();
  const std::size_t size = scan.wordsSize();
  TSearch& t = scan.t();
  std::size_t start = scan.firstWord();
  if (start >= size) return;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const Word512 word = LoadWord512(block + start);
    if (t.Looking()) SearchT512<Exact>(t, start, word, 0, block);
    if (!second.Passes(word)) continue;
    const std::uint64_t leads = lookup.Leads(word);
    if (leads != 0 && !scan.Fold(start, leads)) return;
  }
  const std::size_t from = size - kWordPositions;
  const auto seen = static_cast<unsigned>(start - from);
  const Word512 word = LoadLastWord512(block + from);
  if (t.Looking()) SearchT512<Exact>(t, start, word, seen, block);
  const std::uint64_t leads = lookup.Leads(word) >> seen;
  if (leads != 0) scan.Fold(start, leads);
}

NCDRILL_AVX512 NCDRILL_INLINE bool ScanAvx512(const PrefixTables& tables, BlockMatcher& matcher,
                                              const unsigned char* block, std::size_t size,
                                              BlockFacts& facts) {
  WordScan scan(tables, matcher, block, size, facts);
  WalkWordsAvx512<true>(tables, scan);
  return scan.Finish();
}

// The classes by 64-entry byte permutes: one lookup per byte where nibbles
// take two.
struct ClassesVbmi {
  NCDRILL_VBMI NCDRILL_INLINE explicit ClassesVbmi(const PrefixTables& tables)
      : first(_mm512_load_si512(tables.classFirst64)),
        second(_mm512_load_si512(tables.classSecond64)),
        nul(_mm512_set1_epi8(PrefixTables::kClassNul)) {}
  // The zero-masking form with every byte kept is the plain permute; g++ 12
  // takes the plain form's undefined merge source for an uninitialised
  // value.
  NCDRILL_VBMI NCDRILL_INLINE static __m512i Lookup(__m512i table, __m512i bytes) {
    return _mm512_maskz_permutexvar_epi8(~std::uint64_t{0}, bytes, table);
  }
  NCDRILL_VBMI NCDRILL_INLINE std::uint64_t Leads(const Word512& word) const {
    return _mm512_test_epi8_mask(Lookup(first, word.first),
                                 _mm512_or_si512(Lookup(second, word.second), nul));
  }
  __m512i first, second, nul;
};

template <bool Exact, typename Scan>
NCDRILL_VBMI NCDRILL_INLINE void WalkWordsVbmi(const PrefixTables& tables, Scan& scan) {
  const ClassesVbmi lookup(tables);
  const SecondTest512 second(tables);
  const unsigned char* block = scan.words();
  const std::size_t size = scan.wordsSize();
  TSearch& t = scan.t();
  std::size_t start = scan.firstWord();
  if (start >= size) return;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const Word512 word = LoadWord512(block + start);
    if (t.Looking()) SearchT512<Exact>(t, start, word, 0, block);
    if (!second.Passes(word)) continue;
    const std::uint64_t leads = lookup.Leads(word);
    if (leads != 0 && !scan.Fold(start, leads)) return;
  }
  const std::size_t from = size - kWordPositions;
  const auto seen = static_cast<unsigned>(start - from);
  const Word512 word = LoadLastWord512(block + from);
  if (t.Looking()) SearchT512<Exact>(t, start, word, seen, block);
  const std::uint64_t leads = lookup.Leads(word) >> seen;
  if (leads != 0) scan.Fold(start, leads);
}

NCDRILL_VBMI NCDRILL_INLINE bool ScanVbmi(const PrefixTables& tables, BlockMatcher& matcher,
                                          const unsigned char* block, std::size_t size,
                                          BlockFacts& facts) {
  WordScan scan(tables, matcher, block, size, facts);
  WalkWordsVbmi<true>(tables, scan);
  return scan.Finish();
}

// The block paths of the AVX-512 scans, as PathSse2.
NCDRILL_OUT_OF_LINE NCDRILL_AVX512 bool PathAvx512(BlockState& state, const HostCallbacks* host,
                                                   const char* text, std::int32_t length) {
  const std::string_view block = HostBlock(text, length);
  const PrefixTables& tables = state.matcher.prefixes();
  WordTest test(ScanBytes(block), block.size());
  const bool tested = block.size() > kWordPositions;
  if (tested) {
    WalkWordsAvx512<false>(tables, test);
    if (!test.MayAct()) return false;
  }
  state.matcher.BeginBlock();
  BlockFacts facts;
  WordScan scan(tables, state.matcher, ScanBytes(block), block.size(), facts);
  if (tested) scan.Resume(test);
  WalkWordsAvx512<false>(tables, scan);
  _mm256_zeroupper();  // as in PathAvx2
  return scan.Finish() && state.Finish(block, facts, host);
}

NCDRILL_OUT_OF_LINE NCDRILL_VBMI bool PathVbmi(BlockState& state, const HostCallbacks* host,
                                               const char* text, std::int32_t length) {
  const std::string_view block = HostBlock(text, length);
  const PrefixTables& tables = state.matcher.prefixes();
  WordTest test(ScanBytes(block), block.size());
  const bool tested = block.size() > kWordPositions;
  if (tested) {
    WalkWordsVbmi<false>(tables, test);
    if (!test.MayAct()) return false;
  }
  state.matcher.BeginBlock();
  BlockFacts facts;
  WordScan scan(tables, state.matcher, ScanBytes(block), block.size(), facts);
  if (tested) scan.Resume(test);
  WalkWordsVbmi<false>(tables, scan);
  _mm256_zeroupper();  // as in PathAvx2
  return scan.Finish() && state.Finish(block, facts, host);
}

// Walks a block of more than 64 characters once, as LongWalkSse2 does, by
// the classes of bytes.
NCDRILL_VBMI NCDRILL_INLINE LongWalk LongWalkVbmi(const PrefixTables& tables,
                                                  const unsigned char* bytes, std::size_t size) {
  const ClassesVbmi lookup(tables);
  const SecondTest512 second(tables);
  const Word512 head = LoadWord512(bytes);
  const std::uint64_t headEither = Equal512(head, 'T') | Equal512(head, '(');
  const std::uint64_t headLooks = HeadLooks(lookup.Leads(head), headEither, bytes);
  bool settled = headEither != 0;
  std::size_t start = kWordPositions;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const Word512 word = LoadWord512(bytes + start);
    if (!settled) {
      const std::uint64_t either = Equal512(word, 'T') | Equal512(word, '(');
      if (either != 0) {
        if (bytes[start + CountTrailingZeros(either)] == 'T') {
          return LongWalk{LongBlock::kWhole, 0};
        }
        settled = true;
      }
    }
    if (second.Passes(word) && lookup.Leads(word) != 0) return LongWalk{LongBlock::kWhole, 0};
  }
  // The last word, as in LongWalkSse2.
  const std::size_t from = size - kWordPositions;
  const Word512 word = LoadLastWord512(bytes + from);
  if (!settled) {
    const std::uint64_t either = Equal512(word, 'T') | Equal512(word, '(');
    if (either != 0 && bytes[from + CountTrailingZeros(either)] == 'T') {
      return LongWalk{LongBlock::kWhole, 0};
    }
  }
  const auto headPart = static_cast<unsigned>(std::max<std::size_t>(from, kWordPositions) - from);
  if (second.Passes(word) && (lookup.Leads(word) >> headPart) != 0) {
    return LongWalk{LongBlock::kWhole, 0};
  }
  return FromHead(headLooks);
}

// What the VBMI unit's short tests hand longer blocks to: its own first
// walk, then PathVbmi.
NCDRILL_OUT_OF_LINE NCDRILL_VBMI bool LongPathVbmi(BlockState& state, const HostCallbacks* host,
                                                   const char* text, std::int32_t length) {
  const std::string_view block = HostBlock(text, length);
  if (block.size() <= kWordPositions) return PathVbmi(state, host, text, length);
  return AfterLongWalk(LongWalkVbmi(state.matcher.prefixes(), ScanBytes(block), block.size()),
                       state, host, text, length, &PathVbmi);
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
      return ComparesLeads(tables) ? kAvx2Scans[leadCount] : &ScanAvx2<Classes256>;
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
      if (ComparesLeads(tables)) return kAvx2Paths[leadCount];
      return TightSeconds(tables) ? &QuickPathByNibbles<&LongPathVbmi>
                                  : &QuickPathByNibbles<&PathVbmi>;
    case VectorUnit::kAvx512:
      if (ComparesLeads(tables)) return kAvx2Paths[leadCount];
      return &QuickPathByNibbles<&PathAvx512>;
    case VectorUnit::kAvx2:
      return ComparesLeads(tables) ? kAvx2Paths[leadCount]
                                   : &QuickPathByNibbles<&PathAvx2<Classes256>>;
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
