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

bool SelectionStore::Append(Selection selection, std::size_t markRank) noexcept {
  if (list_.count == std::numeric_limits<std::uint32_t>::max()) return false;
  if (used_ == chunks_.size() * kChunkNodes) {
    std::unique_ptr<Chunk> chunk(new (std::nothrow) Chunk);
    if (!chunk) return false;
    try {
      chunks_.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  OwnedNode& owned = Node(used_++);
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
  if (chunks_.size() > kKeptChunks) chunks_.resize(kKeptChunks);
}

}  // namespace ncdrill
