#include "program.h"

#include <cstdint>

namespace ncdrill_bench {
namespace {

// A small linear congruential generator: the same program on every machine.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint64_t state_;
};

std::string Coordinate(Random& random) {
  std::string value = std::to_string(random.Below(400));
  if (random.Below(2) == 0) value += "." + std::to_string(random.Below(10));
  return value;
}

constexpr std::size_t kLongBlock = 200;

const char* const kCycles[] = {"G81", "G82", "G83", "G73", "G84"};

const char* const kComments[] = {
    "(SPOT DRILL ALL HOLES BEFORE THE PECK CYCLE, CHECK THE CLAMPS ON THE LEFT SIDE OF THE "
    "FIXTURE AND KEEP COOLANT ON; THE OPERATOR SHOULD VERIFY THE TOOL LENGTHS ON THE SETTER)",
    "(FLANGE PATTERN: TWELVE HOLES ON A PITCH CIRCLE OF EIGHTY MILLIMETRES, THEN FOUR "
    "TAPPED HOLES ON THE BOSS; DEBURR BY HAND AFTER THE PART COMES OFF THE PALLET)",
    "(MULTI-SPINDLE HEAD: SPINDLES ONE TO FOURTEEN ARE SELECTED BY THE MASK ON THE "
    "SAME BLOCK; A SPINDLE THAT IS NOT SELECTED STAYS RETRACTED FIVE INCHES ABOVE)",
};

// One block of the program, without its comment.
std::string PlainBlock(Random& random, std::size_t lineNumber) {
  std::string block = "N" + std::to_string(lineNumber * 10);
  const std::uint32_t kind = random.Below(100);
  if (kind < 3) {
    block += std::string(" ") + kCycles[random.Below(5)] + " X" + Coordinate(random) + " Y" +
             Coordinate(random) + " Z-5 R2 F100";
  } else if (kind < 60) {
    block += " X" + Coordinate(random) + " Y" + Coordinate(random);
  } else if (kind < 70) {
    block = "T" + std::to_string(1 + random.Below(16383)) + " M9";
  } else if (kind < 76) {
    block = "T" + std::to_string(1 + random.Below(20)) + " M6";
  } else if (kind < 82) {
    block = "G80";
  } else if (kind < 88) {
    block = "G0 Z" + Coordinate(random);
  } else if (kind < 92) {
    block = "M3 S" + std::to_string(500 + random.Below(3000));
  } else if (kind < 95) {
    block = random.Below(2) == 0 ? "G21" : "G20";
  } else if (kind < 96) {
    block = "G52 X" + Coordinate(random);
  } else {
    block = "(CHECK PART)";
  }
  return block;
}

}  // namespace

std::vector<std::string> GenerateProgram(BlockShape shape, std::size_t count) {
  Random random(20261208);
  std::vector<std::string> program;
  program.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string block = PlainBlock(random, i + 1);
    if (shape == BlockShape::kLong && block.size() < kLongBlock) {
      // Pad with a comment to 200 characters, closing it at the end.
      std::string comment = kComments[random.Below(3)];
      comment.resize(kLongBlock - block.size() - 2, ' ');
      block += " " + comment + ")";
    }
    program.push_back(std::move(block));
  }
  return program;
}

std::string TypicalTable() {
  std::string table = "# spindles of the multi-spindle head\n";
  for (int spindle = 301; spindle <= 314; ++spindle) table += std::to_string(spindle) + "\n";
  table += "# single tools\n";
  for (int tool = 1; tool <= 10; ++tool) table += std::to_string(tool) + "\n";
  table += "# canned cycles that start a drill block\n";
  table += "81 G81\n82 G82\n83 G83\n73 G73\n84 G84\n85 G85\n";
  return table;
}

std::string LargeTable(std::size_t lines) {
  std::string table = TypicalTable();
  const char* const kStems[] = {"G", "M", "P", "Q", "DWELL", "HOLE_", "CYCLE"};
  for (std::size_t i = 30; i < lines; ++i) {
    const std::string stem = kStems[i % 7];
    table += std::to_string(1000 + i) + " " + stem + std::to_string(1000 + i) + "\n";
  }
  return table;
}

}  // namespace ncdrill_bench
