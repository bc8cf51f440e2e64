#include "report.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

namespace ncdrill_replay {
namespace {

using Json = nlohmann::ordered_json;

// Integers through to_chars: no locale, no allocation beyond the line.
template <typename Int>
void AppendInt(std::string& out, Int value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

bool IsWhole(float value) { return value == std::trunc(value) && std::fabs(value) < 1e9f; }

// A record value: whole numbers (the usual 0, 5 and 127) as integers, any
// other value with enough digits to read back to the same float.
void AppendFloat(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out += "null";
  } else if (IsWhole(value)) {
    AppendInt(out, static_cast<std::int64_t>(value));
  } else {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    out += text;
  }
}

Json FloatJson(float value) {
  if (!std::isfinite(value)) return nullptr;
  if (IsWhole(value)) return static_cast<std::int64_t>(value);
  return static_cast<double>(value);
}

void AppendFixed(std::string& out, double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  out += text;
}

double BlocksPerSecond(const RunSummary& summary) {
  return summary.seconds > 0.0 ? static_cast<double>(summary.blocks) / summary.seconds : 0.0;
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

void AppendHexByte(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

// Block text for a terminal: control characters as \xNN, the rest as it is.
void AppendShown(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (IsControl(static_cast<unsigned char>(c))) {
      AppendHexByte(out, static_cast<unsigned char>(c));
    } else {
      out += c;
    }
  }
}

// The line of a finding, and the caret line under its byte `column`. Tabs
// before the column are copied, so that the caret moves with them; any
// other character takes the cells it is shown in: one for a UTF-8
// character, four for a byte shown as \xNN.
void AppendWithCaret(std::string& shown, std::string& caret, std::string_view text,
                     std::size_t column) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool beforeColumn = at + 1 < column;
    std::size_t length = byte >= 0x80 ? Utf8SequenceLength(text.substr(at)) : 1;
    if (byte == '\t') {
      shown += '\t';
      if (beforeColumn) caret += '\t';
    } else if (IsControl(byte) || length == 0) {
      AppendHexByte(shown, byte);
      if (beforeColumn) caret += "    ";
      length = 1;
    } else {
      shown.append(text.data() + at, length);
      if (beforeColumn) caret += ' ';
    }
    at += length;
  }
}

const char* SeverityName(Severity severity) {
  return severity == Severity::kWarning ? "warning" : "note";
}

class Colours {
 public:
  explicit Colours(bool on) : on_(on) {}
  const char* Bold() const { return on_ ? "\033[1m" : ""; }
  const char* Of(Severity severity) const {
    if (!on_) return "";
    return severity == Severity::kWarning ? "\033[1;35m" : "\033[1;36m";
  }
  const char* Caret() const { return on_ ? "\033[1;32m" : ""; }
  const char* Reset() const { return on_ ? "\033[0m" : ""; }

 private:
  bool on_;
};

// "FILE:LINE:COLUMN:" as compilers write it, leaving out what is 0.
std::string Location(const std::string& file, std::size_t line, std::size_t column) {
  std::string out = file;
  if (line > 0) out += ":" + std::to_string(line);
  if (line > 0 && column > 0) out += ":" + std::to_string(column);
  return out + ":";
}

// --- text ---

void AppendText(std::string& out, const DefinitionEvent& event, const Colours&) {
  out += "definition path: ";
  AppendShown(out, event.path);
  out += '\n';
}

void AppendText(std::string& out, const DrillEvent& event, const Colours&) {
  out += "line ";
  AppendInt(out, event.line);
  out += ": ";
  AppendShown(out, event.text);
  out += "\n  trigger: ";
  AppendInt(out, event.trigger);
  out += "\n  chain:";
  for (const ChainEntry& record : event.chain) {
    out += ' ';
    AppendInt(out, record.number);
    out += '=';
    AppendFloat(out, record.value);
  }
  out += "\n  selections:";
  for (std::size_t i = 0; i < event.selections.size(); ++i) {
    out += i == 0 ? " (" : ", (";
    AppendInt(out, event.selections[i].slot);
    out += ", ";
    AppendInt(out, event.selections[i].requested);
    out += ')';
  }
  if (event.selections.empty()) out += " none";
  out += '\n';
}

void AppendText(std::string& out, const RunSummary& event, const Colours&) {
  out += "summary: ";
  AppendInt(out, event.blocks);
  out += " blocks, ";
  AppendInt(out, event.returnedTrue);
  out += " returned true, ";
  AppendInt(out, event.requestsAccepted);
  out += " requests accepted, ";
  AppendInt(out, event.drillBlocks);
  out += " drill blocks, ";
  AppendFixed(out, event.seconds, 3);
  out += " s, ";
  AppendFixed(out, BlocksPerSecond(event), 0);
  out += " blocks/s\n";
}

void AppendText(std::string& out, const Finding& event, const Colours& colours) {
  out += colours.Bold();
  out += Location(event.file, event.line, event.column);
  out += colours.Reset();
  out += ' ';
  out += colours.Of(event.severity);
  out += SeverityName(event.severity);
  out += ':';
  out += colours.Reset();
  out += ' ' + event.message + " [" + event.kind + "]\n";
  if (event.line == 0) return;
  std::string caret;
  AppendWithCaret(out, caret, event.text, event.column);
  out += '\n';
  if (event.column == 0) return;
  out += caret;
  out += colours.Caret();
  out += '^';
  out += colours.Reset();
  out += '\n';
}

void AppendText(std::string& out, const Explanation& event, const Colours& colours) {
  out += colours.Bold();
  out += Location(event.file, event.line, 0);
  out += colours.Reset();
  out += ' ';
  AppendShown(out, event.text);
  out += '\n';
  for (const Decision& decision : event.decisions) {
    out += "  ";
    if (decision.column > 0) out += "column " + std::to_string(decision.column) + ": ";
    out += decision.message + '\n';
  }
}

std::string Plural(std::uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

void AppendText(std::string& out, const ExamineSummary& event, const Colours&) {
  out += "summary: " + Plural(event.programs, "program") + ", " + Plural(event.blocks, "block");
  if (!event.lint) {
    out += ", " + std::to_string(event.explained) + " explained\n";
    return;
  }
  out += ": " + Plural(event.warnings, "warning") + ", " + Plural(event.notes, "note");
  const char* separator = " (";
  for (const auto& [kind, count] : event.kinds) {
    out += separator + kind + " " + std::to_string(count);
    separator = ", ";
  }
  out += event.kinds.empty() ? "\n" : ")\n";
}

// --- JSON ---

Json ToJson(const DefinitionEvent& event) {
  return Json{{"event", "definition"}, {"path", AsUtf8(event.path)}};
}

// Sets the elements of a JSON array to `items`, reusing the elements it
// has: a long replay writes many drill blocks of the same shape, and
// rebuilding each from scratch would spend most of the run allocating.
template <typename Item, typename SetElement>
void AssignArray(Json& array, const std::vector<Item>& items, SetElement&& setElement) {
  while (array.size() > items.size()) array.erase(array.size() - 1);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i == array.size()) array.push_back(Json::object());
    setElement(array[i], items[i]);
  }
}

// Fills `json`, which may hold an earlier drill event, with `event`.
void AssignJson(Json& json, const DrillEvent& event) {
  json["event"] = "drill";
  json["line"] = event.line;
  json["text"] = AsUtf8(event.text);
  json["trigger"] = event.trigger;
  AssignArray(json["chain"], event.chain, [](Json& element, const ChainEntry& record) {
    element["number"] = record.number;
    element["value"] = FloatJson(record.value);
  });
  AssignArray(json["selections"], event.selections, [](Json& element, const Selection& s) {
    element["slot"] = s.slot;
    element["requested"] = s.requested;
  });
}

Json ToJson(const RunSummary& event) {
  return Json{{"event", "summary"},
              {"blocks", event.blocks},
              {"returnedTrue", event.returnedTrue},
              {"requestsAccepted", event.requestsAccepted},
              {"drillBlocks", event.drillBlocks},
              {"seconds", event.seconds},
              {"blocksPerSecond", std::llround(BlocksPerSecond(event))}};
}

Json ToJson(const Finding& event) {
  return Json{{"event", "finding"},
              {"file", AsUtf8(event.file)},
              {"line", event.line},
              {"column", event.column},
              {"severity", SeverityName(event.severity)},
              {"kind", event.kind},
              {"message", AsUtf8(event.message)},
              {"text", AsUtf8(event.text)}};
}

Json ToJson(const Explanation& event) {
  Json decisions = Json::array();
  for (const Decision& decision : event.decisions) {
    decisions.push_back(Json{{"what", decision.what},
                             {"column", decision.column},
                             {"message", AsUtf8(decision.message)}});
  }
  return Json{{"event", "explain"},         {"file", AsUtf8(event.file)}, {"line", event.line},
              {"text", AsUtf8(event.text)}, {"result", event.result},     {"decisions", decisions}};
}

Json ToJson(const ExamineSummary& event) {
  Json summary{{"event", "summary"},
               {"programs", event.programs},
               {"blocks", event.blocks},
               {"explained", event.explained}};
  if (event.lint) {
    summary["warnings"] = event.warnings;
    summary["notes"] = event.notes;
    summary["kinds"] = event.kinds;
  }
  return summary;
}

class EventReporter final : public Reporter {
 public:
  EventReporter(EventWriter& writer, bool quiet) : writer_(writer), quiet_(quiet) {}

  void DefinitionPath(std::string_view path) override {
    if (!quiet_) writer_.Write(DefinitionEvent{std::string(path)});
  }
  void DrillBlock(const DrillBlockView& drill) override {
    if (quiet_) return;
    CopyDrillBlock(drill, drill_);
    writer_.Write(drill_);
  }
  void Summary(const RunSummary& summary) override { writer_.Write(summary); }

 private:
  EventWriter& writer_;
  bool quiet_;
  DrillEvent drill_;  // reused, so that its vectors keep their memory
};

}  // namespace

struct EventWriter::DrillJson {
  Json json = Json::object();
};

EventWriter::EventWriter(Format format, bool colour, std::FILE* out)
    : format_(format), colour_(colour), out_(out), drillJson_(std::make_unique<DrillJson>()) {
  buffer_.reserve(4096);
}

EventWriter::~EventWriter() = default;

template <typename Event>
void EventWriter::Emit(const Event& event) {
  buffer_.clear();
  if (format_ == Format::kJson) {
    buffer_ = ToJson(event).dump();
    buffer_ += '\n';
  } else {
    AppendText(buffer_, event, Colours(colour_));
  }
  std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
}

void EventWriter::Write(const DefinitionEvent& event) { Emit(event); }

void EventWriter::Write(const DrillEvent& event) {
  buffer_.clear();
  if (format_ == Format::kJson) {
    AssignJson(drillJson_->json, event);
    buffer_ = drillJson_->json.dump();
    buffer_ += '\n';
  } else {
    AppendText(buffer_, event, Colours(colour_));
  }
  std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
}

void EventWriter::Write(const RunSummary& event) { Emit(event); }
void EventWriter::Write(const Finding& event) { Emit(event); }
void EventWriter::Write(const Explanation& event) { Emit(event); }
void EventWriter::Write(const ExamineSummary& event) { Emit(event); }

void CopyDrillBlock(const DrillBlockView& view, DrillEvent& event) {
  event.line = view.lineNumber;
  event.text.assign(view.text.data(), view.text.size());
  const std::int32_t terminal = view.drill.terminalNumber();
  // The terminal record holds minus the trigger's number, wrapping.
  event.trigger = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(terminal));
  event.chain.clear();
  for (const ChainRecord& r : view.drill.records()) {
    event.chain.push_back(ChainEntry{r.number, r.value});
  }
  event.chain.push_back(ChainEntry{terminal, 0.0f});  // the terminal record's value is always 0
  const auto selections = view.drill.selections();
  event.selections.assign(selections.begin(), selections.end());
}

std::unique_ptr<Reporter> MakeReporter(EventWriter& writer, bool quiet) {
  return std::make_unique<EventReporter>(writer, quiet);
}

std::size_t Utf8SequenceLength(std::string_view text) noexcept {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string AsUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    std::size_t length = byte >= 0x80 ? Utf8SequenceLength(text) : 1;
    if (length == 0) {
      // The byte as the Latin-1 character U+0080 to U+00FF.
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
      length = 1;
    } else {
      out.append(text.data(), length);
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace ncdrill_replay
