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

// Where the name starts in the line, 1-based.
std::size_t NameColumn(std::string_view text, std::string_view name) {
  return text.size() - name.size() + 1;
}

// Notes on the line as a whole, and on its name.
std::vector<TableNote> Notes(std::string_view raw, std::string_view text, std::string_view name) {
  std::vector<TableNote> notes;
  if (text.size() < raw.size()) {
    notes.push_back({"nul-in-line", true, text.size() + 1,
                     "a NUL byte ends the line at column " + Number(text.size() + 1)});
  }
  std::size_t lead = 0;
  while (lead < text.size() && IsBlank(text[lead])) ++lead;
  if (lead > 0 && lead < text.size() && text[lead] == '#') {
    notes.push_back(
        {"hash-not-in-column-1", true, lead + 1, "not a comment: '#' counts only in column 1"});
  }
  if (!StartsWithNumber(text)) {
    notes.push_back({"no-number", false, 1, "no digits at the start: the number is 0"});
  }
  if (!name.empty() && name[0] == '\t') {
    notes.push_back({"name-starts-at-tab", true, NameColumn(text, name),
                     "the name starts at a tab: only blanks, digits and + , - . come before a "
                     "name"});
  }
  if (!name.empty() && IsBlank(name.back())) {
    const std::size_t lastInk = name.find_last_not_of(" \t");
    const std::size_t blanks = lastInk == std::string_view::npos ? 0 : lastInk + 1;
    notes.push_back({"trailing-blank", true, NameColumn(text, name) + blanks,
                     "the name ends with a blank: it triggers only where one follows it"});
  }
  const std::size_t cr = name.find('\r');
  if (cr != std::string_view::npos) {
    notes.push_back({"carriage-return-in-name", true, NameColumn(text, name) + cr,
                     "the name holds a carriage return"});
  }
  return notes;
}

class Explainer {
 public:
  Explainer(std::string_view path, std::FILE* out) : path_(path), out_(out) {}

  void Line(const ReviewedLine& reviewed) {
    Header();
    const TableLine& line = reviewed.line;
    ++counts_.lines;
    switch (reviewed.kind) {
      case LineKind::kComment:
        ++counts_.comments;
        Write(line, "comment ", reviewed.text, reviewed.notes);
        break;
      case LineKind::kEmpty:
        ++counts_.empty;
        Write(line, "empty", {}, reviewed.notes);
        break;
      case LineKind::kTaken: {
        ++counts_.taken;
        if (!reviewed.name.empty()) ++counts_.triggers;
        std::string what =
            "\"" + Visible(line.text) + "\" -> number " + std::to_string(reviewed.number);
        what += reviewed.name.empty() ? ", no name" : ", name \"" + Visible(reviewed.name) + "\"";
        Write(line, "taken   ", what, reviewed.notes);
        break;
      }
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

  void Write(const TableLine& line, const char* kind, std::string_view what,
             const std::vector<TableNote>& notes) {
    std::string text = Number(line.lineNumber);
    text.insert(0, text.size() < 5 ? 5 - text.size() : 0, ' ');
    text += "  ";
    text += kind;
    if (!what.empty()) {
      text += ' ';
      text += what;
    }
    for (const TableNote& note : notes) text += "\n         ! " + note.message;
    std::fprintf(out_, "%s\n", text.c_str());
  }

  std::string_view path_;
  std::FILE* out_;
  bool headerDone_ = false;
  Counts counts_;
  ncdrill::TableEnd end_;
};

// Notes that need the lines before: duplicates.
class Reviewer {
 public:
  void Review(const TableLine& line, const std::function<void(const ReviewedLine&)>& onLine) {
    ReviewedLine reviewed{
        line, ncdrill::ClassifyLine(line.text), ncdrill::TextBeforeNul(line.text), 0, {}, {}};
    if (reviewed.kind == LineKind::kTaken) {
      reviewed.number = ncdrill::ParseLineNumber(reviewed.text);
      reviewed.name = ncdrill::ParseLineName(reviewed.text);
      reviewed.notes = Notes(line.text, reviewed.text, reviewed.name);
      AddDuplicates(reviewed);
    }
    if (line.overLong) {
      reviewed.notes.push_back({"long-line", true, ncdrill::kMaxTableLine + 1,
                                "longer than " + Number(ncdrill::kMaxTableLine) +
                                    " characters: these are its first " +
                                    Number(ncdrill::kMaxTableLine) + ", and reading stops here"});
    }
    onLine(reviewed);
  }

 private:
  void AddDuplicates(ReviewedLine& reviewed) {
    const std::size_t lineNumber = reviewed.line.lineNumber;
    const std::size_t numberFirst = duplicates_.Number(reviewed.number, lineNumber);
    if (numberFirst != lineNumber) {
      reviewed.notes.push_back(
          {"duplicate-number", false, 1, "duplicate number: also on line " + Number(numberFirst)});
    }
    const std::size_t nameFirst = duplicates_.Name(reviewed.name, lineNumber);
    if (nameFirst != lineNumber) {
      reviewed.notes.push_back({"duplicate-name", true, NameColumn(reviewed.text, reviewed.name),
                                "duplicate name: line " + Number(nameFirst) +
                                    " triggers first, so this line never does"});
    }
  }

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

TableReview ReviewTable(const std::string& path,
                        const std::function<void(const ReviewedLine&)>& onLine) {
  ncdrill::platform::InputFile file(ncdrill::platform::NativePathFrom8Bit(path));
  if (!file.IsOpen()) return TableReview{false, {}};
  Reviewer reviewer;
  const ncdrill::TableEnd end = ncdrill::ForEachTableLine(
      file, [&reviewer, &onLine](const TableLine& line) { reviewer.Review(line, onLine); });
  return TableReview{true, end};
}

bool ExplainTable(const std::string& path, std::FILE* out, std::string& error) {
  Explainer explainer(path, out);
  errno = 0;
  const TableReview review =
      ReviewTable(path, [&explainer](const ReviewedLine& line) { explainer.Line(line); });
  if (!review.opened) {
    error = "cannot open the table " + path + ": " + std::strerror(errno) +
            " (the plug-in would run with an empty table)";
    return false;
  }
  explainer.End(review.end);
  explainer.Summary();
  return true;
}

}  // namespace ncdrill_replay
