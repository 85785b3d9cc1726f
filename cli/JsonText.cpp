#include "cli/JsonText.h"

#include <cstdint>

namespace cli {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendEscape(std::string& out, unsigned code) {  // \uXXXX
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
}

// The length of the valid UTF-8 sequence at the start of `bytes` (1 to 4), or 0 when its first
// byte does not start one: overlong forms, surrogates and code points past U+10FFFF are invalid.
std::size_t Utf8SequenceLength(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  std::uint32_t code = 0;
  std::uint32_t least = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(bytes);
    const unsigned char c = static_cast<unsigned char>(bytes.front());
    if (length == 0) {
      AppendEscape(out, 0xDC00 | c);
      bytes.remove_prefix(1);
      continue;
    }
    if (length > 1) {
      out.append(bytes.substr(0, length));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\b') {
      out += "\\b";
    } else if (c == '\f') {
      out += "\\f";
    } else if (c < 0x20) {
      AppendEscape(out, c);
    } else {
      out += static_cast<char>(c);
    }
    bytes.remove_prefix(length);
  }
  out += '"';
  return out;
}

}  // namespace cli
