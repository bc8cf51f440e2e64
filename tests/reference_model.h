// A plain model of what InterpretBlock does, written straight from its rules
// with one substring search per rule and per entry: slow, but easy to check
// by reading. The differential tests hold the plug-in to it.
#ifndef NCDRILL_TESTS_REFERENCE_MODEL_H
#define NCDRILL_TESTS_REFERENCE_MODEL_H

#include <cstdint>
#include <string_view>
#include <vector>

#include "ncdrill/ncdrill.h"
#include "table/definition_table.h"

namespace ncdrill_test {

class ReferenceModel {
 public:
  explicit ReferenceModel(std::vector<ncdrill::TableEntry> entries);

  struct Outcome {
    bool result = false;
    bool drillBlock = false;
    std::int32_t terminal = 0;          // at a drill block
    std::vector<float> values;          // at a drill block, one per record
    std::vector<Selection> selections;  // handed over at a drill block
  };

  // `block` is the host's `length` characters.
  Outcome Interpret(std::string_view block);

  std::int32_t FindSlot(std::int32_t request) const;

 private:
  std::vector<ncdrill::TableEntry> entries_;
  std::vector<Selection> selections_;
  bool unitsInch_ = false;
};

}  // namespace ncdrill_test

#endif
