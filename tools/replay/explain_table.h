// --explain-table: how ncdrill takes every line of a definition table file,
// through the plug-in's own table reader (the boundary exposes no names).
#ifndef NCDRILL_TOOLS_REPLAY_EXPLAIN_TABLE_H
#define NCDRILL_TOOLS_REPLAY_EXPLAIN_TABLE_H

#include <cstdio>
#include <string>
#include <string_view>

namespace ncdrill_replay {

// Writes one line per table line to `out`, then a summary. Returns false,
// with `error` set, when the file cannot be opened.
bool ExplainTable(const std::string& path, std::FILE* out, std::string& error);

// A table text with its blanks (·), tabs (→) and carriage returns (␍) made
// visible; other control bytes, bytes from 0x80 up and '\' are written as
// \xNN and \\ so that a visible mark is never ambiguous.
std::string Visible(std::string_view text);

}  // namespace ncdrill_replay

#endif
