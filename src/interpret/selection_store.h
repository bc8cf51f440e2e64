// The interpreter's list of Selections, kept in the layout the host reads
// (SelectionList), with node recycling so that steady-state blocks do not
// allocate.
#ifndef NCDRILL_INTERPRET_SELECTION_STORE_H
#define NCDRILL_INTERPRET_SELECTION_STORE_H

#include <cstddef>
#include <cstdint>

#include "ncdrill/ncdrill.h"

namespace ncdrill {

class SelectionStore {
 public:
  SelectionStore() noexcept;
  ~SelectionStore();
  SelectionStore(const SelectionStore&) = delete;
  SelectionStore& operator=(const SelectionStore&) = delete;

  // Appends at the end, with the rank of the records it marks at the next
  // drill block. Returns false, leaving the list as it was, when no memory
  // is left for the node.
  bool Append(Selection selection, std::size_t markRank) noexcept;

  // The list object handed to the host; its address never changes.
  const SelectionList& list() const noexcept { return list_; }
  std::uint32_t size() const noexcept { return list_.count; }

  // Calls visit(markRank) for each Selection, in order.
  template <typename Visit>
  void ForEachMarkRank(Visit&& visit) const noexcept {
    for (const SelectionNode* node = sentinel_.next; node != &sentinel_; node = node->next) {
      visit(Owner(node)->markRank);
    }
  }

  // Brackets a hand-over of the list to the host. Until the outermost hand-over
  // ends, removed nodes are neither freed nor reused nor relinked, because the
  // host may still be walking them from a re-entrant call. EndHandOver removes
  // every Selection.
  void BeginHandOver() noexcept { ++handOvers_; }
  void EndHandOver() noexcept;

 private:
  // A node as the host sees it, followed by a link of our own that chains
  // spare and retired nodes without touching the host-visible links.
  struct OwnedNode {
    SelectionNode node;
    OwnedNode* nextOwned;
    std::size_t markRank;
  };
  static OwnedNode* Owner(SelectionNode* node) noexcept;
  static const OwnedNode* Owner(const SelectionNode* node) noexcept {
    return reinterpret_cast<const OwnedNode*>(node);
  }
  void RemoveAll() noexcept;
  void Recycle(OwnedNode* owned) noexcept;
  static void FreeChain(OwnedNode* chain) noexcept;

  SelectionList list_{};
  SelectionNode sentinel_{};
  OwnedNode* spare_ = nullptr;    // free for reuse
  OwnedNode* retired_ = nullptr;  // removed while the host may still hold them
  std::size_t spareCount_ = 0;
  int handOvers_ = 0;
};

}  // namespace ncdrill

#endif
