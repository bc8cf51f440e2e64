#include "interpret/block_matcher.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

#include "interpret/vector_scan.h"

namespace ncdrill {
namespace {

constexpr unsigned kBuckets = 8;
constexpr unsigned kNulBucket = 0;  // the end-of-text byte has a bucket of its own

std::uint64_t EdgeKey(std::uint32_t from, unsigned char byte) noexcept {
  return ((static_cast<std::uint64_t>(from) << 8) | byte) + 1;
}

}  // namespace

void BlockMatcher::Edges::Reset() {
  keys_.assign(kInitialSlots, 0);
  targets_.assign(kInitialSlots, 0);
  shift_ = 64 - kInitialSlotBits;
  count_ = 0;
}

void BlockMatcher::Edges::Grow() {
  std::vector<std::uint64_t> keys(keys_.size() * 2, 0);
  std::vector<std::uint32_t> targets(targets_.size() * 2, 0);
  keys.swap(keys_);
  targets.swap(targets_);
  --shift_;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] != 0) {
      const std::size_t slot = Slot(keys[i]);
      keys_[slot] = keys[i];
      targets_[slot] = targets[i];
    }
  }
}

std::size_t BlockMatcher::Edges::Slot(std::uint64_t key) const noexcept {
  const std::size_t mask = keys_.size() - 1;
  // Fibonacci hashing: the product's top bits index the table.
  auto slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> shift_);
  while (keys_[slot] != 0 && keys_[slot] != key) slot = (slot + 1) & mask;
  return slot;
}

std::uint32_t BlockMatcher::Edges::Find(std::uint32_t from, unsigned char byte) const noexcept {
  const std::size_t slot = Slot(EdgeKey(from, byte));
  return keys_[slot] == 0 ? kNoNode : targets_[slot];
}

void BlockMatcher::Edges::Insert(std::uint32_t from, unsigned char byte, std::uint32_t to) {
  if ((count_ + 1) * 2 > keys_.size()) Grow();  // at most half full: probes stay short
  const std::size_t slot = Slot(EdgeKey(from, byte));
  keys_[slot] = EdgeKey(from, byte);
  targets_[slot] = to;
  ++count_;
}

std::uint32_t BlockMatcher::Insert(const std::string& pattern) {
  std::uint32_t node = 0;
  for (const char c : pattern) {
    const auto byte = static_cast<unsigned char>(c);
    std::uint32_t next = node == 0 ? rootChild_[byte] : edges_.Find(node, byte);
    if (next == kNoNode) {
      next = static_cast<std::uint32_t>(nodes_.size());
      nodes_.emplace_back();
      if (node == 0) {
        rootChild_[byte] = next;
      } else {
        edges_.Insert(node, byte, next);
      }
    }
    node = next;
  }
  return node;
}

void BlockMatcher::AddPrefix(unsigned char first, int second) {
  // Many names share their first two bytes; each prefix goes in once.
  const std::size_t key = std::size_t{first} * 257 + static_cast<std::size_t>(second + 1);
  if (prefixAdded_[key]) return;
  prefixAdded_[key] = true;
  if (bucketOf_[first] == 0) {
    // Each first byte keeps one bucket, so its second bytes sharpen the filter;
    // the NUL bucket accepts any second byte and is not shared.
    bucketOf_[first] = static_cast<std::uint8_t>(
        1 + (first == 0 ? kNulBucket : 1 + nextBucket_++ % (kBuckets - 1)));
  }
  const auto bit = static_cast<std::uint8_t>(1u << (bucketOf_[first] - 1));
  const bool anySecond = second < 0;
  const unsigned secondByte = anySecond ? 0u : static_cast<unsigned>(second);
  for (unsigned lane = 0; lane < 64; lane += 16) {
    prefixes_.low1[lane + (first & 15u)] |= bit;
    prefixes_.high1[lane + (first >> 4u)] |= bit;
    for (unsigned nibble = 0; nibble < 16; ++nibble) {
      if (anySecond || nibble == (secondByte & 15u)) prefixes_.low2[lane + nibble] |= bit;
      if (anySecond || nibble == (secondByte >> 4u)) prefixes_.high2[lane + nibble] |= bit;
    }
  }
}

void BlockMatcher::Build(const std::vector<TableEntry>& entries) {
  nodes_.assign(1, Node{});
  std::fill(std::begin(rootChild_), std::end(rootChild_), kNoNode);
  edges_.Reset();
  names_.clear();
  prefixes_ = PrefixTables{};
  std::memset(bucketOf_, 0, sizeof bucketOf_);
  nextBucket_ = 0;
  prefixAdded_.assign(std::size_t{256} * 257, false);

  AddPrefix(0, -1);
  const struct {
    const char* text;
    Code code;
  } codes[] = {{"G52", kCodeG52}, {"G2", kCodeG2}, {"M9", kCodeM9}};
  for (const auto& code : codes) {
    nodes_[Insert(code.text)].codes |= code.code;
    AddPrefix(static_cast<unsigned char>(code.text[0]), static_cast<unsigned char>(code.text[1]));
  }
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const std::string& name = entries[index].name;
    if (name.empty()) continue;
    const std::uint32_t node = Insert(name);
    if (nodes_[node].name != kNoNode) continue;  // an earlier entry has this name
    nodes_[node].name = static_cast<std::uint32_t>(names_.size());
    names_.push_back(Name{index, 0});
    AddPrefix(static_cast<unsigned char>(name[0]),
              name.size() > 1 ? static_cast<unsigned char>(name[1]) : -1);
  }
  for (int byte = 0; byte < 256; ++byte) {
    firstBits_[byte] = prefixes_.low1[byte & 15] & prefixes_.high1[byte >> 4];
    secondBits_[byte] = prefixes_.low2[byte & 15] & prefixes_.high2[byte >> 4];
    attention_[byte] = firstBits_[byte] != 0 || byte == 'T' || byte == '(';
  }
  for (int k = 0; k < 128; ++k) {
    prefixes_.first128[k] = firstBits_[k] | firstBits_[k + 128];
    prefixes_.second128[k] = secondBits_[k] | secondBits_[k + 128];
  }
  epoch_ = 0;
  UseVectorUnit(BestVectorUnit());
}

void BlockMatcher::SeeName(std::uint32_t name, const unsigned char* block, std::size_t size,
                           std::size_t after, BlockFacts& facts) noexcept {
  Name& seen = names_[name];
  if (seen.seenEpoch == epoch_) return;  // only the first occurrence of a name counts
  seen.seenEpoch = epoch_;
  if (after < size && ContinuesNumber(block[after])) return;
  if (seen.firstEntry < facts.trigger) facts.trigger = seen.firstEntry;
}

bool BlockMatcher::OnCandidate(const unsigned char* block, std::size_t size, std::size_t at,
                               BlockFacts& facts) noexcept {
  if (block[at] == 0) {
    facts.length = at;
    return false;
  }
  // Walk every pattern that starts here. No pattern holds a NUL, so the walk
  // never passes the end of the text.
  std::uint32_t node = rootChild_[block[at]];
  std::size_t end = at + 1;  // the pattern at `node` is block[at, end)
  while (node != kNoNode) {
    const Node& found = nodes_[node];
    if (found.codes != 0) {
      if (found.codes & kCodeG52) facts.hasG52 = true;
      if (found.codes & kCodeM9) facts.hasM9 = true;
      if ((found.codes & kCodeG2) && facts.firstG2 == BlockFacts::kNone) facts.firstG2 = at;
    }
    if (found.name != kNoNode) SeeName(found.name, block, size, end, facts);
    if (end == size) break;
    node = edges_.Find(node, block[end++]);
  }
  return true;
}

void BlockMatcher::ScanScalar(const unsigned char* block, std::size_t size,
                              BlockFacts& facts) noexcept {
  bool parenSeen = false;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = block[i];
    if (!attention_[c]) continue;
    if (facts.firstT == BlockFacts::kNone) {
      if (c == 'T') {
        facts.firstT = i;
        facts.parenBeforeT = parenSeen;
      }
      parenSeen = parenSeen || c == '(';
    }
    const unsigned char next = i + 1 < size ? block[i + 1] : 0;
    if ((firstBits_[c] & secondBits_[next]) != 0 && !OnCandidate(block, size, i, facts)) return;
  }
}

void BlockMatcher::ScanVector(const unsigned char* block, std::size_t size,
                              BlockFacts& facts) noexcept {
  constexpr std::size_t kWindow = 256;
  PositionMasks masks[kWindow / kWordPositions];
  bool parenSeen = false;
  for (std::size_t base = 0; base < size; base += kWindow) {
    const std::size_t positions = size - base < kWindow ? size - base : kWindow;
    candidateMasks_(prefixes_, block + base, positions, size - base, masks);
    for (std::size_t word = 0; word * kWordPositions < positions; ++word) {
      const std::size_t start = base + word * kWordPositions;
      bool ended = false;
      for (std::uint64_t mask = masks[word].candidates; mask != 0; mask &= mask - 1) {
        if (!OnCandidate(block, size, start + CountTrailingZeros(mask), facts)) {
          ended = true;  // a NUL at facts.length: nothing from there on counts
          break;
        }
      }
      if (facts.firstT == BlockFacts::kNone) {
        const std::uint64_t before = ended ? LowBits(facts.length - start) : ~std::uint64_t{0};
        const std::uint64_t t = masks[word].t & before;
        const std::uint64_t paren = masks[word].paren & before;
        if (t != 0) {
          const unsigned at = CountTrailingZeros(t);
          facts.firstT = start + at;
          facts.parenBeforeT = parenSeen || (paren & LowBits(at)) != 0;
        }
        parenSeen = parenSeen || paren != 0;
      }
      if (ended) return;
    }
  }
}

void BlockMatcher::Examine(const char* text, std::size_t size, BlockFacts& facts) noexcept {
  facts = BlockFacts{};
  facts.length = size;
  if (epoch_ == std::numeric_limits<std::uint32_t>::max()) {
    // After 2^32 blocks the marks could look current again: start afresh.
    for (Name& name : names_) name.seenEpoch = 0;
    epoch_ = 0;
  }
  ++epoch_;
  const auto* block = reinterpret_cast<const unsigned char*>(text);
  if (candidateMasks_ != nullptr) {
    ScanVector(block, size, facts);
  } else {
    ScanScalar(block, size, facts);
  }
}

}  // namespace ncdrill
