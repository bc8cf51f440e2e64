// A plain re-statement of how ncdrill reads its table and interprets blocks,
// written for clarity rather than speed, against which the fuzz targets check
// the plug-in. The table is read with the standard stream's getline, as the
// file format is defined; blocks with the plainest searches.
#ifndef NCDRILL_FUZZ_MODEL_H
#define NCDRILL_FUZZ_MODEL_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ncdrill/ncdrill.h"

namespace ncdrill_model {

struct Entry {
  std::string name;
  std::int32_t number;
};

inline std::int32_t Clamp32(long long n) {
  if (n < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  if (n > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(n);
}

// The entries of a table file holding `bytes`.
inline std::vector<Entry> ReadTable(std::string_view bytes) {
  // A text stream ends at the first Ctrl-Z.
  bytes = bytes.substr(0, bytes.find('\x1A'));
  // A carriage return right before a line feed belongs to the line end.
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  std::istringstream in(text);
  std::vector<Entry> entries;
  char line[255];
  while (in.good()) {
    // Stores at most 254 characters and a NUL; a NUL byte among them ends
    // the line's text, so the line is read as a C string from here on.
    in.getline(line, sizeof line);
    if (line[0] == '\0' || line[0] == '#') continue;
    const long long number = std::strtoll(line, nullptr, 10);
    const char* name = line + std::strspn(line, " +,-.0123456789");
    entries.push_back(Entry{std::string(name), Clamp32(number)});
  }
  return entries;
}

inline std::int32_t FindSlot(const std::vector<Entry>& entries, std::int32_t request) {
  std::int32_t best = -1;
  for (const Entry& e : entries) {
    if (e.number >= 0 && e.number <= request && e.number > best) best = e.number;
  }
  return best;
}

// What one block does.
struct Outcome {
  bool result = false;
  bool drill = false;
  std::int32_t terminal = 0;      // the terminal record's number after the block
  std::vector<float> values;      // every table record's value after the block
  std::vector<Selection> handed;  // the Selections handed over by the drill block
};

class Interpreter {
 public:
  explicit Interpreter(std::vector<Entry> entries)
      : entries_(std::move(entries)), values_(entries_.size(), 0.0f) {}

  const std::vector<Entry>& entries() const { return entries_; }

  // `b`: the block as far as its length and its first NUL.
  Outcome Block(std::string_view b) {
    Outcome out;
    const std::size_t t = b.find('T');
    const std::size_t paren = b.find('(');
    if (t != std::string_view::npos && t + 1 < b.size() && IsDigit(b[t + 1]) &&
        (paren == std::string_view::npos || t < paren)) {
      std::size_t digits = t + 1;
      while (digits < b.size() && IsDigit(b[digits])) ++digits;
      const std::string number(b.substr(t + 1, digits - t - 1));
      const std::int32_t value = Clamp32(std::strtoll(number.c_str(), nullptr, 10));
      if (b.find("M9") != std::string_view::npos) {
        for (int bit = 0; bit < 14; ++bit) {
          if (value & (1 << bit)) Request(301 + bit);
        }
      } else {
        Request(value);
      }
      out.result = true;
    }
    if (b.find("G52") != std::string_view::npos) out.result = true;
    const std::size_t g2 = b.find("G2");
    if (g2 != std::string_view::npos && g2 + 2 < b.size() &&
        (b[g2 + 2] == '0' || b[g2 + 2] == '1') && !(g2 + 3 < b.size() && IsDigit(b[g2 + 3]))) {
      inch_ = b[g2 + 2] == '0';
    }
    for (const Entry& e : entries_) {
      if (e.name.empty()) continue;
      const std::size_t at = b.find(e.name);
      if (at == std::string_view::npos) continue;
      const std::size_t after = at + e.name.size();
      if (after < b.size() && std::strchr(".,-+0123456789", b[after]) != nullptr) continue;
      out.drill = true;
      terminal_ = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(e.number));
      for (std::size_t r = 0; r < entries_.size(); ++r) {
        bool marked = false;
        for (const Selection& s : selections_) {
          marked = marked || s.requested == entries_[r].number || s.slot == entries_[r].number;
        }
        values_[r] = marked ? 0.0f : inch_ ? 5.0f : 127.0f;
      }
      out.handed.swap(selections_);
      break;
    }
    out.terminal = terminal_;
    out.values = values_;
    return out;
  }

 private:
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  void Request(std::int32_t requested) {
    selections_.push_back(Selection{FindSlot(entries_, requested), requested});
  }

  std::vector<Entry> entries_;
  std::vector<float> values_;
  std::vector<Selection> selections_;
  std::int32_t terminal_ = 0;
  bool inch_ = false;
};

}  // namespace ncdrill_model

#endif
