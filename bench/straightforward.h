// The straightforward search, the benchmark's yardstick: the block rules done
// the plain way. Each block is copied, every code and every table name gets a
// substring search of its own in table order, and each request is resolved by
// walking the records. It hands a drill block to the same host callbacks as
// the plug-in does.
#ifndef NCDRILL_BENCH_STRAIGHTFORWARD_H
#define NCDRILL_BENCH_STRAIGHTFORWARD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ncdrill/ncdrill.h"

namespace ncdrill_bench {

class StraightforwardSearch {
 public:
  // `table`: the bytes of a table file.
  StraightforwardSearch(const std::string& table, const HostCallbacks* host);
  StraightforwardSearch(const StraightforwardSearch&) = delete;
  StraightforwardSearch& operator=(const StraightforwardSearch&) = delete;

  bool InterpretBlock(const char* text, std::int32_t length);
  std::size_t recordCount() const { return records_.size(); }

 private:
  struct Entry {
    std::string name;
    std::int32_t number;
  };

  std::int32_t FindSlot(std::int32_t request) const;
  void Request(std::int32_t requested);
  void DeliverDrillBlock(std::int32_t number);

  const HostCallbacks* host_;
  std::vector<Entry> entries_;
  std::vector<ChainRecord> records_;
  ChainRecord terminal_{0, 0.0f, nullptr};
  std::vector<Selection> selections_;
  std::vector<SelectionNode> nodes_;  // the list handed over: the Selections, linked
  SelectionNode sentinel_{};
  SelectionList list_{};
  bool inch_ = false;
};

}  // namespace ncdrill_bench

#endif
