#include "interpret/block_matcher.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "interpret/vector_scan.h"

namespace ncdrill {
namespace {

constexpr unsigned kBuckets = 8;

// The codes the scanner looks for; the scans find them by their bytes.
constexpr unsigned char kCodeLeads[] = {'G', 'M'};
constexpr unsigned char kCodeSeconds[] = {'2', '5', '9'};

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

std::uint32_t BlockMatcher::Insert(const std::string& name) {
  std::uint32_t node = 0;
  for (const char c : name) {
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

void BlockMatcher::AddNamePrefix(unsigned char first, int second) {
  // Many names share their first two bytes; each prefix goes in once.
  const std::size_t key = std::size_t{first} * 257 + static_cast<std::size_t>(second + 1);
  if (prefixAdded_[key]) return;
  prefixAdded_[key] = true;
  if (bucketOf_[first] == 0) {
    // Each first byte keeps one bucket, so its second bytes sharpen the filter.
    bucketOf_[first] = static_cast<std::uint8_t>(1 + nextBucket_++ % kBuckets);
  }
  const auto bit = static_cast<std::uint8_t>(1u << (bucketOf_[first] - 1));
  const bool anySecond = second < 0;
  const unsigned secondByte = anySecond ? 0u : static_cast<unsigned>(second);
  secondLow_ = anySecond ? 0 : std::min(secondLow_, secondByte);
  secondHigh_ = anySecond ? 255 : std::max(secondHigh_, secondByte);
  prefixes_.firstBits[first] |= bit;
  if (anySecond) {
    std::for_each(std::begin(prefixes_.secondBits), std::end(prefixes_.secondBits),
                  [bit](std::uint8_t& bits) { bits |= bit; });
  } else {
    prefixes_.secondBits[secondByte] |= bit;
  }
  const auto classBit =
      static_cast<std::uint8_t>(1u << (PrefixTables::kClassFirstBucket +
                                       (bucketOf_[first] - 1u) % PrefixTables::kClassBuckets));
  prefixes_.classFirst[first] |= classBit;
  if (anySecond) {
    std::for_each(std::begin(prefixes_.classSecond), std::end(prefixes_.classSecond),
                  [classBit](std::uint8_t& bits) { bits |= classBit; });
  } else {
    prefixes_.classSecond[secondByte] |= classBit;
  }
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
  secondLow_ = 255;
  secondHigh_ = 0;
  prefixAdded_.assign(std::size_t{256} * 257, false);

  for (std::size_t index = 0; index < entries.size(); ++index) {
    const std::string& name = entries[index].name;
    if (name.empty()) continue;
    const std::uint32_t node = Insert(name);
    if (nodes_[node].name != kNoNode) continue;  // an earlier entry has this name
    nodes_[node].name = static_cast<std::uint32_t>(names_.size());
    names_.push_back(Name{index, 0});
    AddNamePrefix(static_cast<unsigned char>(name[0]),
                  name.size() > 1 ? static_cast<unsigned char>(name[1]) : -1);
  }
  FillByteTables();
  epoch_ = 0;
  UseVectorUnit(BestVectorUnit());
}

void BlockMatcher::FillByteTables() noexcept {
  PrefixTables& t = prefixes_;
  bool lead[256] = {};
  for (int byte = 0; byte < 256; ++byte) lead[byte] = t.firstBits[byte] != 0;
  bool always[256] = {};
  for (const unsigned char code : kCodeLeads) {
    lead[code] = true;
    always[code] = true;
  }
  always[static_cast<unsigned char>('T')] = true;
  always[static_cast<unsigned char>('(')] = true;
  always[0] = true;
  for (const unsigned char second : kCodeSeconds) {
    secondLow_ = std::min(secondLow_, unsigned{second});
    secondHigh_ = std::max(secondHigh_, unsigned{second});
  }
  t.leadCount = 0;
  for (int byte = 0; byte < 256; ++byte) {
    t.attention[byte] = static_cast<std::uint8_t>((lead[byte] ? PrefixTables::kLead : 0) |
                                                  (always[byte] ? PrefixTables::kAlways : 0));
    if (!lead[byte]) continue;
    if (t.leadCount < kMaxComparedLeads)
      std::memset(t.leads[t.leadCount], byte, PrefixTables::kRowBytes);
    ++t.leadCount;
  }
  if (t.leadCount <= kMaxComparedLeads) {
    std::memset(t.leads[t.leadCount], 'T', PrefixTables::kRowBytes);
    std::memset(t.leads[t.leadCount + 1], '(', PrefixTables::kRowBytes);
  }
  std::memset(t.secondLow, static_cast<int>(secondLow_), PrefixTables::kRowBytes);
  std::memset(t.secondSpan, static_cast<int>(secondHigh_ - secondLow_), PrefixTables::kRowBytes);
  std::memset(t.secondBias, static_cast<int>((0x80 - secondLow_) & 0xff), PrefixTables::kRowBytes);
  std::memset(t.secondLast, static_cast<int>((0x80 + secondHigh_ - secondLow_) & 0xff),
              PrefixTables::kRowBytes);
  FillClassTables();
}

void BlockMatcher::FillClassTables() noexcept {
  PrefixTables& t = prefixes_;
  t.classFirst[0] |= PrefixTables::kClassNul;
  for (const unsigned char code : kCodeLeads) t.classFirst[code] |= PrefixTables::kClassCode;
  for (const unsigned char second : kCodeSeconds) t.classSecond[second] |= PrefixTables::kClassCode;
  for (unsigned byte = 0; byte < 256; ++byte) {
    t.classFirst64[byte % 64] |= t.classFirst[byte];
    t.classSecond64[byte % 64] |= t.classSecond[byte];
    for (unsigned lane = 0; lane < 64; lane += 16) {
      t.classLow1[lane + byte % 16] |= t.classFirst[byte];
      t.classHigh1[lane + byte / 16] |= t.classFirst[byte];
      t.classLow2[lane + byte % 16] |= t.classSecond[byte];
      t.classHigh2[lane + byte / 16] |= t.classSecond[byte];
    }
  }
}

void BlockMatcher::RestartEpochs() noexcept {
  for (Name& name : names_) name.seenEpoch = 0;
  epoch_ = 0;
}

void WalkNamesAt(BlockMatcher& matcher, const unsigned char* block, std::size_t size,
                 std::size_t at, std::size_t& trigger) noexcept {
  // Walk every name that starts here. No name holds a NUL, so the walk
  // never passes the end of the text.
  std::uint32_t node = matcher.rootChild_[block[at]];
  std::size_t end = at + 1;  // the name at `node` is block[at, end)
  while (node != BlockMatcher::kNoNode) {
    const std::uint32_t name = matcher.nodes_[node].name;
    if (name != BlockMatcher::kNoNode) {
      BlockMatcher::Name& seen = matcher.names_[name];
      // Only the first occurrence of a name counts, and only when no number
      // goes on after it.
      const bool first = seen.seenEpoch != matcher.epoch_;
      seen.seenEpoch = matcher.epoch_;
      if (first && !(end < size && ContinuesNumber(block[end])) && seen.firstEntry < trigger) {
        trigger = seen.firstEntry;
      }
    }
    if (end == size) break;
    node = matcher.edges_.Find(node, block[end++]);
  }
}

bool BlockMatcher::UseVectorUnit(VectorUnit unit) noexcept {
  const BlockPathFn path = BlockPathFor(unit, prefixes_);
  if (path == nullptr) return false;
  unit_ = unit;
  path_ = path;
  return true;
}

}  // namespace ncdrill
