// The interpreter's list of Selections, kept in the layout the host reads
// (SelectionList). Nodes come from chunks that are kept and reused, so that
// steady-state blocks do not allocate.
#ifndef NCDRILL_INTERPRET_SELECTION_STORE_H
#define NCDRILL_INTERPRET_SELECTION_STORE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ncdrill/ncdrill.h"

namespace ncdrill {

class SelectionStore {
 public:
  SelectionStore() noexcept;
  SelectionStore(const SelectionStore&) = delete;
  SelectionStore& operator=(const SelectionStore&) = delete;

  // Takes the memory the first Selections need, so that appending them
  // later does not allocate. Throws std::bad_alloc.
  void Reserve();

  // Appends at the end, with the rank of the records it marks at the next
  // drill block. Returns false, leaving the list as it was, when no memory
  // is left for the node. Inline: mask requests append up to 14 at a time.
  bool Append(Selection selection, std::size_t markRank) noexcept {
    if (free_ == freeEnd_ && !TakeChunk()) return false;
    OwnedNode& owned = *free_++;
    ++used_;
    owned.markRank = markRank;
    SelectionNode& node = owned.node;
    node.selection = selection;
    node.next = &sentinel_;
    node.prev = sentinel_.prev;
    sentinel_.prev->next = &node;
    sentinel_.prev = &node;
    ++list_.count;
    return true;
  }

  // Appends selectionOfBit[bit], with rankOfBit[bit], for each set bit of
  // `bits` (none from `bitCount` up), the lowest first. A Selection that
  // finds no memory is dropped. An "M9" mask appends up to 14.
  void AppendEachBit(std::uint32_t bits, unsigned bitCount, const Selection* selectionOfBit,
                     const std::size_t* rankOfBit) noexcept;

  // The list object handed to the host; its address never changes.
  const SelectionList& list() const noexcept { return list_; }
  std::uint32_t size() const noexcept { return list_.count; }

  // Calls visit(markRank) for each Selection, in order.
  template <typename Visit>
  void ForEachMarkRank(Visit&& visit) const noexcept {
    for (std::size_t i = listStart_; i < used_;) {
      const OwnedNode* nodes = chunks_[i / kChunkNodes]->nodes;
      const std::size_t chunkEnd = (i / kChunkNodes + 1) * kChunkNodes;
      for (const std::size_t end = used_ < chunkEnd ? used_ : chunkEnd; i < end; ++i) {
        visit(nodes[i % kChunkNodes].markRank);
      }
    }
  }

  // Brackets a hand-over of the list to the host. EndHandOver removes every
  // Selection. Until the outermost hand-over ends, removed nodes are neither
  // reused nor relinked, because the host may still be walking them from a
  // re-entrant call.
  void BeginHandOver() noexcept { ++handOvers_; }
  void EndHandOver() noexcept;

 private:
  struct OwnedNode {
    SelectionNode node;  // as the host sees it
    std::size_t markRank;
  };
  static constexpr std::size_t kChunkNodes = 64;
  struct Chunk {
    OwnedNode nodes[kChunkNodes];
  };

  OwnedNode& Node(std::size_t i) const noexcept {
    return chunks_[i / kChunkNodes]->nodes[i % kChunkNodes];
  }
  // Points free_ at node used_, in a kept chunk or a new one, and freeEnd_
  // at the end of its chunk or where the count would overflow. Returns
  // false when no memory is left or the count is at its largest.
  bool TakeChunk() noexcept;
  // AppendEachBit when the chunk in use has room for `bitCount` more nodes.
  void AppendEachBitInPlace(std::uint32_t bits, unsigned bitCount, const Selection* selectionOfBit,
                            const std::size_t* rankOfBit) noexcept;

  SelectionList list_{};
  SelectionNode sentinel_{};
  // Nodes are handed out in order, so the list is always the nodes
  // [listStart_, used_); all of them are free again after the outermost
  // hand-over.
  std::vector<std::unique_ptr<Chunk>> chunks_;
  std::size_t used_ = 0;
  std::size_t listStart_ = 0;
  OwnedNode* free_ = nullptr;     // node used_, while it is in a taken chunk
  OwnedNode* freeEnd_ = nullptr;  // free_ == freeEnd_: TakeChunk first
  int handOvers_ = 0;
};

}  // namespace ncdrill

#endif
