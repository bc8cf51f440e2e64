// A small JSON reader for checking ncdrill-replay's --json output: strict
// enough to reject what a script's parser would reject.
#ifndef NCDRILL_TESTS_REPLAY_JSON_READER_H
#define NCDRILL_TESTS_REPLAY_JSON_READER_H

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ncdrill_test {

struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = kNull;
  bool boolean = false;
  double number = 0.0;
  std::string string;  // UTF-8
  std::vector<Json> array;
  std::map<std::string, Json> object;

  // Member access that fails the test when the member is missing.
  const Json& operator[](const std::string& key) const;
  const Json& operator[](std::size_t index) const { return array.at(index); }
};

// Parses one JSON text. Throws std::runtime_error on malformed input,
// including invalid UTF-8 and trailing characters.
Json ParseJson(std::string_view text);

}  // namespace ncdrill_test

#endif
