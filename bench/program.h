// Deterministic, realistic part programs and definition tables for the
// benchmarks.
#ifndef NCDRILL_BENCH_PROGRAM_H
#define NCDRILL_BENCH_PROGRAM_H

#include <cstddef>
#include <string>
#include <vector>

namespace ncdrill_bench {

enum class BlockShape {
  kTypical,  // short blocks, about 13 characters on average
  kLong,     // about 200 characters: the same blocks with long comments
};

// `count` blocks of a drilling program: N numbers, canned cycles that
// trigger drill blocks in a few percent of the blocks, plain moves, "M9"
// masks, tool changes, comments, G80, G20/G21 and an occasional G52.
std::vector<std::string> GenerateProgram(BlockShape shape, std::size_t count);

// A table of about 30 lines: spindles 301-314, some tools and the
// canned-cycle triggers.
std::string TypicalTable();

// The typical table followed by extra lines up to `lines` lines, whose names
// rarely or never occur in the program.
std::string LargeTable(std::size_t lines);

}  // namespace ncdrill_bench

#endif
