// A strict reader for the converter's JSON lines: one flat object a line, whose values are
// strings, numbers, true, false or null. Strings are decoded to bytes, \uDCXX back to byte XX
// (the report's escape for bytes that are not UTF-8), other escapes to UTF-8.
#pragma once

#include <cctype>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace cli::test {

using JsonObject = std::map<std::string, std::string>;

class JsonLineReader {
 public:
  explicit JsonLineReader(const std::string& text) : s_(text) {}

  // The object, or nothing when the line is not exactly one valid flat object.
  std::optional<JsonObject> Object() {
    JsonObject object;
    if (!Take('{')) return std::nullopt;
    if (Take('}')) return End(object);
    do {
      std::optional<std::string> key = String();
      if (!key || !Take(':')) return std::nullopt;
      std::optional<std::string> value = Value();
      if (!value || !object.emplace(*key, *value).second) return std::nullopt;
    } while (Take(','));
    if (!Take('}')) return std::nullopt;
    return End(object);
  }

 private:
  std::optional<JsonObject> End(const JsonObject& object) const {
    return at_ == s_.size() ? std::optional(object) : std::nullopt;
  }
  bool Take(char c) {
    if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
    return false;
  }
  std::optional<std::string> Value() {
    if (at_ < s_.size() && s_[at_] == '"') return String();
    for (const char* word : {"true", "false", "null"}) {
      if (s_.compare(at_, std::string(word).size(), word) == 0) {
        at_ += std::string(word).size();
        return word;
      }
    }
    const std::size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '.'))
      ++at_;
    if (at_ == start || !std::isdigit(static_cast<unsigned char>(s_[at_ - 1]))) return std::nullopt;
    return s_.substr(start, at_ - start);
  }
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (at_ < s_.size() && s_[at_] != '"') {
      const unsigned char c = static_cast<unsigned char>(s_[at_++]);
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= s_.size()) return std::nullopt;
      const char e = s_[at_++];
      const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (const std::size_t k = simple.find(e); k != std::string::npos) {
        out += meaning[k];
      } else if (e == 'u' && at_ + 4 <= s_.size()) {
        const unsigned code = std::stoul(s_.substr(at_, 4), nullptr, 16);
        at_ += 4;
        if (code >= 0xDC80 && code <= 0xDCFF) {
          out += static_cast<char>(code & 0xFF);
        } else if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | code >> 6);
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | code >> 12);
          out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
      } else {
        return std::nullopt;
      }
    }
    if (!Take('"')) return std::nullopt;
    return out;
  }

  const std::string& s_;
  std::size_t at_ = 0;
};

// Every line of `text` parsed; nothing when any line is not a valid object or the text does not
// end with a new line.
inline std::optional<std::vector<JsonObject>> ParseJsonLines(const std::string& text) {
  if (!text.empty() && text.back() != '\n') return std::nullopt;
  std::vector<JsonObject> objects;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::optional<JsonObject> object = JsonLineReader(line).Object();
    if (!object) return std::nullopt;
    objects.push_back(std::move(*object));
  }
  return objects;
}

}  // namespace cli::test
