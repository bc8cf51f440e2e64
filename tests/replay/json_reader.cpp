#include "json_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace ncdrill_test {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Json Document() {
    Json value = Value();
    SkipSpace();
    if (at_ != text_.size()) Fail("trailing characters");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_));
  }
  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  void Expect(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) Fail("expected " + std::string(word));
    at_ += word.size();
  }

  Json Value() {
    SkipSpace();
    Json value;
    switch (Peek()) {
      case '{':
        return Object();
      case '[':
        return Array();
      case '"':
        value.type = Json::kString;
        value.string = String();
        return value;
      case 't':
        Expect("true");
        value.type = Json::kBool;
        value.boolean = true;
        return value;
      case 'f':
        Expect("false");
        value.type = Json::kBool;
        return value;
      case 'n':
        Expect("null");
        return value;
      default:
        return Number();
    }
  }

  Json Object() {
    Json value;
    value.type = Json::kObject;
    Expect("{");
    SkipSpace();
    if (Peek() == '}') return ++at_, value;
    for (;;) {
      SkipSpace();
      std::string key = String();
      SkipSpace();
      Expect(":");
      value.object[key] = Value();
      SkipSpace();
      if (Peek() == '}') return ++at_, value;
      Expect(",");
    }
  }

  Json Array() {
    Json value;
    value.type = Json::kArray;
    Expect("[");
    SkipSpace();
    if (Peek() == ']') return ++at_, value;
    for (;;) {
      value.array.push_back(Value());
      SkipSpace();
      if (Peek() == ']') return ++at_, value;
      Expect(",");
    }
  }

  Json Number() {
    const std::size_t start = at_;
    if (Peek() == '-') ++at_;
    if (!std::isdigit(static_cast<unsigned char>(Peek()))) Fail("expected a value");
    while (std::isdigit(static_cast<unsigned char>(Peek())) || Peek() == '.' || Peek() == 'e' ||
           Peek() == 'E' || Peek() == '+' || Peek() == '-') {
      ++at_;
    }
    const std::string digits(text_.substr(start, at_ - start));
    char* end = nullptr;
    Json value;
    value.type = Json::kNumber;
    value.number = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) Fail("bad number " + digits);
    return value;
  }

  unsigned Hex4() {
    if (at_ + 4 > text_.size()) Fail("short \\u escape");
    const std::string hex(text_.substr(at_, 4));
    char* end = nullptr;
    const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
    if (end != hex.c_str() + 4) Fail("bad \\u escape");
    at_ += 4;
    return static_cast<unsigned>(code);
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  void Escape(std::string& out) {
    const char c = Peek();
    ++at_;
    switch (c) {
      case '"':
        out += '"';
        break;
      case '\\':
        out += '\\';
        break;
      case '/':
        out += '/';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u':
        AppendUtf8(out, Hex4());
        break;
      default:
        Fail("bad escape");
    }
  }

  // Copies one UTF-8 sequence, rejecting malformed ones.
  void Utf8(std::string& out) {
    const auto lead = static_cast<unsigned char>(Peek());
    const std::size_t length = lead < 0xC2   ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || at_ + length > text_.size()) Fail("invalid UTF-8");
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text_[at_ + i]) & 0xC0) != 0x80) Fail("invalid UTF-8");
    }
    out.append(text_.substr(at_, length));
    at_ += length;
  }

  std::string String() {
    Expect("\"");
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("unterminated string");
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') return ++at_, out;
      if (c < 0x20) Fail("raw control character in a string");
      if (c == '\\') {
        ++at_;
        Escape(out);
      } else if (c >= 0x80) {
        Utf8(out);
      } else {
        out += static_cast<char>(c);
        ++at_;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
  static const Json kMissing;
  const auto found = object.find(key);
  if (found == object.end()) {
    ADD_FAILURE() << "JSON member missing: " << key;
    return kMissing;
  }
  return found->second;
}

Json ParseJson(std::string_view text) { return Parser(text).Document(); }

}  // namespace ncdrill_test
