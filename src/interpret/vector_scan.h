// The scan of a block: where its first "T" stands and whether a "(" comes
// before it, where the codes G2, G52 and M9 stand, where the text ends (a
// NUL), and which positions may start a table name. One implementation per
// vector unit, picked at load; the portable one is plain C++. Each finds 64
// positions at a time and folds them into BlockFacts the same way.
#ifndef NCDRILL_INTERPRET_VECTOR_SCAN_H
#define NCDRILL_INTERPRET_VECTOR_SCAN_H

#include <cstddef>
#include <cstdint>

#include "ncdrill/ncdrill.h"

namespace ncdrill {

// What one block holds.
struct BlockFacts {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  std::size_t length = 0;       // characters before the first NUL
  std::size_t firstT = kNone;   // first "T"
  bool parenBeforeT = false;    // a "(" stands before the first "T"
  std::size_t firstG2 = kNone;  // first "G2"
  bool hasM9 = false;           // "M9" anywhere
  bool hasG52 = false;          // "G52" anywhere
  std::size_t trigger = kNone;  // index of the first entry, in table order, that triggers

  // Whether the block may change anything: a "T" that may start a tool
  // request, a "G2", "G52" or a trigger. A comment alone does not, though
  // the scan must flag its "(" and the "T"s in it.
  bool MayAct() const noexcept {
    // One test of all four rather than a branch on each: which a block
    // holds follows no order a predictor could learn.
    const auto request =
        static_cast<unsigned>(firstT != kNone) & static_cast<unsigned>(!parenBeforeT);
    const auto codeOrTrigger = static_cast<unsigned>(firstG2 != kNone) |
                               static_cast<unsigned>(hasG52) |
                               static_cast<unsigned>(trigger != kNone);
    return (request | codeOrTrigger) != 0;
  }
};

// Tables whose names start with more distinct bytes than this are not
// searched by comparing each byte with every first byte (the SSE2 and the
// portable word scans), but byte by byte.
constexpr std::size_t kMaxComparedLeads = 16;

// Second bytes that lie within this many values of each other (digits, or
// a few letters) keep compares sharp: a byte that starts a name or a code
// must be followed by one of them, and most words of a comment have none.
// Past it, most words of a comment that begin with a first byte pass (a
// name such as "CYCLE81" or "DWELL").
constexpr std::uint8_t kMaxComparedSecondSpan = 15;

// Positions that may start a name are found by their first two bytes. Each
// name's prefix puts a bucket bit into tables indexed by its first and by its
// second byte; a position may start a name when the two lookups share a bit.
// Units with byte shuffles look the bits up by nibble (AVX2's short tests);
// the others find the positions whose byte starts a name or a code and look
// those up whole. The scans of long blocks look up classes of bytes (below),
// which hold the codes and NUL too.
struct PrefixTables {
  // 16 entries, repeated for each 16-byte lane of a 64-byte vector.
  alignas(64) std::uint8_t low1[64];  // by the first byte's low nibble
  alignas(64) std::uint8_t high1[64];
  alignas(64) std::uint8_t low2[64];  // by the second byte's
  alignas(64) std::uint8_t high2[64];
  // The same bits by the whole byte.
  std::uint8_t firstBits[256];
  std::uint8_t secondBits[256];
  // Whether a byte may start a name or a code (kLead), and whether it needs
  // a look whatever byte follows it (kAlways): "T", "(", NUL and the codes'
  // first bytes. 0 for every other byte.
  static constexpr std::uint8_t kLead = 1;
  static constexpr std::uint8_t kAlways = 2;
  std::uint8_t attention[256];
  // The `leadCount` distinct bytes that names and codes start with, then
  // "T" and "(", each repeated in a row of kRowBytes, so that a compare
  // takes a row as it lies whatever its width (a 64-bit word takes the
  // first 8). Empty when leadCount exceeds kMaxComparedLeads.
  static constexpr std::size_t kRowBytes = 32;
  alignas(kRowBytes) std::uint8_t leads[kMaxComparedLeads + 2][kRowBytes];
  std::size_t leadCount;
  // The second byte of every name and code lies in [secondLow, secondLow +
  // secondSpan]: a position whose next byte lies outside starts none. For
  // the codes and for names of a letter and digits it is the digits. Each
  // repeated in a row.
  alignas(kRowBytes) std::uint8_t secondLow[kRowBytes];
  alignas(kRowBytes) std::uint8_t secondSpan[kRowBytes];
  // The same range moved to start at -128, for one signed compare: a byte
  // b lies in it when (signed) b + secondBias <= secondLast.
  alignas(kRowBytes) std::uint8_t secondBias[kRowBytes];
  alignas(kRowBytes) std::uint8_t secondLast[kRowBytes];

  // Classes of bytes, for the word walkers of units with byte shuffles: a
  // position may need a look when the classes of its byte (first) and those
  // of the byte after it (second), with NUL's added, share a bit. NUL has a
  // class of its own, which needs no second byte; the codes share one ("G"
  // and "M", then "2", "5" or "9"); the names fall into kClassBuckets
  // buckets by their first byte, as in firstBits.
  static constexpr std::uint8_t kClassNul = 1;
  static constexpr std::uint8_t kClassCode = 2;
  static constexpr unsigned kClassFirstBucket = 2;  // the bit of bucket 0
  static constexpr unsigned kClassBuckets = 6;
  // By the byte's low six bits, for 64-entry byte permutes: entry k holds
  // the classes of bytes k, k + 64, k + 128 and k + 192. (A 128-entry
  // permute would tell "M" from a CR or NUL from "@", but costs twice as
  // much; such bytes only cost a look.)
  alignas(64) std::uint8_t classFirst64[64];
  alignas(64) std::uint8_t classSecond64[64];
  // By nibbles, 16 entries repeated for each 16-byte lane: a byte's classes
  // are those of its low nibble and of its high nibble. Exact for NUL and
  // the codes; for a bucket, every byte whose nibbles its bytes have.
  alignas(64) std::uint8_t classLow1[64];  // first byte, by its low nibble
  alignas(64) std::uint8_t classHigh1[64];
  alignas(64) std::uint8_t classLow2[64];  // second byte
  alignas(64) std::uint8_t classHigh2[64];
  // The same by the whole byte, from which the others are made.
  std::uint8_t classFirst[256];
  std::uint8_t classSecond[256];
};

// Positions per word of masks.
constexpr std::size_t kWordPositions = 64;

// What 64 positions hold: bit k stands for position k. Every mask but
// `names` is exact; `names` may hold positions where no name starts.
struct WordMasks {
  std::uint64_t names;  // may start a name
  std::uint64_t t;      // "T"; may be left empty after the first word that holds one
  std::uint64_t paren;  // "("; likewise
  std::uint64_t nul;    // the text ends
  std::uint64_t m9;     // "M9" starts here
  std::uint64_t g2;     // "G2"
  std::uint64_t g52;    // "G52"
};

class BlockMatcher;

// The scans' small helpers go inline wherever a scan uses them, whatever the
// compiler makes of functions that many of them grow large.
#define NCDRILL_INLINE __attribute__((always_inline)) inline

// Most blocks of a part program are short: a block path tests blocks of up
// to 32 characters first, from one or two loads, for the positions that
// hold what it acts on ("T", "(", NUL, the start of a name or a code). A
// block with none is answered there; one with some goes to ShortPath, which
// looks at those positions alone, without scanning the block again. Longer
// blocks go to the path that scans them. Both stay out of line, so that the
// short test needs no stack frame.
#define NCDRILL_OUT_OF_LINE __attribute__((noinline))

// Walks the names that may start at `at` and lowers `trigger` to the first
// entry, in table order, that triggers there. Positions come in order.
void WalkNamesAt(BlockMatcher& matcher, const unsigned char* block, std::size_t size,
                 std::size_t at, std::size_t& trigger) noexcept;

NCDRILL_INLINE unsigned CountTrailingZeros(std::uint64_t mask) noexcept {
  return static_cast<unsigned>(__builtin_ctzll(mask));
}

// Of the positions of the "T"s (`t`) and "("s (`paren`) of a block, those a
// short test must flag beside `leads` (what it flags for names, codes and
// NUL): the first "T", when no "(" stands before it, for it alone may start
// a tool request; and the first "(" when `leads` holds a "T" (a table name
// may start with one), so that ShortPath sees that the "T" stands after it.
// Nothing else a block path does depends on "T"s and "("s, so a block whose
// "T"s and "("s are all in a comment ends at the test.
NCDRILL_INLINE std::uint64_t TAndParenLooks(std::uint64_t t, std::uint64_t paren,
                                            std::uint64_t leads) noexcept {
  const std::uint64_t firstT = t & (0 - t);
  const std::uint64_t noParenBefore = 0 - std::uint64_t{(paren & (firstT - 1)) == 0};
  const std::uint64_t tAmongLeads = 0 - std::uint64_t{(leads & t) != 0};
  return (firstT & noParenBefore) | (paren & (0 - paren) & tAmongLeads);
}

// A mask of the `count` lowest bits.
NCDRILL_INLINE std::uint64_t LowBits(std::size_t count) noexcept {
  return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// A scan in progress: it folds what it finds into the block's facts.
class ScanState {
 public:
  ScanState(BlockMatcher& matcher, const unsigned char* block, std::size_t size,
            BlockFacts& facts) noexcept
      : matcher_(matcher), block_(block), size_(size), facts_(facts) {
    facts = BlockFacts{};
    facts.length = size;
  }

  // Folds what the 64 positions from `start` hold into the facts, and walks
  // the names that may start among them. Returns false once the text has
  // ended.
  NCDRILL_INLINE bool Fold(const WordMasks& masks, std::size_t start) noexcept {
    const std::uint64_t any =
        masks.names | masks.t | masks.paren | masks.nul | masks.m9 | masks.g2 | masks.g52;
    if (any == 0) return true;
    found_ = true;
    BlockFacts& facts = facts_;
    const bool ends = masks.nul != 0;
    const unsigned nulAt = ends ? CountTrailingZeros(masks.nul) : 64;
    const std::uint64_t before = LowBits(nulAt);
    if (ends) facts.length = start + nulAt;
    const std::uint64_t t = masks.t & before;
    const std::uint64_t paren = masks.paren & before;
    if (facts.firstT == BlockFacts::kNone && t != 0) {
      const unsigned tAt = CountTrailingZeros(t);
      facts.firstT = start + tAt;
      facts.parenBeforeT = parenSeen_ || (paren & LowBits(tAt)) != 0;
    }
    parenSeen_ = parenSeen_ || paren != 0;
    facts.hasM9 = facts.hasM9 || (masks.m9 & before) != 0;
    facts.hasG52 = facts.hasG52 || (masks.g52 & before) != 0;
    const std::uint64_t g2 = masks.g2 & before;
    if (facts.firstG2 == BlockFacts::kNone && g2 != 0) {
      facts.firstG2 = start + CountTrailingZeros(g2);
    }
    for (std::uint64_t names = masks.names & before; names != 0; names &= names - 1) {
      WalkNamesAt(matcher_, block_, size_, start + CountTrailingZeros(names), facts.trigger);
    }
    return !ends;
  }

  // Whether the block holds a "T", a "(", a code, a possible name or a NUL;
  // if not, the facts are those of a fresh BlockFacts of the block's size.
  bool found() const noexcept { return found_; }

  // Scans a copy of the block at `block` from now on.
  void Rebase(const unsigned char* block) noexcept { block_ = block; }

  // For scans that search for the first "T" (at `firstT`) and a "(" before
  // it on their own and fold no "T"s or "("s: takes them, unless the text
  // ended before the "T". Returns found().
  bool FoldT(std::size_t firstT, bool parenBeforeT) noexcept {
    found_ = found_ || firstT != BlockFacts::kNone || parenBeforeT;
    if (firstT < facts_.length) {
      facts_.firstT = firstT;
      facts_.parenBeforeT = parenBeforeT;
    }
    return found_;
  }

 private:
  BlockMatcher& matcher_;
  const unsigned char* block_;
  std::size_t size_;
  BlockFacts& facts_;
  bool parenSeen_ = false;
  bool found_ = false;
};

// Scans `size` characters at `block` (never more) into `facts`. Returns
// whether the block holds a "T", a "(", a code, a possible name or a NUL; if
// not, `facts` is a fresh BlockFacts of the block's size.
using BlockScanFn = bool (*)(const PrefixTables& tables, BlockMatcher& matcher,
                             const unsigned char* block, std::size_t size, BlockFacts& facts);

struct BlockState;

// InterpretBlock on `state` (BlockState::Interpret) with one unit's scan
// built into it, one function per unit and kind of table, so that a block's
// facts go from the scan to what follows in registers.
using BlockPathFn = bool (*)(BlockState& state, const HostCallbacks* host, const char* text,
                             std::int32_t length);

// In ascending order; the numbers are those NCDRILL_VECTOR_UNIT gives.
enum class VectorUnit {
  kPortable = 0,    // plain C++: generic vectors where there are any, else 64-bit words
  kSse2 = 1,        // byte compares, 16 bytes at a time (i386: when the processor has it)
  kAvx2 = 2,        // byte compares or nibble shuffles, 32 bytes at a time
  kAvx512 = 3,      // long blocks: nibble shuffles, 64 bytes at a time
  kAvx512Vbmi = 4,  // long blocks: 64-entry byte permutes, 64 bytes at a time
};

// Whether this processor, and this build's target, has `unit`.
bool HasVectorUnit(VectorUnit unit) noexcept;

// The scan and the block path for `unit` and `tables` (they differ by how
// many different bytes names and codes start with, and on AVX2 by the
// range of their second bytes), or null when this processor (or this
// build's target) does not have `unit`. Only
// BlockMatcher::Examine looks up scans of their own, so a plug-in that never
// examines holds each scan only inside its path.
BlockScanFn BlockScanFor(VectorUnit unit, const PrefixTables& tables) noexcept;
BlockPathFn BlockPathFor(VectorUnit unit, const PrefixTables& tables) noexcept;

// The highest unit this build may use (NCDRILL_VECTOR_UNIT).
VectorUnit HighestAllowedUnit() noexcept;

// The best unit this processor has, up to HighestAllowedUnit().
VectorUnit BestVectorUnit() noexcept;

}  // namespace ncdrill

#endif
