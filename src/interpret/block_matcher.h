// One pass over a block that finds everything InterpretBlock decides on: the
// codes the scanner looks for and the table's trigger names, all at once.
// Built once per table, so the cost of a block does not grow with the number
// of names that do not occur in it.
#ifndef NCDRILL_INTERPRET_BLOCK_MATCHER_H
#define NCDRILL_INTERPRET_BLOCK_MATCHER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "interpret/vector_scan.h"
#include "table/definition_table.h"

namespace ncdrill {

// Characters that make a name the start of a longer number or word, such as
// "G81" inside "G81.5" or "G8" inside "G81": a name followed by one does not
// trigger.
inline bool ContinuesNumber(unsigned char c) noexcept {
  return c == '.' || c == ',' || c == '-' || c == '+' || (c >= '0' && c <= '9');
}

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
};

class BlockMatcher {
 public:
  // The names of `entries`; empty names never trigger. Throws std::bad_alloc.
  void Build(const std::vector<TableEntry>& entries);

  // Examines `size` characters at `text` (never more; a NUL ends the block).
  void Examine(const char* text, std::size_t size, BlockFacts& facts) noexcept;

  // The vector unit the scan uses: the best this processor has. Tests pick
  // each unit in turn to compare the scans; a unit the processor lacks
  // falls back to the scalar scan.
  void UseVectorUnit(VectorUnit unit) noexcept { candidateMasks_ = CandidateMaskFnFor(unit); }
  bool usesVectorScan() const noexcept { return candidateMasks_ != nullptr; }

 private:
  static constexpr std::uint32_t kNoNode = 0xffffffffu;
  enum Code : std::uint8_t { kCodeG52 = 1, kCodeG2 = 2, kCodeM9 = 4 };

  struct Node {
    std::uint8_t codes = 0;
    std::uint32_t name = kNoNode;  // index into names_
  };
  struct Name {
    std::size_t firstEntry;   // smallest entry index with this name
    std::uint32_t seenEpoch;  // the block in which its first occurrence was met
  };

  // Edges of the pattern trie in one open-addressing table.
  class Edges {
   public:
    void Reset();
    std::uint32_t Find(std::uint32_t from, unsigned char byte) const noexcept;
    void Insert(std::uint32_t from, unsigned char byte, std::uint32_t to);

   private:
    static constexpr unsigned kInitialSlotBits = 6;
    static constexpr std::size_t kInitialSlots = std::size_t{1} << kInitialSlotBits;
    std::size_t Slot(std::uint64_t key) const noexcept;
    void Grow();
    std::vector<std::uint64_t> keys_;  // (from << 8 | byte) + 1; 0 is empty
    std::vector<std::uint32_t> targets_;
    std::size_t count_ = 0;
    unsigned shift_ = 64 - kInitialSlotBits;
  };

  std::uint32_t Insert(const std::string& pattern);
  void AddPrefix(unsigned char first, int second);  // second < 0: any byte
  bool OnCandidate(const unsigned char* block, std::size_t size, std::size_t at,
                   BlockFacts& facts) noexcept;
  void SeeName(std::uint32_t name, const unsigned char* block, std::size_t size, std::size_t after,
               BlockFacts& facts) noexcept;
  // Both scans call OnCandidate for each candidate position, in order, and
  // find the first "T" and whether a "(" comes before it.
  void ScanScalar(const unsigned char* block, std::size_t size, BlockFacts& facts) noexcept;
  void ScanVector(const unsigned char* block, std::size_t size, BlockFacts& facts) noexcept;

  PrefixTables prefixes_{};            // first: its 64-byte alignment then costs no padding
  std::vector<Node> nodes_;            // nodes_[0] is the root
  std::uint32_t rootChild_[256] = {};  // the root's edges, looked up directly
  Edges edges_;                        // all other edges
  std::vector<Name> names_;
  CandidateMaskFn candidateMasks_ = nullptr;  // null: scalar scan only
  std::uint32_t epoch_ = 0;
  unsigned nextBucket_ = 0;
  std::uint8_t firstBits_[256] = {};   // low1 & high1 for each byte
  std::uint8_t secondBits_[256] = {};  // low2 & high2 for each byte
  bool attention_[256] = {};           // may start a pattern, or is "T" or "("
  std::uint8_t bucketOf_[256] = {};    // 0: not given yet
  std::vector<bool> prefixAdded_;      // by first * 257 + second + 1 (0: any second)
};

}  // namespace ncdrill

#endif
