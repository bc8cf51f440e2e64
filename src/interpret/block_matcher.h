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

class BlockMatcher {
 public:
  // The names of `entries`; empty names never trigger. Throws std::bad_alloc.
  void Build(const std::vector<TableEntry>& entries);

  // Examines `size` characters at `text` (never more; a NUL ends the block).
  // Returns false when the block holds no "T", no code and no position where
  // a name could start: then `facts` stays as a fresh BlockFacts says, apart
  // from its length, and the block can do nothing.
  bool Examine(const char* text, std::size_t size, BlockFacts& facts) noexcept {
    BeginBlock();
    return BlockScanFor(unit_, prefixes_)(
        prefixes_, *this, reinterpret_cast<const unsigned char*>(text), size, facts);
  }

  // How a block path begins: BeginBlock, then its scan with prefixes().
  void BeginBlock() noexcept {
    if (epoch_ == kLastEpoch) RestartEpochs();
    ++epoch_;
  }
  const PrefixTables& prefixes() const noexcept { return prefixes_; }

  // The block path of the unit in use.
  BlockPathFn path() const noexcept { return path_; }

  // The vector unit the scan uses: after Build, the best this processor has
  // up to the build's limit. Tests pick each unit in turn to compare the
  // scans. Returns false, keeping the unit, when the processor lacks `unit`.
  bool UseVectorUnit(VectorUnit unit) noexcept;

 private:
  static constexpr std::uint32_t kNoNode = 0xffffffffu;
  static constexpr std::uint32_t kLastEpoch = 0xffffffffu;

  // A node of the trie of names.
  struct Node {
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

  friend void WalkNamesAt(BlockMatcher& matcher, const unsigned char* block, std::size_t size,
                          std::size_t at, std::size_t& trigger) noexcept;

  std::uint32_t Insert(const std::string& name);
  void AddNamePrefix(unsigned char first, int second);  // second < 0: any byte
  // The tables and lists derived from the byte-indexed bits, with the codes.
  void FillByteTables() noexcept;
  // The word walkers' classes of bytes, from the names' and the codes'.
  void FillClassTables() noexcept;
  // After 2^32 blocks the marks could look current again: starts afresh.
  void RestartEpochs() noexcept;

  PrefixTables prefixes_{};            // first: its 64-byte alignment then costs no padding
  std::vector<Node> nodes_;            // the trie of names; nodes_[0] is the root
  std::uint32_t rootChild_[256] = {};  // the root's edges, looked up directly
  Edges edges_;                        // all other edges
  std::vector<Name> names_;
  VectorUnit unit_ = VectorUnit::kPortable;
  BlockPathFn path_ = nullptr;
  std::uint32_t epoch_ = 0;
  unsigned nextBucket_ = 0;
  std::uint8_t bucketOf_[256] = {};  // 0: not given yet
  unsigned secondLow_ = 255;         // range of the prefixes' second bytes
  unsigned secondHigh_ = 0;
  std::vector<bool> prefixAdded_;  // by first * 257 + second + 1 (0: any second)
};

}  // namespace ncdrill

#endif
