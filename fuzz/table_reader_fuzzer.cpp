// Fuzz target: the definition table reader on arbitrary file bytes.
//
// The input is the whole table file. The reader's entries must equal those of
// the getline-based model; the line reader must keep its limits; and the
// loaded table must link its chain and resolve requests like the model.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "model.h"
#include "table/definition_table.h"

using ncdrill_fuzz::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ncdrill_fuzz::ScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ncdrill_fuzz::WriteScratchFile("table.txt", bytes);
  const std::string path = ncdrill_fuzz::ScratchFolder() + "table.txt";

  const std::vector<ncdrill_model::Entry> want = ncdrill_model::ReadTable(bytes);
  const std::vector<ncdrill::TableEntry> got = ncdrill::ReadTableEntries(path.c_str());
  Check(got.size() == want.size(), "entry count differs from the model");
  for (std::size_t i = 0; i < got.size(); ++i) {
    Check(got[i].number == want[i].number, "entry number differs from the model");
    Check(got[i].name == want[i].name, "entry name differs from the model");
  }

  std::size_t lines = 0;
  bool stopped = false;
  ncdrill::platform::InputFile file(path);
  const ncdrill::TableEnd end =
      ncdrill::ForEachTableLine(file, [&](const ncdrill::TableLine& line) {
        Check(!stopped, "a line came after an over-long one");
        Check(line.text.size() <= ncdrill::kMaxTableLine, "a line is longer than the limit");
        Check(line.text.find(ncdrill::kEndOfText) == std::string_view::npos,
              "a line holds a Ctrl-Z");
        Check(line.lineNumber == ++lines, "line numbers do not count up from 1");
        stopped = line.overLong;
      });
  Check(end.kind != ncdrill::TableEnd::kReadError, "a read of the scratch file failed");
  Check(stopped == (end.kind == ncdrill::TableEnd::kOverLong), "an over-long line must end it");
  if (end.kind == ncdrill::TableEnd::kEndOfText) {
    Check(end.line >= lines && end.line <= lines + 1 && end.column >= 1,
          "the Ctrl-Z is placed on the last line or the one after it");
  }

  ncdrill::DefinitionTable table;
  table.Load(path.c_str());
  Check(table.records().size() == want.size(), "one record per entry");
  const ChainRecord* record = table.firstRecord();
  for (const ncdrill_model::Entry& entry : want) {
    Check(record != nullptr && record != &table.terminalRecord(), "the chain ends early");
    Check(record->number == entry.number && record->value == 0.0f, "record differs");
    record = record->next;
  }
  Check(record == &table.terminalRecord() && record->next == nullptr && record->number == 0,
        "the chain does not end at the terminal record");

  std::vector<std::int32_t> requests = {-1, 0, 1, 301, INT32_MAX, INT32_MIN};
  for (std::size_t i = 0; i < want.size() && i < 64; ++i) {
    const ncdrill_model::Entry& entry = want[i];
    requests.push_back(entry.number);
    if (entry.number > INT32_MIN) requests.push_back(entry.number - 1);
    if (entry.number < INT32_MAX) requests.push_back(entry.number + 1);
  }
  for (const std::int32_t request : requests) {
    Check(table.FindSlot(request) == ncdrill_model::FindSlot(want, request),
          "FindSlot differs from the model");
  }
  return 0;
}
