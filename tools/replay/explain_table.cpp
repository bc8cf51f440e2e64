#include "explain_table.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "table/definition_table.h"

namespace ncdrill_replay {
namespace {

using ncdrill::LineKind;
using ncdrill::TableLine;

struct Counts {
  std::size_t lines = 0;
  std::size_t taken = 0;
  std::size_t triggers = 0;
  std::size_t comments = 0;
  std::size_t empty = 0;
};

// Remembers where each number and each name was first taken.
class Duplicates {
 public:
  // The line that took `number` first, or 0 when this is the first.
  std::size_t Number(std::int32_t number, std::size_t line) {
    return numbers_.emplace(number, line).first->second;
  }
  std::size_t Name(std::string_view name, std::size_t line) {
    if (name.empty()) return line;
    return names_.emplace(std::string(name), line).first->second;
  }

 private:
  std::map<std::int32_t, std::size_t> numbers_;
  std::map<std::string, std::size_t> names_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Number(std::size_t n) { return std::to_string(n); }

std::string Count(std::size_t n, const char* noun) {
  return Number(n) + " " + noun + (n == 1 ? "" : "s");
}

// Whether the line's number comes from digits: white space, a sign, then a
// digit, as the reader takes it.
bool StartsWithNumber(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t\v\f\r");
  if (i != std::string_view::npos && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

// Notes for the lines whose reading surprises people.
std::vector<std::string> Notes(std::string_view raw, std::string_view text, std::string_view name) {
  std::vector<std::string> notes;
  if (text.size() < raw.size()) {
    notes.push_back("a NUL byte ends the line at column " + Number(text.size() + 1));
  }
  std::size_t lead = 0;
  while (lead < text.size() && IsBlank(text[lead])) ++lead;
  if (lead > 0 && lead < text.size() && text[lead] == '#') {
    notes.push_back("not a comment: '#' counts only in column 1");
  }
  if (!StartsWithNumber(text)) notes.push_back("no digits at the start: the number is 0");
  if (!name.empty() && name[0] == '\t') {
    notes.push_back("the name starts at a tab: only blanks, digits and + , - . come before a name");
  }
  if (!name.empty() && IsBlank(name.back())) {
    notes.push_back("the name ends with a blank: it triggers only where one follows it");
  }
  if (name.find('\r') != std::string_view::npos) {
    notes.push_back("the name holds a carriage return");
  }
  return notes;
}

class Explainer {
 public:
  Explainer(std::string_view path, std::FILE* out) : path_(path), out_(out) {}

  void Line(const TableLine& line) {
    Header();
    ++counts_.lines;
    switch (ncdrill::ClassifyLine(line.text)) {
      case LineKind::kComment:
        ++counts_.comments;
        Write(line, "comment ", ncdrill::TextBeforeNul(line.text), {});
        break;
      case LineKind::kEmpty:
        ++counts_.empty;
        Write(line, "empty", {}, {});
        break;
      case LineKind::kTaken:
        Taken(line);
        break;
    }
  }

  // Where the reading ended, when a Ctrl-Z ended it: shown as a line of its
  // own, because the Ctrl-Z's line may hold nothing else.
  void End(const ncdrill::TableEnd& end) {
    end_ = end;
    if (end.kind != ncdrill::TableEnd::kEndOfText) return;
    Header();
    std::string text = Number(end.line);
    text.insert(0, text.size() < 5 ? 5 - text.size() : 0, ' ');
    text += "  end      Ctrl-Z at column " + Number(end.column) +
            ": the file ends here, nothing after it is read";
    std::fprintf(out_, "%s\n", text.c_str());
  }

  void Summary() {
    Header();
    std::string text = Count(counts_.lines, "line") + ": " + Number(counts_.taken) + " taken (" +
                       Number(counts_.triggers) + " with a name), " +
                       Count(counts_.comments, "comment") + ", " + Number(counts_.empty) +
                       " empty; ";
    switch (end_.kind) {
      case ncdrill::TableEnd::kOverLong:
        text += "reading stopped at line " + Number(end_.line) + ", which is longer than " +
                Number(ncdrill::kMaxTableLine) + " characters: the lines after it are not read";
        break;
      case ncdrill::TableEnd::kEndOfText:
        text += "a Ctrl-Z ended the file at line " + Number(end_.line) + ", column " +
                Number(end_.column) + ": nothing after it is read";
        break;
      case ncdrill::TableEnd::kReadError:
        text += "a read failed after line " + Number(counts_.lines) +
                ": the plug-in takes the lines before it";
        break;
      case ncdrill::TableEnd::kEndOfFile:
        text += "read to the end";
        break;
    }
    std::fprintf(out_, "%s\n", text.c_str());
  }

 private:
  void Header() {
    if (headerDone_) return;
    std::fprintf(out_, "table: %.*s\n", static_cast<int>(path_.size()), path_.data());
    headerDone_ = true;
  }

  void Taken(const TableLine& line) {
    const std::string_view text = ncdrill::TextBeforeNul(line.text);
    const std::int32_t number = ncdrill::ParseLineNumber(text);
    const std::string_view name = ncdrill::ParseLineName(text);
    ++counts_.taken;
    std::string what = "\"" + Visible(line.text) + "\" -> number " + std::to_string(number);
    what += name.empty() ? ", no name" : ", name \"" + Visible(name) + "\"";
    std::vector<std::string> notes = Notes(line.text, text, name);
    const std::size_t numberFirst = duplicates_.Number(number, line.lineNumber);
    if (numberFirst != line.lineNumber) {
      notes.push_back("duplicate number: also on line " + Number(numberFirst));
    }
    const std::size_t nameFirst = duplicates_.Name(name, line.lineNumber);
    if (nameFirst != line.lineNumber) {
      notes.push_back("duplicate name: line " + Number(nameFirst) +
                      " triggers first, so this line never does");
    }
    if (!name.empty()) ++counts_.triggers;
    Write(line, "taken   ", what, notes);
  }

  void Write(const TableLine& line, const char* kind, std::string_view what,
             const std::vector<std::string>& notes) {
    std::string text = Number(line.lineNumber);
    text.insert(0, text.size() < 5 ? 5 - text.size() : 0, ' ');
    text += "  ";
    text += kind;
    if (!what.empty()) {
      text += ' ';
      text += what;
    }
    for (const std::string& note : notes) text += "\n         ! " + note;
    if (line.overLong) {
      text += "\n         ! longer than " + Number(ncdrill::kMaxTableLine) +
              " characters: these are its first " + Number(ncdrill::kMaxTableLine) +
              ", and reading stops here";
    }
    std::fprintf(out_, "%s\n", text.c_str());
  }

  std::string_view path_;
  std::FILE* out_;
  bool headerDone_ = false;
  Counts counts_;
  ncdrill::TableEnd end_;
  Duplicates duplicates_;
};

}  // namespace

std::string Visible(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == ' ') {
      out += "\u00B7";
    } else if (c == '\t') {
      out += "\u2192";
    } else if (c == '\r') {
      out += "\u240D";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool ExplainTable(const std::string& path, std::FILE* out, std::string& error) {
  errno = 0;
  ncdrill::platform::InputFile file(ncdrill::platform::NativePathFrom8Bit(path));
  if (!file.IsOpen()) {
    error = "cannot open the table " + path + ": " + std::strerror(errno) +
            " (the plug-in would run with an empty table)";
    return false;
  }
  Explainer explainer(path, out);
  const ncdrill::TableEnd end = ncdrill::ForEachTableLine(
      file, [&explainer](const TableLine& line) { explainer.Line(line); });
  explainer.End(end);
  explainer.Summary();
  return true;
}

}  // namespace ncdrill_replay
