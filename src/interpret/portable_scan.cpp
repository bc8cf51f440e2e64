#include "interpret/portable_scan.h"

namespace ncdrill {
namespace {

constexpr std::size_t kWordBytes = 8;
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Comparing a word with each first byte costs about as much as looking at
// its 8 bytes one by one once there are this many.
constexpr std::size_t kMaxWordLeads = 6;

// The high bit of each byte of `word` that equals one of the first `Count`
// bytes repeated in `leadWords`. A byte above a matching one may be marked
// as well (the subtraction's borrow runs on into it), so each marked byte is
// looked at again.
template <std::size_t Count>
std::uint64_t MatchingBytes(std::uint64_t word, const std::uint64_t* leadWords) noexcept {
  std::uint64_t any = 0;
  if ((word & kHighs) == 0) {
    // Bytes below 0x80 (text, as a rule): a byte is 0 after the XOR exactly
    // when subtracting 1 from it sets its high bit.
    for (std::size_t k = 0; k < Count; ++k) any |= (word ^ leadWords[k]) - kOnes;
  } else {
    for (std::size_t k = 0; k < Count; ++k) {
      const std::uint64_t x = word ^ leadWords[k];
      any |= (x - kOnes) & ~x;
    }
  }
  return any & kHighs;
}

// The high bits of the first `count` (below 8) bytes of a word.
std::uint64_t FirstBytes(std::size_t count) noexcept {
  return kHighs & ((std::uint64_t{1} << (8 * count)) - 1);
}

// Marks the positions `hits` flags in the word at `at`; returns whether one
// of them is "T".
bool MarkHits(const PrefixTables& tables, const unsigned char* bytes, std::size_t readable,
              std::size_t at, std::uint64_t hits, PositionMasks* masks) noexcept {
  bool t = false;
  for (; hits != 0; hits &= hits - 1) {
    const std::size_t position = at + CountTrailingZeros(hits) / 8;
    t = MarkPosition(tables, bytes, readable, position, masks) || t;
  }
  return t;
}

// Compares the words from `at` on with the first `Count` lead words, 8
// positions at a time, and marks what they find. With `UntilT`, stops after
// the word that holds a "T" and returns where the next word starts.
template <std::size_t Count, bool UntilT>
std::size_t MarkWords(const PrefixTables& tables, const unsigned char* bytes, std::size_t positions,
                      std::size_t readable, std::size_t at, PositionMasks* masks) noexcept {
  for (; at + kWordBytes <= positions; at += kWordBytes) {
    const std::uint64_t hits = MatchingBytes<Count>(LoadWord(bytes + at), tables.leadWords);
    if (hits != 0 && MarkHits(tables, bytes, readable, at, hits, masks) && UntilT) {
      return at + kWordBytes;
    }
  }
  if (at < positions) {
    // The last few positions: the bytes after them are read if there are any.
    const std::uint64_t word = at + kWordBytes <= readable
                                   ? LoadWord(bytes + at)
                                   : LoadPartialWord(bytes + at, readable - at);
    const std::uint64_t hits =
        MatchingBytes<Count>(word, tables.leadWords) & FirstBytes(positions - at);
    if (hits != 0) MarkHits(tables, bytes, readable, at, hits, masks);
  }
  return positions;
}

// The lead words are the `Leads` first bytes, then "T" and "(", which only
// matter up to the first "T".
template <std::size_t Leads>
void CandidateMasksByWord(const PrefixTables& tables, const unsigned char* bytes,
                          std::size_t positions, std::size_t readable,
                          PositionMasks* masks) noexcept {
  ClearMasks(positions, masks);
  const std::size_t at = MarkWords<Leads + 2, true>(tables, bytes, positions, readable, 0, masks);
  MarkWords<Leads, false>(tables, bytes, positions, readable, at, masks);
}

}  // namespace

void ClearMasks(std::size_t positions, PositionMasks* masks) noexcept {
  for (std::size_t word = 0; word * kWordPositions < positions; ++word) {
    masks[word] = PositionMasks{0, 0, 0};
  }
}

void CandidateMasksByByte(const PrefixTables& tables, const unsigned char* bytes,
                          std::size_t positions, std::size_t readable,
                          PositionMasks* masks) noexcept {
  ClearMasks(positions, masks);
  for (std::size_t at = 0; at < positions; ++at) {
    if (tables.attention[bytes[at]] != 0) MarkPosition(tables, bytes, readable, at, masks);
  }
}

void CandidateMasksPortable(const PrefixTables& tables, const unsigned char* bytes,
                            std::size_t positions, std::size_t readable,
                            PositionMasks* masks) noexcept {
  static_assert(kMaxWordLeads == 6 && kMaxWordLeads <= kMaxComparedLeads,
                "one case per count below");
  switch (tables.leadCount) {
    case 1:
      return CandidateMasksByWord<1>(tables, bytes, positions, readable, masks);
    case 2:
      return CandidateMasksByWord<2>(tables, bytes, positions, readable, masks);
    case 3:
      return CandidateMasksByWord<3>(tables, bytes, positions, readable, masks);
    case 4:
      return CandidateMasksByWord<4>(tables, bytes, positions, readable, masks);
    case 5:
      return CandidateMasksByWord<5>(tables, bytes, positions, readable, masks);
    case 6:
      return CandidateMasksByWord<6>(tables, bytes, positions, readable, masks);
    default:
      return CandidateMasksByByte(tables, bytes, positions, readable, masks);
  }
}

}  // namespace ncdrill
