// The scan of blocks longer than the short tests take, the same for every
// vector unit: the unit's word walker runs through the block in a tight loop
// of its own, 64 positions at a time, finds the first "T" and whether a "("
// stands before it on the way, and stops only at words where a name or a
// code may start or the text ends; those few words are looked at here,
// position by position, and folded into the block's facts. A long block is
// mostly a comment or a row of coordinates, where nearly every word holds
// none, and a block path first walks it only to see whether it may act at
// all (WordTest).
#ifndef NCDRILL_INTERPRET_WORD_SCAN_H
#define NCDRILL_INTERPRET_WORD_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "interpret/block_path.h"
#include "interpret/portable_scan.h"
#include "interpret/vector_scan.h"

namespace ncdrill {

// The search for the block's first "T" and for a "(" before it, which the
// word walkers carry on across the words they pass. An exact search
// (Examine's) finds the first "T" wherever it stands; a block path needs
// only to know whether a "(" comes first, which makes a tool request
// impossible, and stops there.
struct TSearch {
  std::size_t firstT = BlockFacts::kNone;
  bool parenBefore = false;  // a "(" before `firstT`, or so far while there is none
  bool done = false;

  bool Looking() const noexcept { return !done; }

  // The exact search: takes the "T"s (`t`) and "("s (`paren`) of the word
  // at `start`, bit k for position start + k.
  NCDRILL_INLINE void Take(std::size_t start, std::uint64_t t, std::uint64_t paren) noexcept {
    if (t == 0) {
      parenBefore = parenBefore || paren != 0;
      return;
    }
    const unsigned at = CountTrailingZeros(t);
    firstT = start + at;
    parenBefore = parenBefore || (paren & LowBits(at)) != 0;
    done = true;
  }

  // A block path's: takes the positions of the word at `start` that hold
  // a "T" or a "(" (`either`); the byte at the first of them, in `block`,
  // tells which.
  NCDRILL_INLINE void TakeFirst(std::size_t start, std::uint64_t either,
                                const unsigned char* block) noexcept {
    if (either == 0) return;
    const std::size_t at = start + CountTrailingZeros(either);
    // Selects rather than a branch: which comes first is in no order a
    // predictor could learn.
    const bool isT = block[at] == 'T';
    firstT = isT ? at : BlockFacts::kNone;
    parenBefore = !isT;
    done = true;
  }
};

// A block path's first look at a long block: a walk that only tells
// whether the block may act at all, and stops at the first word where a
// name or a code may start or the text ends. A block without such a word,
// whose first "T" (if any) stands after a "(", does nothing; most long
// blocks are such comments, and they end here, before any of the path's
// work. One that may act is scanned on from the word the test stopped at
// (WordScan::Resume). Walkers take it as they take a WordScan.
class WordTest {
 public:
  WordTest(const unsigned char* block, std::size_t size) noexcept : block_(block), size_(size) {}

  const unsigned char* words() const noexcept { return block_; }
  std::size_t wordsSize() const noexcept { return size_; }
  std::size_t firstWord() const noexcept { return 0; }
  TSearch& t() noexcept { return t_; }
  const TSearch& t() const noexcept { return t_; }
  bool Fold(std::size_t start, std::uint64_t leads) noexcept {
    stop_ = start;
    leads_ = leads;
    return false;
  }

  bool MayAct() const noexcept { return stop_ < size_ || t_.firstT != BlockFacts::kNone; }
  // The word the walk stopped at (past the block if it went through) and
  // what the walker found there.
  std::size_t stop() const noexcept { return stop_; }
  std::uint64_t leads() const noexcept { return leads_; }

 private:
  const unsigned char* block_;
  std::size_t size_;
  std::size_t stop_ = static_cast<std::size_t>(-1);
  std::uint64_t leads_ = 0;
  TSearch t_;
};

// A scan of a block by a unit's word walker: the walker goes through the
// words of 64 positions in a tight loop of its own, takes the "T"s and "("s
// of every word it passes into t() while t() looks, and hands the words in
// which a position may start a name or a code or holds a NUL to Fold, which
// looks at each such position. A text shorter than a word is walked in a
// copy padded with NULs, so that walkers may always load a whole word; what
// they flag past its end is dropped. (Block paths send such texts to their
// short tests; only Examine scans them.) Every unit's walker has its own
// target attribute and inlines this plain code, so that a block's scan is
// one function.
class WordScan {
 public:
  NCDRILL_INLINE WordScan(const PrefixTables& tables, BlockMatcher& matcher,
                          const unsigned char* block, std::size_t size, BlockFacts& facts) noexcept
      : tables_(tables),
        words_(block),
        size_(size),
        wordsSize_(size),
        scan_(matcher, block, size, facts) {
    if (size < kWordPositions) Pad(block);
  }
  WordScan(const WordScan&) = delete;
  WordScan& operator=(const WordScan&) = delete;

  // What the walker walks: the block, or its padded copy; 64 bytes or more,
  // from the word at firstWord().
  const unsigned char* words() const noexcept { return words_; }
  std::size_t wordsSize() const noexcept { return wordsSize_; }
  std::size_t firstWord() const noexcept { return first_; }
  TSearch& t() noexcept { return t_; }

  // Goes on from where `test`, which walked the block, stopped: the words
  // before held nothing to fold, the one it stopped at is folded from what
  // it found there, and its search for the first "T" stands.
  NCDRILL_INLINE void Resume(const WordTest& test) noexcept {
    t_ = test.t();
    if (test.stop() >= size_) {
      first_ = wordsSize_;
      return;
    }
    first_ = Fold(test.stop(), test.leads()) ? test.stop() + kWordPositions : wordsSize_;
  }

  // Folds the word at `start`, whose positions `leads` may start a name or
  // a code or hold a NUL (bit k for position start + k). Returns false once
  // the text has ended.
  NCDRILL_INLINE bool Fold(std::size_t start, std::uint64_t leads) noexcept {
    if (wordsSize_ != size_) leads &= LowBits(size_);
    WordMasks masks{0, 0, 0, 0, 0, 0, 0};
    for (; leads != 0; leads &= leads - 1) {
      const unsigned bit = CountTrailingZeros(leads);
      ClassifyPosition(tables_, words_, size_, start + bit, bit, masks);
    }
    // "T" and "(" are the walker's.
    masks.t = 0;
    masks.paren = 0;
    return scan_.Fold(masks, start);
  }

  // After the walk: the scan's result (BlockScanFn).
  NCDRILL_INLINE bool Finish() noexcept { return scan_.FoldT(t_.firstT, t_.parenBefore); }

 private:
  NCDRILL_OUT_OF_LINE void Pad(const unsigned char* block) noexcept {
    std::memset(padded_, 0, sizeof padded_);
    if (size_ > 0) std::memcpy(padded_, block, size_);
    words_ = padded_;
    wordsSize_ = kWordPositions;
    scan_.Rebase(padded_);
  }

  const PrefixTables& tables_;
  const unsigned char* words_;
  std::size_t size_;
  std::size_t wordsSize_;
  std::size_t first_ = 0;
  ScanState scan_;
  TSearch t_;
  unsigned char padded_[kWordPositions];
};

// The block path of a BlockScanFn.
template <BlockScanFn Scan>
NCDRILL_OUT_OF_LINE bool ScanPath(BlockState& state, const HostCallbacks* host, const char* text,
                                  std::int32_t length) {
  const std::string_view block = state.Begin(text, length);
  BlockFacts facts;
  return Scan(state.matcher.prefixes(), state.matcher, ScanBytes(block), block.size(), facts) &&
         state.Finish(block, facts, host);
}

}  // namespace ncdrill

#endif
