#include "interpret/portable_scan.h"

namespace ncdrill {
namespace {

constexpr std::size_t kWordBytes = 8;
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Comparing a word with each first byte costs about as much as looking at
// its 8 bytes one by one once there are this many.
constexpr std::size_t kMaxWordLeads = 6;

// The words a scan compares with, as values of its own: the first bytes,
// then "T" and "(", and the range of second bytes.
template <std::size_t Leads>
struct WordConstants {
  explicit WordConstants(const PrefixTables& tables) noexcept {
    for (std::size_t k = 0; k < Leads + 2; ++k) leads[k] = LoadWord(tables.leads[k]);
    // A range that reaches 0x80 cannot be tested this way: every byte passes.
    const unsigned low = tables.secondLow[0];
    const unsigned high = low + tables.secondSpan[0];
    const bool testable = high < 0x80;
    secondLow = testable ? low * kOnes : 0;
    secondHigh = testable ? (high | 0x80u) * kOnes : ~std::uint64_t{0};
  }
  std::uint64_t leads[Leads + 2];
  std::uint64_t secondLow;   // secondLow in every byte
  std::uint64_t secondHigh;  // secondHigh | 0x80 in every byte
};

// The high bit of each byte of `word` that may need a look: it starts a name
// or a code (one of the `Leads` lead bytes, followed by a byte in the
// second-byte range), ends the text (NUL), or, `WithT`, is "T" or "(".
// `next` holds the byte after each.
//
// A superset, without a branch: a byte above a marked one may be marked too
// (a subtraction's borrow runs on into it), and so may bytes from 0x80 up;
// each marked byte is looked at again. Subtracting 1 from a byte sets its
// high bit when the byte is 0; OR-ing in, or masking out, the high bit keeps
// the range's subtractions from borrowing across bytes.
template <std::size_t Leads, bool WithT>
NCDRILL_INLINE std::uint64_t BytesToLookAt(std::uint64_t word, std::uint64_t next,
                                           const WordConstants<Leads>& constants) noexcept {
  std::uint64_t lead = 0;
  for (std::size_t k = 0; k < Leads; ++k) lead |= (word ^ constants.leads[k]) - kOnes;
  const std::uint64_t inRange =
      ((next | kHighs) - constants.secondLow) & (constants.secondHigh - (next & ~kHighs));
  std::uint64_t look = (lead & inRange) | (word - kOnes);
  if (WithT) {
    look |= (word ^ constants.leads[Leads]) - kOnes;
    look |= (word ^ constants.leads[Leads + 1]) - kOnes;
  }
  return look & kHighs;
}

// The high bits of the first `count` (at most 8) bytes of a word.
NCDRILL_INLINE std::uint64_t FirstBytes(std::size_t count) noexcept {
  return count >= kWordBytes ? kHighs : kHighs & ((std::uint64_t{1} << (8 * count)) - 1);
}

// Sets in `masks` what the positions that `look` flags in the word at `at`
// hold; bit k of `masks` stands for position start + k.
NCDRILL_INLINE void ClassifyLooks(const PrefixTables& tables, const unsigned char* block,
                                  std::size_t size, std::size_t start, std::size_t at,
                                  std::uint64_t look, WordMasks& masks) noexcept {
  for (; look != 0; look &= look - 1) {
    const unsigned byte = CountTrailingZeros(look) / 8;
    ClassifyPosition(tables, block, size, at + byte, static_cast<unsigned>(at - start) + byte,
                     masks);
  }
}

// Which bytes of `word` need a look; "T" and "(" only until the first "T".
template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t BytesToLookAt(std::uint64_t word, std::uint64_t next,
                                           const WordConstants<Leads>& constants,
                                           bool tSeen) noexcept {
  return tSeen ? BytesToLookAt<Leads, false>(word, next, constants)
               : BytesToLookAt<Leads, true>(word, next, constants);
}

constexpr std::size_t kChunkBytes = 32;

// Whether the compiler has vector instructions to turn a loop over bytes
// into; without them, the 32-byte test costs more than the words it spares.
#if defined(__SSE2__) || defined(__ARM_NEON) || defined(__ALTIVEC__) || defined(__riscv_vector) || \
    defined(__wasm_simd128__)
constexpr bool kBytesVectorize = true;
#else
constexpr bool kBytesVectorize = false;
#endif

// Whether any of the 32 positions at `bytes` may need a look: the same test
// as BytesToLookAt, exact, written as a loop over bytes without a branch,
// which compilers turn into vector compares where the processor has any.
template <std::size_t Leads, bool WithT>
NCDRILL_INLINE bool ChunkNeedsLook(const unsigned char* bytes,
                                   const PrefixTables& tables) noexcept {
  unsigned char any = 0;
  for (std::size_t i = 0; i < kChunkBytes; ++i) {
    const unsigned char c = bytes[i];
    unsigned char lead = 0;
    for (std::size_t k = 0; k < Leads; ++k)
      lead |= static_cast<unsigned char>(c == tables.leads[k][0]);
    const auto fromLow = static_cast<unsigned char>(bytes[i + 1] - tables.secondLow[0]);
    const auto inRange = static_cast<unsigned char>(fromLow <= tables.secondSpan[0]);
    auto look = static_cast<unsigned char>((lead & inRange) | (c == 0));
    if (WithT) look |= static_cast<unsigned char>((c == 'T') | (c == '('));
    any |= look;
  }
  return any != 0;
}

template <std::size_t Leads>
NCDRILL_INLINE bool ChunkNeedsLook(const unsigned char* bytes, const PrefixTables& tables,
                                   bool tSeen) noexcept {
  return tSeen ? ChunkNeedsLook<Leads, false>(bytes, tables)
               : ChunkNeedsLook<Leads, true>(bytes, tables);
}

// The masks of the 64 positions from `start`, 8 at a time.
template <std::size_t Leads>
NCDRILL_INLINE WordMasks MasksByWord(const PrefixTables& tables,
                                     const WordConstants<Leads>& constants,
                                     const unsigned char* block, std::size_t size,
                                     std::size_t start, bool& tSeen) noexcept {
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  const std::size_t end = size - start < kWordPositions ? size : start + kWordPositions;
  // Whole words with the byte after them.
  const std::size_t wholeEnd = end < size ? end : size - 1;
  std::size_t at = start;
  // 32 positions at a time, and the words of those that hold something;
  // then the words left.
  const auto wordsFrom = [&](std::size_t from, std::size_t to) {
    for (std::size_t word = from; word < to; word += kWordBytes) {
      const std::uint64_t look = BytesToLookAt<Leads>(LoadWord(block + word),
                                                      LoadWord(block + word + 1), constants, tSeen);
      if (look != 0) {
        ClassifyLooks(tables, block, size, start, word, look, masks);
        tSeen = tSeen || masks.t != 0;
      }
    }
  };
  for (; kBytesVectorize && at + kChunkBytes <= wholeEnd; at += kChunkBytes) {
    if (ChunkNeedsLook<Leads>(block + at, tables, tSeen)) wordsFrom(at, at + kChunkBytes);
  }
  const std::size_t wordsEnd = at + (wholeEnd - at) / kWordBytes * kWordBytes;
  wordsFrom(at, wordsEnd);
  at = wordsEnd;
  if (at < end) {
    // The text's last 8 bytes or fewer; the byte after them counts as 0.
    const std::uint64_t word = LoadPartialWord(block + at, end - at);
    const std::uint64_t look =
        BytesToLookAt<Leads>(word, word >> 8, constants, tSeen) & FirstBytes(end - at);
    if (look != 0) ClassifyLooks(tables, block, size, start, at, look, masks);
  }
  return masks;
}

// 8 positions at a time: a word's bytes are compared with the `Leads` bytes
// names and codes start with, and with "T" and "(" until the first "T".
template <std::size_t Leads>
bool ScanByWord(const PrefixTables& tables, BlockMatcher& matcher, const unsigned char* block,
                std::size_t size, BlockFacts& facts) noexcept {
  const WordConstants<Leads> constants(tables);
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    const WordMasks masks = MasksByWord<Leads>(tables, constants, block, size, start, tSeen);
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

}  // namespace

bool ScanByByte(const PrefixTables& tables, BlockMatcher& matcher, const unsigned char* block,
                std::size_t size, BlockFacts& facts) noexcept {
  ScanState scan(matcher, block, size, facts);
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    WordMasks masks{0, 0, 0, 0, 0, 0, 0};
    const std::size_t end = size - start < kWordPositions ? size : start + kWordPositions;
    for (std::size_t at = start; at < end; ++at) {
      if (tables.attention[block[at]] != 0) {
        ClassifyPosition(tables, block, size, at, static_cast<unsigned>(at - start), masks);
      }
    }
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

BlockScanFn PortableScanFor(std::size_t leadCount) noexcept {
  static constexpr BlockScanFn kScans[] = {&ScanByWord<0>, &ScanByWord<1>, &ScanByWord<2>,
                                           &ScanByWord<3>, &ScanByWord<4>, &ScanByWord<5>,
                                           &ScanByWord<6>};
  static_assert(sizeof kScans / sizeof kScans[0] == kMaxWordLeads + 1, "one per count");
  return leadCount <= kMaxWordLeads ? kScans[leadCount] : &ScanByByte;
}

}  // namespace ncdrill
