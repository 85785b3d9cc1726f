#include "cli/TerminalText.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace cli {
namespace {

constexpr std::string_view kEllipsis = "\u2026";
constexpr char kReplacement = '?';

// East Asian wide and fullwidth ranges (coarse): these take two columns on a terminal.
constexpr std::pair<char32_t, char32_t> kWide[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},  {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},  {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};

// One UTF-8 sequence at `at`: its length and code point, or length 0 when the bytes there are
// not well-formed UTF-8 (overlong forms and surrogates included).
std::size_t Decode(std::string_view text, std::size_t at, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[at + i]);
    if ((byte & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

std::size_t Columns(char32_t cp) {
  for (const auto& [first, last] : kWide) {
    if (cp >= first && cp <= last) return 2;
  }
  return 1;
}

// Calls `glyph(offset, length, columns)` for each code point of `text`, a byte that is not
// UTF-8 being one of its own.
template <typename F>
void ForEachGlyph(std::string_view text, F&& glyph) {
  for (std::size_t at = 0; at < text.size();) {
    char32_t cp = 0;
    const std::size_t length = Decode(text, at, cp);
    if (length == 0) {
      glyph(at, std::size_t{1}, std::size_t{1});
      ++at;
    } else {
      glyph(at, length, Columns(cp));
      at += length;
    }
  }
}

}  // namespace

std::size_t DisplayColumns(std::string_view text) {
  std::size_t columns = 0;
  ForEachGlyph(text, [&](std::size_t, std::size_t, std::size_t width) { columns += width; });
  return columns;
}

std::string Printable(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    char32_t cp = 0;
    const std::size_t length = Decode(name, at, cp);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    if (length == 0 || control) {
      out += kReplacement;
      at += std::max<std::size_t>(length, 1);
    } else {
      out += name.substr(at, length);
      at += length;
    }
  }
  return out;
}

std::string CutRight(std::string_view text, std::size_t columns) {
  std::size_t used = 0, end = 0;
  bool full = false;
  ForEachGlyph(text, [&](std::size_t at, std::size_t length, std::size_t width) {
    if (full || used + width > columns) {
      full = true;
      return;
    }
    used += width;
    end = at + length;
  });
  return std::string(text.substr(0, end));
}

std::string CutLeft(std::string_view text, std::size_t columns) {
  if (DisplayColumns(text) <= columns) return std::string(text);
  if (columns == 0) return {};
  std::vector<std::pair<std::size_t, std::size_t>> glyphs;  // offset, columns
  ForEachGlyph(text, [&](std::size_t at, std::size_t, std::size_t width) {
    glyphs.emplace_back(at, width);
  });
  std::size_t used = 1;  // the ellipsis
  std::size_t begin = text.size();
  for (auto it = glyphs.rbegin(); it != glyphs.rend() && used + it->second <= columns; ++it) {
    used += it->second;
    begin = it->first;
  }
  return std::string(kEllipsis) + std::string(text.substr(begin));
}

}  // namespace cli
