#include "interpret/portable_scan.h"

#include "interpret/block_path.h"

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

// The high bits of the first `count` (1 to 8) bytes of a word, by a shift
// rather than a branch on the count.
NCDRILL_INLINE std::uint64_t FirstBytes(std::size_t count) noexcept {
  return kHighs >> (8 * (kWordBytes - count));
}

// Sets in `masks` what the positions that `look` flags in the word at `at`
// hold; bit k of `masks` stands for position start + k.
NCDRILL_INLINE void ClassifyLooks(const PrefixTables& tables, const unsigned char* block,
                                  std::size_t size, std::size_t start, std::size_t at,
                                  std::uint64_t look, WordMasks& masks) noexcept {
  for (; look != 0; look &= look - 1) {
    const unsigned byte = CountTrailingZeros(look) / 8;
    ClassifyPosition(tables, block, size, at + byte, static_cast<unsigned>(at + byte - start),
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

// The bytes of a block of 17 to 32 characters that may hold something, as
// BytesToLookAt marks them (the high bit of a byte counts): `head` for
// positions 0 to 15, `tail` for the last 16 (size - 16 on), 8 a word.
struct ShortLooks {
  std::uint64_t head[2];
  std::uint64_t tail[2];
  std::uint64_t any;  // nonzero when one of them is
  // Bit k for position k of a block of `size` characters.
  std::uint64_t Positions(std::size_t size) const noexcept {
    return Gather(head[0]) | Gather(head[1]) << kWordBytes |
           Gather(tail[0]) << (size - 2 * kWordBytes) | Gather(tail[1]) << (size - kWordBytes);
  }
  // The high bits of a word's bytes as its lowest 8 bits; the
  // multiplication moves each into the top byte, without a branch.
  static std::uint64_t Gather(std::uint64_t marks) noexcept {
    return ((marks & kHighs) * 0x0002040810204081ULL) >> 56;
  }
};

// Where the compiler has vector instructions for its generic vectors, the
// positions go 16 at a time in them, and the 64-bit words only take texts
// shorter than 16 bytes. Without vector instructions, the vectors would cost
// more than the words.
#if defined(__SSE2__) || defined(__ARM_NEON) || defined(__ALTIVEC__) || defined(__riscv_vector) || \
    defined(__wasm_simd128__)

constexpr std::size_t kChunkBytes = 32;

// 16 bytes as one value, in g++'s and clang's generic vectors: each
// operation applies to every byte, and becomes one vector instruction where
// the processor has them. A comparison gives 0xff where it holds.
using Bytes16 = unsigned char __attribute__((vector_size(16)));
using Mask16 = signed char __attribute__((vector_size(16)));  // what comparisons give
using Words16 = std::uint64_t __attribute__((vector_size(16)));

Bytes16 LoadBytes16(const unsigned char* bytes) noexcept {
  Bytes16 v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

// The bytes a chunk is compared with, as values of the scan's own, so that
// they stay in registers across the chunks of a block.
template <std::size_t Leads>
struct ChunkConstants {
  explicit ChunkConstants(const PrefixTables& tables) noexcept
      : secondLow(LoadBytes16(tables.secondLow)), secondSpan(LoadBytes16(tables.secondSpan)) {
    for (std::size_t k = 0; k < Leads + 2; ++k) leads[k] = LoadBytes16(tables.leads[k]);
  }
  Bytes16 leads[Leads + 2];  // the first bytes, then "T" and "("
  Bytes16 secondLow;
  Bytes16 secondSpan;
};

// The bytes of `first` that may need a look, as BytesToLookAt says, exact;
// `second` holds the byte after each.
template <std::size_t Leads, bool WithT>
NCDRILL_INLINE Mask16 BytesToLookAt16(Bytes16 first, Bytes16 second,
                                      const ChunkConstants<Leads>& constants) noexcept {
  Mask16 lead{};
  for (std::size_t k = 0; k < Leads; ++k) lead |= first == constants.leads[k];
  const Bytes16 fromLow = second - constants.secondLow;
  Mask16 look = (lead & (fromLow <= constants.secondSpan)) | (first == 0);
  if (WithT) look |= (first == constants.leads[Leads]) | (first == constants.leads[Leads + 1]);
  return look;
}

// Positions in vectors of 16 bytes, 0xff where a position is marked.
template <std::size_t Vectors>
struct ChunkMarks {
  Words16 vectors[Vectors];
  bool any() const noexcept {
    Words16 all = vectors[0];
    for (std::size_t v = 1; v < Vectors; ++v) all |= vectors[v];
    return (all[0] | all[1]) != 0;
  }
  // Those of the 8 positions from 8 * word on, as BytesToLookAt marks them.
  std::uint64_t word(std::size_t word) const noexcept {
    return vectors[word / 2][word % 2] & kHighs;
  }
  // The first of them as a bit (bit k for position k), or 0: a gather of
  // every word costs more than finding the first, which comes early.
  std::uint64_t FirstBit() const noexcept {
    for (std::size_t w = 0; w < 2 * Vectors; ++w) {
      const std::uint64_t marks = word(w);
      if (marks != 0) return std::uint64_t{1} << (8 * w + CountTrailingZeros(marks) / 8);
    }
    return 0;
  }
  // All of them, bit k for position k. The multiplication moves the high
  // bit of each byte into the top byte, without a branch.
  std::uint64_t bits() const noexcept {
    static_assert(Vectors <= 4, "a chunk fits a word");
    std::uint64_t all = 0;
    for (std::size_t w = 0; w < 2 * Vectors; ++w) {
      all |= ((word(w) * 0x0002040810204081ULL) >> 56) << (8 * w);
    }
    return all;
  }
};

// The positions of the 16 * `Vectors` bytes at `bytes` that may need a
// look, exactly: `codes` those that start a name or a code or end the text;
// `t` and `paren` those that hold "T" and "(" (only `WithT`).
template <std::size_t Leads, bool WithT, std::size_t Vectors>
struct ChunkLooks {
  ChunkLooks(const unsigned char* bytes, const ChunkConstants<Leads>& constants) noexcept {
    for (std::size_t v = 0; v < Vectors; ++v) {
      Set(v, LoadBytes16(bytes + 16 * v), LoadBytes16(bytes + 16 * v + 1), constants);
    }
  }
  // One vector's: `second` holds the byte after each of `first`.
  ChunkLooks(Bytes16 first, Bytes16 second, const ChunkConstants<Leads>& constants) noexcept {
    static_assert(Vectors == 1, "one vector");
    Set(0, first, second, constants);
  }
  bool any() const noexcept {
    if (!WithT) return codes.any();
    ChunkMarks<Vectors> all = codes;
    for (std::size_t v = 0; v < Vectors; ++v) all.vectors[v] |= t.vectors[v] | paren.vectors[v];
    return all.any();
  }
  ChunkMarks<Vectors> codes;
  ChunkMarks<Vectors> t;
  ChunkMarks<Vectors> paren;

 private:
  void Set(std::size_t v, Bytes16 first, Bytes16 second,
           const ChunkConstants<Leads>& constants) noexcept {
    codes.vectors[v] =
        reinterpret_cast<Words16>(BytesToLookAt16<Leads, false>(first, second, constants));
    t.vectors[v] = reinterpret_cast<Words16>(WithT ? first == constants.leads[Leads] : Mask16{});
    paren.vectors[v] =
        reinterpret_cast<Words16>(WithT ? first == constants.leads[Leads + 1] : Mask16{});
  }
};

// `bits`, bit k for position at + k, as bits of the positions from
// `start`; the text's last 16 may begin before `start`.
NCDRILL_INLINE std::uint64_t FromStart(std::uint64_t bits, std::size_t start,
                                       std::size_t at) noexcept {
  return at >= start ? bits << (at - start) : bits >> (start - at);
}

// Sets in `masks` what the positions of the chunk at `at` that `looks`
// flags hold: the first "T" and the first "(" straight from their marks,
// until the first "T" (a scan needs no later ones: whether a "(" comes
// before the first "T" shows in the first "("); the others by a look at
// each.
template <std::size_t Leads, bool WithT, std::size_t Vectors>
NCDRILL_INLINE void ClassifyChunk(const PrefixTables& tables, const unsigned char* block,
                                  std::size_t size, std::size_t start, std::size_t at,
                                  const ChunkLooks<Leads, WithT, Vectors>& looks, bool& tSeen,
                                  WordMasks& masks) noexcept {
  if (WithT && !tSeen) {
    const std::uint64_t t = FromStart(looks.t.FirstBit(), start, at);
    masks.t |= t;
    masks.paren |= FromStart(looks.paren.FirstBit(), start, at);
    tSeen = t != 0;
  }
  for (std::uint64_t codes = looks.codes.bits(); codes != 0; codes &= codes - 1) {
    const std::size_t position = at + CountTrailingZeros(codes);
    ClassifyPosition(tables, block, size, position, static_cast<unsigned>(position - start), masks);
  }
}

// Adds what the 16 * `Vectors` positions at `at` hold to `masks`.
template <std::size_t Leads, std::size_t Vectors>
NCDRILL_INLINE void AddChunk(const PrefixTables& tables, const ChunkConstants<Leads>& constants,
                             const unsigned char* block, std::size_t size, std::size_t start,
                             std::size_t at, bool& tSeen, WordMasks& masks) noexcept {
  if (tSeen) {
    const ChunkLooks<Leads, false, Vectors> looks(block + at, constants);
    if (looks.any()) ClassifyChunk(tables, block, size, start, at, looks, tSeen, masks);
  } else {
    const ChunkLooks<Leads, true, Vectors> looks(block + at, constants);
    if (looks.any()) ClassifyChunk(tables, block, size, start, at, looks, tSeen, masks);
  }
}

// Adds what the text's last positions, from `at` on, hold to `masks`, for
// a text of 16 bytes or more whose last 16 begin at or before `at`: one
// load of those 16, and the positions before `at` dropped.
template <std::size_t Leads>
NCDRILL_INLINE void AddLast16(const PrefixTables& tables, const ChunkConstants<Leads>& constants,
                              const unsigned char* block, std::size_t size, std::size_t start,
                              std::size_t at, bool& tSeen, WordMasks& masks) noexcept {
  const std::size_t from = size - 16;
  const Bytes16 first = LoadBytes16(block + from);
  // The byte after the text's last counts as 0.
  const Bytes16 second = __builtin_shufflevector(first, Bytes16{}, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                 11, 12, 13, 14, 15, 16);
  const Bytes16 positions = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Mask16 unseen = positions >= static_cast<unsigned char>(at - from);
  ChunkLooks<Leads, true, 1> looks(first, second, constants);
  looks.codes.vectors[0] &= reinterpret_cast<Words16>(unseen);
  looks.t.vectors[0] &= reinterpret_cast<Words16>(unseen);
  looks.paren.vectors[0] &= reinterpret_cast<Words16>(unseen);
  if (looks.any()) ClassifyChunk(tables, block, size, start, from, looks, tSeen, masks);
}

// Adds what the positions from `start` to `end` (at most a word) hold to
// `masks`, in vectors. Returns false, adding nothing, for a text shorter than
// 16 bytes.
template <std::size_t Leads>
NCDRILL_INLINE bool AddByVectors(const PrefixTables& tables, const ChunkConstants<Leads>& constants,
                                 const unsigned char* block, std::size_t size, std::size_t start,
                                 std::size_t end, bool& tSeen, WordMasks& masks) noexcept {
  if (end < size) {
    // A whole word at once when the text goes on past it, so that a long
    // block costs one branch per word.
    AddChunk<Leads, kWordPositions / 16>(tables, constants, block, size, start, start, tSeen,
                                         masks);
    return true;
  }
  if (size < 16) return false;
  // Whole vectors with the byte after them, then the last 16 bytes.
  std::size_t at = start;
  for (; at + kChunkBytes < size; at += kChunkBytes) {
    AddChunk<Leads, kChunkBytes / 16>(tables, constants, block, size, start, at, tSeen, masks);
  }
  if (at + 16 < size) {
    AddChunk<Leads, 1>(tables, constants, block, size, start, at, tSeen, masks);
    at += 16;
  }
  if (at < end) AddLast16(tables, constants, block, size, start, at, tSeen, masks);
  return true;
}

// The same for the `size` bytes (17 to 32) at `bytes`: two vectors, the
// second overlapping the first.
template <std::size_t Leads>
NCDRILL_INLINE ShortLooks ShortLooksFrom17(const PrefixTables& tables, const unsigned char* bytes,
                                           std::size_t size) noexcept {
  const ChunkConstants<Leads> constants(tables);
  const Bytes16 tail = LoadBytes16(bytes + size - 16);
  const Bytes16 afterTail = __builtin_shufflevector(tail, Bytes16{}, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                    11, 12, 13, 14, 15, 16);
  const auto head = reinterpret_cast<Words16>(
      BytesToLookAt16<Leads, true>(LoadBytes16(bytes), LoadBytes16(bytes + 1), constants));
  const auto last =
      reinterpret_cast<Words16>(BytesToLookAt16<Leads, true>(tail, afterTail, constants));
  // Tested as one vector: most short blocks hold nothing.
  const Words16 both = head | last;
  return ShortLooks{{head[0], head[1]}, {last[0], last[1]}, both[0] | both[1]};
}

// BytesToLookAt16 of two words and the bytes after each.
template <std::size_t Leads>
NCDRILL_INLINE Words16 LookAtWords(const ChunkConstants<Leads>& constants, Words16 words,
                                   Words16 nexts) noexcept {
  return reinterpret_cast<Words16>(BytesToLookAt16<Leads, true>(
      reinterpret_cast<Bytes16>(words), reinterpret_cast<Bytes16>(nexts), constants));
}

// The positions of the `size` bytes (1 to 8, and 9 to 16) at `bytes` that
// may hold something, bit k for position k: the words of the build without
// vectors, put in one vector, which compares them with the tables' rows
// where they lie instead of keeping each row in a register.
template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t ShortLooksUpTo8(const PrefixTables& tables, const unsigned char* bytes,
                                             std::size_t size) noexcept {
  const ChunkConstants<Leads> constants(tables);
  const std::uint64_t word = LoadPartialWord(bytes, size);
  return ShortLooks::Gather(LookAtWords(constants, Words16{word, 0}, Words16{word >> 8, 0})[0] &
                            FirstBytes(size));
}

template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t ShortLooks9To16(const PrefixTables& tables, const unsigned char* bytes,
                                             std::size_t size) noexcept {
  const ChunkConstants<Leads> constants(tables);
  const std::uint64_t tail = LoadWord(bytes + size - kWordBytes);
  const Words16 look = LookAtWords(constants, Words16{LoadWord(bytes), tail},
                                   Words16{LoadWord(bytes + 1), tail >> 8});
  return ShortLooks::Gather(look[0]) | ShortLooks::Gather(look[1]) << (size - kWordBytes);
}

// The positions of the `size` bytes (33 to 64) at `bytes` that may hold
// something, as BytesToLookAt marks them, from the first 32 and the last 32
// (which overlap); of the "T"s and "("s, those TAndParenLooks gives.
template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t MidLooks(const PrefixTables& tables, const unsigned char* bytes,
                                      std::size_t size) noexcept {
  const ChunkConstants<Leads> constants(tables);
  const unsigned char* tail = bytes + size - 32;
  const Bytes16 last = LoadBytes16(tail + 16);
  const Bytes16 afterLast = __builtin_shufflevector(last, Bytes16{}, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                    11, 12, 13, 14, 15, 16);
  using Looks16 = ChunkLooks<Leads, true, 1>;
  const Looks16 parts[] = {Looks16(LoadBytes16(bytes), LoadBytes16(bytes + 1), constants),
                           Looks16(LoadBytes16(bytes + 16), LoadBytes16(bytes + 17), constants),
                           Looks16(LoadBytes16(tail), LoadBytes16(tail + 1), constants),
                           Looks16(last, afterLast, constants)};
  // Gathering the bits costs more than the vectors: most such blocks hold
  // nothing, and most of the others no "T" or "(".
  Words16 anyLead{};
  Words16 anyTOrParen{};
  for (const Looks16& part : parts) {
    anyLead |= part.codes.vectors[0];
    anyTOrParen |= part.t.vectors[0] | part.paren.vectors[0];
  }
  const std::size_t from[] = {0, 16, size - 32, size - 16};
  std::uint64_t leads = 0;
  if ((anyLead[0] | anyLead[1]) != 0) {
    for (std::size_t k = 0; k < 4; ++k) leads |= parts[k].codes.bits() << from[k];
  }
  if ((anyTOrParen[0] | anyTOrParen[1]) == 0) return leads;
  std::uint64_t t = 0;
  std::uint64_t paren = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    t |= parts[k].t.bits() << from[k];
    paren |= parts[k].paren.bits() << from[k];
  }
  return leads | TAndParenLooks(t, paren, leads);
}

#else

template <std::size_t Leads>
struct ChunkConstants {
  explicit ChunkConstants(const PrefixTables&) noexcept {}
};

template <std::size_t Leads>
bool AddByVectors(const PrefixTables&, const ChunkConstants<Leads>&, const unsigned char*,
                  std::size_t, std::size_t, std::size_t, bool&, WordMasks&) noexcept {
  return false;
}

// Four words, the last two overlapping the first two.
template <std::size_t Leads>
NCDRILL_INLINE ShortLooks ShortLooksFrom17(const PrefixTables& tables, const unsigned char* bytes,
                                           std::size_t size) noexcept {
  const WordConstants<Leads> constants(tables);
  const unsigned char* tail = bytes + size - 2 * kWordBytes;
  const std::uint64_t last = LoadWord(tail + kWordBytes);
  ShortLooks looks{
      {BytesToLookAt<Leads, true>(LoadWord(bytes), LoadWord(bytes + 1), constants),
       BytesToLookAt<Leads, true>(LoadWord(bytes + 8), LoadWord(bytes + 9), constants)},
      {BytesToLookAt<Leads, true>(LoadWord(tail), LoadWord(tail + 1), constants),
       BytesToLookAt<Leads, true>(last, last >> 8, constants)},
      0};
  looks.any = looks.head[0] | looks.head[1] | looks.tail[0] | looks.tail[1];
  return looks;
}

// The positions of the `size` bytes (1 to 8, and 9 to 16) at `bytes` that
// may hold something, bit k for position k, from one or two words.
// BytesToLookAt may flag a byte that holds nothing; ShortPath finds nothing
// there.
template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t ShortLooksUpTo8(const PrefixTables& tables, const unsigned char* bytes,
                                             std::size_t size) noexcept {
  const WordConstants<Leads> constants(tables);
  const std::uint64_t word = LoadPartialWord(bytes, size);
  return ShortLooks::Gather(BytesToLookAt<Leads, true>(word, word >> 8, constants) &
                            FirstBytes(size));
}

template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t ShortLooks9To16(const PrefixTables& tables, const unsigned char* bytes,
                                             std::size_t size) noexcept {
  const WordConstants<Leads> constants(tables);
  const std::uint64_t tail = LoadWord(bytes + size - kWordBytes);
  const std::uint64_t head =
      BytesToLookAt<Leads, true>(LoadWord(bytes), LoadWord(bytes + 1), constants);
  return ShortLooks::Gather(head) |
         ShortLooks::Gather(BytesToLookAt<Leads, true>(tail, tail >> 8, constants))
             << (size - kWordBytes);
}

// The high bit of each byte of `word` that is 0, and maybe of bytes above
// one that is (a borrow runs on into them), but of no other. That is
// enough for TAndParenLooks: the first "T" it finds is a "T", and a "(" it
// finds before that stands above one that is a "(".
NCDRILL_INLINE std::uint64_t ZeroBytes(std::uint64_t word) noexcept {
  return (word - kOnes) & ~word & kHighs;
}

// The same as MidLooks of the build with vectors, 8 positions a word.
template <std::size_t Leads>
NCDRILL_INLINE std::uint64_t MidLooks(const PrefixTables& tables, const unsigned char* bytes,
                                      std::size_t size) noexcept {
  const WordConstants<Leads> constants(tables);
  std::uint64_t leads = 0;
  std::uint64_t t = 0;
  std::uint64_t paren = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    // Four words from the start, then the last four.
    const std::size_t at = k < 4 ? k * kWordBytes : size - (8 - k) * kWordBytes;
    const std::uint64_t word = LoadWord(bytes + at);
    const std::uint64_t next = k < 7 ? LoadWord(bytes + at + 1) : word >> 8;
    leads |= ShortLooks::Gather(BytesToLookAt<Leads, false>(word, next, constants)) << at;
    t |= ShortLooks::Gather(ZeroBytes(word ^ constants.leads[Leads])) << at;
    paren |= ShortLooks::Gather(ZeroBytes(word ^ constants.leads[Leads + 1])) << at;
  }
  return leads | TAndParenLooks(t, paren, leads);
}

#endif

// The masks of the 64 positions from `start`: in vectors where there are
// any, else 8 at a time.
template <std::size_t Leads>
NCDRILL_INLINE WordMasks MasksByWord(const PrefixTables& tables,
                                     const WordConstants<Leads>& constants,
                                     const ChunkConstants<Leads>& chunkConstants,
                                     const unsigned char* block, std::size_t size,
                                     std::size_t start, bool& tSeen) noexcept {
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  const std::size_t end = size - start < kWordPositions ? size : start + kWordPositions;
  if (AddByVectors(tables, chunkConstants, block, size, start, end, tSeen, masks)) return masks;
  // Whole words with the byte after them.
  const std::size_t wholeEnd = end < size ? end : size - 1;
  std::size_t at = start;
  const std::size_t wordsEnd = at + (wholeEnd - at) / kWordBytes * kWordBytes;
  for (; at < wordsEnd; at += kWordBytes) {
    const std::uint64_t look =
        BytesToLookAt<Leads>(LoadWord(block + at), LoadWord(block + at + 1), constants, tSeen);
    if (look != 0) {
      ClassifyLooks(tables, block, size, start, at, look, masks);
      tSeen = tSeen || masks.t != 0;
    }
  }
  if (at < end) {
    // The text's last 8 bytes or fewer; the byte after them counts as 0.
    const std::uint64_t word = LoadPartialWord(block + at, end - at);
    const std::uint64_t look =
        BytesToLookAt<Leads>(word, word >> 8, constants, tSeen) & FirstBytes(end - at);
    if (look != 0) ClassifyLooks(tables, block, size, start, at, look, masks);
  }
  return masks;
}

// A word's bytes are compared with the `Leads` bytes names and codes start
// with, and with "T" and "(" until the first "T".
template <std::size_t Leads>
NCDRILL_INLINE bool ScanByWord(const PrefixTables& tables, BlockMatcher& matcher,
                               const unsigned char* block, std::size_t size,
                               BlockFacts& facts) noexcept {
  const WordConstants<Leads> constants(tables);
  const ChunkConstants<Leads> chunkConstants(tables);
  ScanState scan(matcher, block, size, facts);
  bool tSeen = false;
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    const WordMasks masks =
        MasksByWord<Leads>(tables, constants, chunkConstants, block, size, start, tSeen);
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

// As ScanByByte, for a block longer than a word, mostly a comment: there a
// byte that starts a name needs the byte after it to pass as well, as in
// the names' filter. Otherwise, when names start with many different bytes,
// most letters of a comment would need a look.
NCDRILL_OUT_OF_LINE bool ScanByBytePairs(const PrefixTables& tables, BlockMatcher& matcher,
                                         const unsigned char* block, std::size_t size,
                                         BlockFacts& facts) noexcept {
  ScanState scan(matcher, block, size, facts);
  for (std::size_t start = 0; start < size; start += kWordPositions) {
    WordMasks masks{0, 0, 0, 0, 0, 0, 0};
    const std::size_t end = size - start < kWordPositions ? size : start + kWordPositions;
    for (std::size_t at = start; at < end; ++at) {
      const unsigned c = block[at];
      const unsigned next = at + 1 < size ? block[at + 1] : 0u;
      if (((tables.attention[c] & PrefixTables::kAlways) |
           (tables.firstBits[c] & tables.secondBits[next])) != 0) {
        ClassifyPosition(tables, block, size, at, static_cast<unsigned>(at - start), masks);
      }
    }
    if (!scan.Fold(masks, start)) break;
  }
  return scan.found();
}

NCDRILL_INLINE bool ScanByByte(const PrefixTables& tables, BlockMatcher& matcher,
                               const unsigned char* block, std::size_t size,
                               BlockFacts& facts) noexcept {
  if (size > kWordPositions) return ScanByBytePairs(tables, matcher, block, size, facts);
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

// The block path of the portable scan `Scan`.
template <BlockScanFn Scan>
NCDRILL_OUT_OF_LINE bool PathPortable(BlockState& state, const HostCallbacks* host,
                                      const char* text, std::int32_t length) {
  const std::string_view block = state.Begin(text, length);
  BlockFacts facts;
  return Scan(state.matcher.prefixes(), state.matcher, ScanBytes(block), block.size(), facts) &&
         state.Finish(block, facts, host);
}

// Blocks of up to 32 characters take the short tests, by length. Lengths mix
// at random in a part program, and the branches on them are often
// mispredicted: in a benchmark, blocks of 9 and 18 characters in random
// order cost about 6 ns each, against 3 ns for either length alone (the AVX2
// unit, with its masked loads, pays nothing for the mix). Loads placed
// without a branch, at offsets chosen by masks on the length, cost as much in
// latency as the mispredictions save: every block paid about 1 ns more, and
// typical blocks came out no faster. What helps is the order of the tests:
// up to 8 first, then up to 16. In a typical program about half the short
// blocks are longer than 16, so a first test at 16 goes either way about as
// often and is mispredicted most; the tests at 8 and 16 in turn each go one
// way about 70% of the time. The SSE2 unit's short test is the same.
template <std::size_t Leads>
bool QuickPathPortable(BlockState& state, const HostCallbacks* host, const char* text,
                       std::int32_t length) {
  const auto size = static_cast<std::uint32_t>(length);
  if (text != nullptr && size - 1 < 4 * kWordBytes) {
    const PrefixTables& tables = state.matcher.prefixes();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (size <= kWordBytes) {
      const std::uint64_t looks = ShortLooksUpTo8<Leads>(tables, bytes, size);
      return looks != 0 && ShortPath(state, host, text, length, looks);
    }
    if (size <= 2 * kWordBytes) {
      const std::uint64_t looks = ShortLooks9To16<Leads>(tables, bytes, size);
      return looks != 0 && ShortPath(state, host, text, length, looks);
    }
    const ShortLooks looks = ShortLooksFrom17<Leads>(tables, bytes, size);
    return looks.any != 0 && ShortPath(state, host, text, length, looks.Positions(size));
  }
  if (text != nullptr && size - (4 * kWordBytes + 1) < 4 * kWordBytes) {
    const std::uint64_t looks = MidLooks<Leads>(state.matcher.prefixes(),
                                                reinterpret_cast<const unsigned char*>(text), size);
    return looks != 0 && ShortPath(state, host, text, length, looks);
  }
  return PathPortable<&ScanByWord<Leads>>(state, host, text, length);
}

}  // namespace

NCDRILL_OUT_OF_LINE bool ShortPath(BlockState& state, const HostCallbacks* host, const char* text,
                                   std::int32_t length, std::uint64_t looks) {
  const std::string_view block = state.Begin(text, length);
  const unsigned char* bytes = ScanBytes(block);
  WordMasks masks{0, 0, 0, 0, 0, 0, 0};
  for (; looks != 0; looks &= looks - 1) {
    const unsigned at = CountTrailingZeros(looks);
    ClassifyPosition(state.matcher.prefixes(), bytes, block.size(), at, at, masks);
  }
  BlockFacts facts;
  ScanState scan(state.matcher, bytes, block.size(), facts);
  scan.Fold(masks, 0);
  return scan.found() && state.Finish(block, facts, host);
}

BlockScanFn PortableScanFor(std::size_t leadCount) noexcept {
  static constexpr BlockScanFn kScans[] = {&ScanByWord<0>, &ScanByWord<1>, &ScanByWord<2>,
                                           &ScanByWord<3>, &ScanByWord<4>, &ScanByWord<5>,
                                           &ScanByWord<6>};
  static_assert(sizeof kScans / sizeof kScans[0] == kMaxWordLeads + 1, "one per count");
  return leadCount <= kMaxWordLeads ? kScans[leadCount] : ByteScan();
}

BlockScanFn ByteScan() noexcept { return &ScanByByte; }

BlockPathFn PortablePathFor(std::size_t leadCount) noexcept {
  static constexpr BlockPathFn kPaths[] = {
      &QuickPathPortable<0>, &QuickPathPortable<1>, &QuickPathPortable<2>, &QuickPathPortable<3>,
      &QuickPathPortable<4>, &QuickPathPortable<5>, &QuickPathPortable<6>};
  static_assert(sizeof kPaths / sizeof kPaths[0] == kMaxWordLeads + 1, "one per count");
  return leadCount <= kMaxWordLeads ? kPaths[leadCount] : BytePath();
}

BlockPathFn BytePath() noexcept { return &PathPortable<&ScanByByte>; }

}  // namespace ncdrill
