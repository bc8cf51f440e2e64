#include "interpret/portable_scan.h"

#include <functional>
#include <iterator>
#include <numeric>

#include "interpret/block_path.h"
#include "interpret/word_scan.h"

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
  // Those of the 8 positions from 8 * word on, as BytesToLookAt marks them.
  std::uint64_t word(std::size_t word) const noexcept {
    return vectors[word / 2][word % 2] & kHighs;
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

// The positions of the 16 bytes `first` (`second` holds the byte after
// each) that may need a look, exactly: `codes` those that start a name or a
// code or end the text; `t` and `paren` those that hold "T" and "(".
template <std::size_t Leads>
struct ChunkLooks {
  ChunkLooks(Bytes16 first, Bytes16 second, const ChunkConstants<Leads>& constants) noexcept {
    codes.vectors[0] =
        reinterpret_cast<Words16>(BytesToLookAt16<Leads, false>(first, second, constants));
    t.vectors[0] = reinterpret_cast<Words16>(first == constants.leads[Leads]);
    paren.vectors[0] = reinterpret_cast<Words16>(first == constants.leads[Leads + 1]);
  }
  ChunkMarks<1> codes;
  ChunkMarks<1> t;
  ChunkMarks<1> paren;
};

// The portable word walker, in vectors: the SSE2 walker's compares, the
// range of second bytes moved to start at -128 for one signed compare.
template <std::size_t Leads>
struct Compares16 {
  explicit Compares16(const PrefixTables& tables) noexcept
      : bias(static_cast<unsigned char>(0x80 - tables.secondLow[0]) - Bytes16{}),
        last(static_cast<signed char>(0x80 + tables.secondSpan[0]) - Mask16{}),
        tight(tables.secondSpan[0] <= kMaxComparedSecondSpan) {
    for (std::size_t k = 0; k < Leads; ++k) leads[k] = LoadBytes16(tables.leads[k]);
  }
  // The SSE2 walker's first test of a word (see Compares128 there): whether
  // a byte of the word at `bytes` follows a byte in the range of second
  // bytes, or is NUL; only where that range is tight.
  NCDRILL_INLINE bool Passes(const unsigned char* bytes) const noexcept {
    if (!tight) return true;
    Mask16 any{};
    for (std::size_t v = 0; v < 4; ++v) {
      any |= ~(reinterpret_cast<Mask16>(LoadBytes16(bytes + 16 * v + 1) + bias) > last);
      any |= LoadBytes16(bytes + 16 * v) == 0;
    }
    const auto words = reinterpret_cast<Words16>(any);
    return (words[0] | words[1]) != 0;
  }
  // 0xff where a byte of `first` may start a name or a code, or is NUL.
  NCDRILL_INLINE Mask16 LeadFlags(Bytes16 first, Bytes16 second) const noexcept {
    Mask16 lead{};
    for (std::size_t k = 0; k < Leads; ++k) lead |= first == leads[k];
    const Mask16 outOfRange = reinterpret_cast<Mask16>(second + bias) > last;
    return (lead & ~outOfRange) | (first == 0);
  }
  Bytes16 leads[Leads > 0 ? Leads : 1];
  Bytes16 bias;
  Mask16 last;
  bool tight;
};

// Whether a position of the word at `bytes` (which has a byte after it)
// may start a name or a code, or holds a NUL.
template <std::size_t Leads>
NCDRILL_INLINE bool AnyLead16(const Compares16<Leads>& c, const unsigned char* bytes) noexcept {
  Mask16 any{};
  for (std::size_t v = 0; v < 4; ++v) {
    any |= c.LeadFlags(LoadBytes16(bytes + 16 * v), LoadBytes16(bytes + 16 * v + 1));
  }
  const auto words = reinterpret_cast<Words16>(any);
  return (words[0] | words[1]) != 0;
}

// Those positions, bit k for position k; `Last`: the text's last 64 bytes,
// the byte after the last counting as 0.
template <bool Last, std::size_t Leads>
NCDRILL_INLINE std::uint64_t LeadBits16(const Compares16<Leads>& c,
                                        const unsigned char* bytes) noexcept {
  ChunkMarks<4> leads;
  for (std::size_t v = 0; v < 4; ++v) {
    const Bytes16 first = LoadBytes16(bytes + 16 * v);
    const Bytes16 second = Last && v == 3
                               ? __builtin_shufflevector(first, Bytes16{}, 1, 2, 3, 4, 5, 6, 7, 8,
                                                         9, 10, 11, 12, 13, 14, 15, 16)
                               : LoadBytes16(bytes + 16 * v + 1);
    leads.vectors[v] = reinterpret_cast<Words16>(c.LeadFlags(first, second));
  }
  return leads.bits();
}

// Bit k: byte k of the word at `bytes` is `c`, or `d`.
NCDRILL_INLINE std::uint64_t EqualBits16(const unsigned char* bytes, unsigned char c,
                                         unsigned char d) noexcept {
  ChunkMarks<4> marks;
  for (std::size_t v = 0; v < 4; ++v) {
    const Bytes16 first = LoadBytes16(bytes + 16 * v);
    marks.vectors[v] = reinterpret_cast<Words16>((first == c) | (first == d));
  }
  return marks.bits();
}

// What TSearch takes of the word at `bytes`, from position `seen` on.
template <bool Exact>
NCDRILL_INLINE void SearchT16(TSearch& t, std::size_t start, const unsigned char* bytes,
                              unsigned seen, const unsigned char* block) noexcept {
  if (Exact) {
    t.Take(start, EqualBits16(bytes, 'T', 'T') >> seen, EqualBits16(bytes, '(', '(') >> seen);
  } else {
    t.TakeFirst(start, EqualBits16(bytes, 'T', '(') >> seen, block);
  }
}

template <std::size_t Leads, bool Exact, typename Scan>
NCDRILL_INLINE void WalkWordsPortable(const PrefixTables& tables, Scan& scan) noexcept {
  const Compares16<Leads> c(tables);
  const unsigned char* block = scan.words();
  const std::size_t size = scan.wordsSize();
  TSearch& t = scan.t();
  std::size_t start = scan.firstWord();
  if (start >= size) return;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const unsigned char* bytes = block + start;
    if (t.Looking()) SearchT16<Exact>(t, start, bytes, 0, block);
    if (!c.Passes(bytes)) continue;
    if (AnyLead16(c, bytes) && !scan.Fold(start, LeadBits16<false>(c, bytes))) return;
  }
  const std::size_t from = size - kWordPositions;
  const auto seen = static_cast<unsigned>(start - from);
  const unsigned char* bytes = block + from;
  if (t.Looking()) SearchT16<Exact>(t, start, bytes, seen, block);
  const std::uint64_t leads = LeadBits16<true>(c, bytes) >> seen;
  if (leads != 0) scan.Fold(start, leads);
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
  using Looks16 = ChunkLooks<Leads>;
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

// The portable word walker in 64-bit words: BytesToLookAt for names,
// codes and NUL, and exact compares for "T" and "(".

// The high bit of each byte of `word` that is 0, and of no other.
NCDRILL_INLINE std::uint64_t ExactZeroBytes(std::uint64_t word) noexcept {
  constexpr std::uint64_t kLows = ~kHighs;
  return ~(((word & kLows) + kLows) | word) & kHighs;
}

// A word's 64 bytes, 8 to a word, and the byte after each; or, `Last`, a
// text's last 64 bytes, the byte after the last counting as 0.
template <bool Last>
NCDRILL_INLINE void LoadWords(const unsigned char* bytes, std::uint64_t (&first)[8],
                              std::uint64_t (&second)[8]) noexcept {
  for (std::size_t w = 0; w < 8; ++w) {
    first[w] = LoadWord(bytes + 8 * w);
    second[w] = Last && w == 7 ? first[w] >> 8 : LoadWord(bytes + 8 * w + 1);
  }
}

// Of the word at `bytes` (`Last`: as LoadWords), the high bit of each byte
// that may start a name or a code or is NUL (`leads`, a superset), that is
// "T" and that is "(".
template <std::size_t Leads, bool Last>
struct WordsLooks {
  WordsLooks(const WordConstants<Leads>& constants, const unsigned char* bytes) noexcept {
    std::uint64_t first[8];
    std::uint64_t second[8];
    LoadWords<Last>(bytes, first, second);
    for (std::size_t w = 0; w < 8; ++w) {
      leads[w] = BytesToLookAt<Leads, false>(first[w], second[w], constants);
      t[w] = ExactZeroBytes(first[w] ^ constants.leads[Leads]);
      paren[w] = ExactZeroBytes(first[w] ^ constants.leads[Leads + 1]);
    }
  }
  static std::uint64_t Bits(const std::uint64_t (&marks)[8]) noexcept {
    std::uint64_t bits = 0;
    for (std::size_t w = 0; w < 8; ++w) bits |= ShortLooks::Gather(marks[w]) << (8 * w);
    return bits;
  }
  // What TSearch takes of the word, at `start`, from position `seen` on.
  template <bool Exact>
  void SearchT(TSearch& search, std::size_t start, unsigned seen,
               const unsigned char* block) const noexcept {
    if (Exact) {
      search.Take(start, Bits(t) >> seen, Bits(paren) >> seen);
    } else {
      search.TakeFirst(start, (Bits(t) | Bits(paren)) >> seen, block);
    }
  }
  bool anyLead() const noexcept {
    return std::accumulate(std::begin(leads), std::end(leads), std::uint64_t{0}, std::bit_or<>()) !=
           0;
  }
  std::uint64_t leads[8];
  std::uint64_t t[8];
  std::uint64_t paren[8];
};

template <std::size_t Leads, bool Exact, typename Scan>
NCDRILL_INLINE void WalkWordsPortable(const PrefixTables& tables, Scan& scan) noexcept {
  const WordConstants<Leads> constants(tables);
  const unsigned char* block = scan.words();
  const std::size_t size = scan.wordsSize();
  TSearch& t = scan.t();
  using Looks = WordsLooks<Leads, false>;
  std::size_t start = scan.firstWord();
  if (start >= size) return;
  for (; start + kWordPositions < size; start += kWordPositions) {
    const Looks looks(constants, block + start);
    if (t.Looking()) looks.template SearchT<Exact>(t, start, 0, block);
    if (looks.anyLead() && !scan.Fold(start, Looks::Bits(looks.leads))) return;
  }
  const std::size_t from = size - kWordPositions;
  const auto seen = static_cast<unsigned>(start - from);
  using LastLooks = WordsLooks<Leads, true>;
  const LastLooks looks(constants, block + from);
  if (t.Looking()) looks.template SearchT<Exact>(t, start, seen, block);
  const std::uint64_t leads = LastLooks::Bits(looks.leads) >> seen;
  if (leads != 0) scan.Fold(start, leads);
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

// The BlockScanFn for Examine: facts exact to the first "T".
template <std::size_t Leads>
bool ScanPortable(const PrefixTables& tables, BlockMatcher& matcher, const unsigned char* block,
                  std::size_t size, BlockFacts& facts) noexcept {
  WordScan scan(tables, matcher, block, size, facts);
  WalkWordsPortable<Leads, true>(tables, scan);
  return scan.Finish();
}

template <std::size_t Leads>
constexpr BlockScanFn kPortableScan = &ScanPortable<Leads>;

// The block path of the portable scans, as the vector units' (PathSse2).
template <std::size_t Leads>
NCDRILL_OUT_OF_LINE bool PathPortable(BlockState& state, const HostCallbacks* host,
                                      const char* text, std::int32_t length) {
  const std::string_view block = HostBlock(text, length);
  const PrefixTables& tables = state.matcher.prefixes();
  WordTest test(ScanBytes(block), block.size());
  const bool tested = block.size() > kWordPositions;
  if (tested) {
    WalkWordsPortable<Leads, false>(tables, test);
    if (!test.MayAct()) return false;
  }
  state.matcher.BeginBlock();
  BlockFacts facts;
  WordScan scan(tables, state.matcher, ScanBytes(block), block.size(), facts);
  if (tested) scan.Resume(test);
  WalkWordsPortable<Leads, false>(tables, scan);
  return scan.Finish() && state.Finish(block, facts, host);
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
  return PathPortable<Leads>(state, host, text, length);
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
  static constexpr BlockScanFn kScans[] = {kPortableScan<0>, kPortableScan<1>, kPortableScan<2>,
                                           kPortableScan<3>, kPortableScan<4>, kPortableScan<5>,
                                           kPortableScan<6>};
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

BlockPathFn BytePath() noexcept { return &ScanPath<&ScanByByte>; }

}  // namespace ncdrill
