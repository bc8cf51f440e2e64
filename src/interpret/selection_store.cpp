#include "interpret/selection_store.h"

#include <limits>
#include <new>

namespace ncdrill {
namespace {
// Enough spare nodes for any realistic run of requests between drill blocks;
// more are given back so that one huge pile does not stay reserved forever.
constexpr std::size_t kMaxSpareNodes = 256;
}  // namespace

SelectionStore::SelectionStore() noexcept {
  sentinel_.next = &sentinel_;
  sentinel_.prev = &sentinel_;
  sentinel_.selection = Selection{0, 0};
  list_.reserved = nullptr;
  list_.sentinel = &sentinel_;
  list_.count = 0;
}

SelectionStore::~SelectionStore() {
  RemoveAll();
  FreeChain(retired_);
  FreeChain(spare_);
}

SelectionStore::OwnedNode* SelectionStore::Owner(SelectionNode* node) noexcept {
  // OwnedNode is standard layout with the node as its first member.
  return reinterpret_cast<OwnedNode*>(node);
}

void SelectionStore::FreeChain(OwnedNode* chain) noexcept {
  while (chain != nullptr) {
    OwnedNode* next = chain->nextOwned;
    delete chain;
    chain = next;
  }
}

bool SelectionStore::Append(Selection selection, std::size_t markRank) noexcept {
  if (list_.count == std::numeric_limits<std::uint32_t>::max()) return false;
  OwnedNode* owned = spare_;
  if (owned != nullptr) {
    spare_ = owned->nextOwned;
    --spareCount_;
  } else {
    owned = new (std::nothrow) OwnedNode;
    if (owned == nullptr) return false;
  }
  owned->nextOwned = nullptr;
  owned->markRank = markRank;
  SelectionNode& node = owned->node;
  node.selection = selection;
  node.next = &sentinel_;
  node.prev = sentinel_.prev;
  sentinel_.prev->next = &node;
  sentinel_.prev = &node;
  ++list_.count;
  return true;
}

void SelectionStore::Recycle(OwnedNode* owned) noexcept {
  if (spareCount_ < kMaxSpareNodes) {
    owned->nextOwned = spare_;
    spare_ = owned;
    ++spareCount_;
  } else {
    delete owned;
  }
}

void SelectionStore::RemoveAll() noexcept {
  const bool hostMayHold = handOvers_ > 0;
  for (SelectionNode* node = sentinel_.next; node != &sentinel_;) {
    SelectionNode* next = node->next;
    OwnedNode* owned = Owner(node);
    if (hostMayHold) {
      owned->nextOwned = retired_;
      retired_ = owned;
    } else {
      Recycle(owned);
    }
    node = next;
  }
  sentinel_.next = &sentinel_;
  sentinel_.prev = &sentinel_;
  list_.count = 0;
}

void SelectionStore::EndHandOver() noexcept {
  --handOvers_;
  RemoveAll();
  if (handOvers_ > 0) return;
  // Nobody can hold a retired node any more: recycle them.
  while (retired_ != nullptr) {
    OwnedNode* owned = retired_;
    retired_ = owned->nextOwned;
    Recycle(owned);
  }
}

}  // namespace ncdrill
