#include "interpret/selection_store.h"

#include <limits>
#include <new>

namespace ncdrill {
namespace {
// Chunks kept for reuse once a pile of Selections is gone: enough for any
// realistic run of requests between drill blocks, so that one huge pile does
// not stay reserved forever.
constexpr std::size_t kKeptChunks = 4;
}  // namespace

SelectionStore::SelectionStore() noexcept {
  sentinel_.next = &sentinel_;
  sentinel_.prev = &sentinel_;
  sentinel_.selection = Selection{0, 0};
  list_.reserved = nullptr;
  list_.sentinel = &sentinel_;
  list_.count = 0;
}

void SelectionStore::Reserve() {
  chunks_.reserve(kKeptChunks);
  if (chunks_.empty()) chunks_.push_back(std::make_unique<Chunk>());
}

bool SelectionStore::TakeChunk() noexcept {
  constexpr std::uint32_t kMaxCount = std::numeric_limits<std::uint32_t>::max();
  if (list_.count == kMaxCount) return false;
  const std::size_t chunk = used_ / kChunkNodes;
  OwnedNode* nodes = nullptr;
  if (chunk < chunks_.size()) {
    nodes = chunks_[chunk]->nodes;
  } else {
    std::unique_ptr<Chunk> added(new (std::nothrow) Chunk);
    if (!added) return false;
    nodes = added->nodes;
    try {
      chunks_.push_back(std::move(added));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  const std::size_t room = kChunkNodes - used_ % kChunkNodes;
  const std::size_t countRoom = kMaxCount - list_.count;
  free_ = nodes + used_ % kChunkNodes;
  freeEnd_ = free_ + (room < countRoom ? room : countRoom);
  return true;
}

void SelectionStore::AppendEachBitInPlace(std::uint32_t bits, unsigned bitCount,
                                          const Selection* selectionOfBit,
                                          const std::size_t* rankOfBit) noexcept {
  // Every bit fills the next free node and links it after the list's end;
  // only a set bit keeps it, and a clear one leaves it to the next bit. A
  // mask's bits come in no order a predictor could learn: writing a node
  // that is not kept costs less than a branch on each bit.
  SelectionNode* last = sentinel_.prev;
  OwnedNode* next = free_;
  for (unsigned bit = 0; bit < bitCount; ++bit) {
    next->markRank = rankOfBit[bit];
    next->node.selection = selectionOfBit[bit];
    next->node.prev = last;
    last->next = &next->node;
    const std::uint32_t kept = (bits >> bit) & 1u;
    last = kept != 0 ? &next->node : last;
    next += kept;
  }
  last->next = &sentinel_;
  sentinel_.prev = last;
  const auto added = static_cast<std::size_t>(next - free_);
  free_ = next;
  used_ += added;
  list_.count += static_cast<std::uint32_t>(added);
}

void SelectionStore::AppendEachBit(std::uint32_t bits, unsigned bitCount,
                                   const Selection* selectionOfBit,
                                   const std::size_t* rankOfBit) noexcept {
  if (static_cast<std::size_t>(freeEnd_ - free_) >= bitCount) {
    AppendEachBitInPlace(bits, bitCount, selectionOfBit, rankOfBit);
    return;
  }
  while (bits != 0) {
    if (free_ == freeEnd_ && !TakeChunk()) {
      bits &= bits - 1;
      continue;
    }
    const auto room = static_cast<std::size_t>(freeEnd_ - free_);
    SelectionNode* last = sentinel_.prev;
    std::size_t added = 0;
    for (; bits != 0 && added < room; bits &= bits - 1, ++added) {
      const int bit = __builtin_ctz(bits);
      OwnedNode& owned = free_[added];
      owned.markRank = rankOfBit[bit];
      owned.node.selection = selectionOfBit[bit];
      owned.node.prev = last;
      last->next = &owned.node;
      last = &owned.node;
    }
    last->next = &sentinel_;
    sentinel_.prev = last;
    free_ += added;
    used_ += added;
    list_.count += static_cast<std::uint32_t>(added);
  }
}

void SelectionStore::EndHandOver() noexcept {
  --handOvers_;
  sentinel_.next = &sentinel_;
  sentinel_.prev = &sentinel_;
  list_.count = 0;
  if (handOvers_ > 0) {
    listStart_ = used_;  // the removed nodes stay as they are
    return;
  }
  used_ = 0;
  listStart_ = 0;
  free_ = nullptr;
  freeEnd_ = nullptr;
  if (chunks_.size() > kKeptChunks) chunks_.resize(kKeptChunks);
}

}  // namespace ncdrill
