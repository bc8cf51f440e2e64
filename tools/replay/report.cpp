#include "report.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace ncdrill_replay {
namespace {

// Integers through to_chars: no locale, no allocation beyond the line.
template <typename Int>
void AppendInt(std::string& out, Int value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// A record value: whole numbers (the usual 0, 5 and 127) as integers, any
// other value with enough digits to read back to the same float.
void AppendFloat(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (value == std::trunc(value) && std::fabs(value) < 1e9f) {
    AppendInt(out, static_cast<std::int64_t>(value));
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  out += text;
}

void AppendFixed(std::string& out, double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  out += text;
}

double BlocksPerSecond(const RunSummary& summary) {
  return summary.seconds > 0.0 ? static_cast<double>(summary.blocks) / summary.seconds : 0.0;
}

// Block text for a terminal: control characters as \xNN, the rest as it is.
void AppendShown(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
}

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
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

void AppendJsonEscape(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  switch (byte) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (byte < 0x20 || byte >= 0x7F) {
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  } else {
    out += static_cast<char>(byte);
  }
}

class Writer {
 public:
  explicit Writer(std::FILE* out) : out_(out) { line_.reserve(4096); }
  std::string& line() { return line_; }
  void EndLine() {
    line_ += '\n';
    std::fwrite(line_.data(), 1, line_.size(), out_);
    line_.clear();
  }

 private:
  std::FILE* out_;
  std::string line_;
};

class TextReporter final : public Reporter {
 public:
  TextReporter(bool quiet, std::FILE* out) : quiet_(quiet), writer_(out) {}

  void DefinitionPath(std::string_view path) override {
    if (quiet_) return;
    std::string& line = writer_.line();
    line += "definition path: ";
    AppendShown(line, path);
    writer_.EndLine();
  }

  void DrillBlock(const DrillBlockView& drill) override {
    if (quiet_) return;
    std::string& line = writer_.line();
    line += "line ";
    AppendInt(line, drill.lineNumber);
    line += ": ";
    AppendShown(line, drill.text);
    writer_.EndLine();
    line += "  trigger: ";
    AppendInt(line, drill.trigger);
    writer_.EndLine();
    line += "  chain:";
    for (const ChainRecord* r = drill.chain; r != nullptr; r = r->next) {
      line += ' ';
      AppendInt(line, r->number);
      line += '=';
      AppendFloat(line, r->value);
    }
    writer_.EndLine();
    line += "  selections:";
    bool any = false;
    ForEachSelection(drill.selections, [&line, &any](const Selection& s) {
      line += any ? ", (" : " (";
      AppendInt(line, s.slot);
      line += ", ";
      AppendInt(line, s.requested);
      line += ')';
      any = true;
    });
    if (!any) line += " none";
    writer_.EndLine();
  }

  void Summary(const RunSummary& summary) override {
    std::string& line = writer_.line();
    line += "summary: ";
    AppendInt(line, summary.blocks);
    line += " blocks, ";
    AppendInt(line, summary.returnedTrue);
    line += " returned true, ";
    AppendInt(line, summary.requestsAccepted);
    line += " requests accepted, ";
    AppendInt(line, summary.drillBlocks);
    line += " drill blocks, ";
    AppendFixed(line, summary.seconds, 3);
    line += " s, ";
    AppendFixed(line, BlocksPerSecond(summary), 0);
    line += " blocks/s";
    writer_.EndLine();
  }

 private:
  bool quiet_;
  Writer writer_;
};

class JsonReporter final : public Reporter {
 public:
  JsonReporter(bool quiet, std::FILE* out) : quiet_(quiet), writer_(out) {}

  void DefinitionPath(std::string_view path) override {
    if (quiet_) return;
    std::string& line = writer_.line();
    line += "{\"event\":\"definition\",\"path\":";
    AppendJsonString(line, path);
    line += '}';
    writer_.EndLine();
  }

  void DrillBlock(const DrillBlockView& drill) override {
    if (quiet_) return;
    std::string& line = writer_.line();
    line += "{\"event\":\"drill\",\"line\":";
    AppendInt(line, drill.lineNumber);
    line += ",\"text\":";
    AppendJsonString(line, drill.text);
    line += ",\"trigger\":";
    AppendInt(line, drill.trigger);
    line += ",\"chain\":[";
    for (const ChainRecord* r = drill.chain; r != nullptr; r = r->next) {
      if (r != drill.chain) line += ',';
      line += "{\"number\":";
      AppendInt(line, r->number);
      line += ",\"value\":";
      AppendFloat(line, r->value);
      line += '}';
    }
    line += "],\"selections\":[";
    bool any = false;
    ForEachSelection(drill.selections, [&line, &any](const Selection& s) {
      if (any) line += ',';
      line += "{\"slot\":";
      AppendInt(line, s.slot);
      line += ",\"requested\":";
      AppendInt(line, s.requested);
      line += '}';
      any = true;
    });
    line += "]}";
    writer_.EndLine();
  }

  void Summary(const RunSummary& summary) override {
    std::string& line = writer_.line();
    line += "{\"event\":\"summary\",\"blocks\":";
    AppendInt(line, summary.blocks);
    line += ",\"returnedTrue\":";
    AppendInt(line, summary.returnedTrue);
    line += ",\"requestsAccepted\":";
    AppendInt(line, summary.requestsAccepted);
    line += ",\"drillBlocks\":";
    AppendInt(line, summary.drillBlocks);
    line += ",\"seconds\":";
    AppendFixed(line, summary.seconds, 6);
    line += ",\"blocksPerSecond\":";
    AppendFixed(line, BlocksPerSecond(summary), 0);
    line += '}';
    writer_.EndLine();
  }

 private:
  bool quiet_;
  Writer writer_;
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    const std::size_t sequence = byte >= 0x80 ? Utf8SequenceLength(text) : 0;
    if (sequence > 0) {
      out.append(text.data(), sequence);
      text.remove_prefix(sequence);
    } else {
      AppendJsonEscape(out, byte);
      text.remove_prefix(1);
    }
  }
  out += '"';
}

std::unique_ptr<Reporter> MakeReporter(Format format, bool quiet, std::FILE* out) {
  if (format == Format::kJson) return std::make_unique<JsonReporter>(quiet, out);
  return std::make_unique<TextReporter>(quiet, out);
}

}  // namespace ncdrill_replay
