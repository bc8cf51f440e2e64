// How ncdrill takes every line of a definition table file, through the
// plug-in's own table reader (the boundary exposes no names): for
// --explain-table, and for the table findings of --lint.
#ifndef NCDRILL_TOOLS_REPLAY_EXPLAIN_TABLE_H
#define NCDRILL_TOOLS_REPLAY_EXPLAIN_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "table/definition_table.h"

namespace ncdrill_replay {

// Something about a table line that surprises people.
struct TableNote {
  const char* kind;    // e.g. "trailing-blank"
  bool lint;           // a finding of --lint; the others are only explained
  std::size_t column;  // 1-based byte column in the line
  std::string message;
};

// A line of the table as the reader took it.
struct ReviewedLine {
  const ncdrill::TableLine& line;
  ncdrill::LineKind kind;
  std::string_view text;  // before its first NUL
  std::int32_t number;    // of a taken line
  std::string_view name;  // of a taken line
  std::vector<TableNote> notes;
};

struct TableReview {
  bool opened;            // false: the file cannot be opened, and no line was read
  ncdrill::TableEnd end;  // why the reading stopped
};

// Reads the table file at `path` as the plug-in does, and calls `onLine`
// for each of its lines.
TableReview ReviewTable(const std::string& path,
                        const std::function<void(const ReviewedLine&)>& onLine);

// Writes one line per table line to `out`, then a summary. Returns false,
// with `error` set, when the file cannot be opened.
bool ExplainTable(const std::string& path, std::FILE* out, std::string& error);

// A table text with its blanks (·), tabs (→) and carriage returns (␍) made
// visible; other control bytes, bytes from 0x80 up and '\' are written as
// \xNN and \\ so that a visible mark is never ambiguous.
std::string Visible(std::string_view text);

}  // namespace ncdrill_replay

#endif
