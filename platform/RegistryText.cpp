#include "platform/RegistryText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

namespace platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kRegedit4Header = "REGEDIT4";
constexpr std::string_view kCurrentUserShort = "HKCU";
constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::string_view kHexPrefix = "hex";
constexpr std::size_t kHexLineWidth = 80;  // regedit's width for wrapped hex lists
constexpr std::size_t kDwordSize = 4;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithFolded(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  return FoldRegistryName(std::string(s.substr(0, prefix.size()))) ==
         FoldRegistryName(std::string(prefix));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads 1 to `maxDigits` hex digits that make up all of `s`.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// A quoted string starting at s[pos] == '"'; on success `pos` is just past the closing quote.
// Only "\\" and "\"" are escapes; any other backslash is kept as written.
std::optional<std::string> ParseQuoted(std::string_view s, std::size_t& pos) {
  std::string out;
  for (std::size_t i = pos + 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
    out += s[i];
  }
  return std::nullopt;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool HasControl(const std::vector<std::uint8_t>& bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return IsControl(b); });
}

// "hex:" or "hex(N):" followed by the bytes, wrapped as regedit wraps them.
std::string HexText(std::size_t column, std::uint32_t type, const std::vector<std::uint8_t>& data) {
  char prefix[24];
  if (type == REG_BINARY) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
  }
  std::string out = prefix;
  column += out.size();
  for (std::size_t i = 0; i < data.size(); ++i) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned>(data[i]));
    if (i > 0) {
      // Room for ",xx" and a possible ",\" after it.
      if (column + 3 + 2 > kHexLineWidth) {
        out += ",\\\n  ";
        column = 2;
      } else {
        out += ',';
        ++column;
      }
    }
    out += byte;
    column += 2;
  }
  return out;
}

std::string ValueText(std::size_t column, const RegistryValue& value) {
  if (value.type == REG_SZ && !HasControl(value.data)) {
    return Quote(std::string(value.data.begin(), value.data.end()));
  }
  if (value.type == REG_DWORD && value.data.size() == kDwordSize) {
    const std::uint32_t v = static_cast<std::uint32_t>(value.data[0]) |
                            static_cast<std::uint32_t>(value.data[1]) << 8 |
                            static_cast<std::uint32_t>(value.data[2]) << 16 |
                            static_cast<std::uint32_t>(value.data[3]) << 24;
    char text[20];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(v));
    return text;
  }
  return HexText(column, value.type, value.data);
}

std::string KeyName(const std::string& path) {
  return path.empty() ? std::string(kCurrentUserRoot) : std::string(kCurrentUserRoot) + "\\" + path;
}

// Line-by-line reader of one file's text; the first defect ends the parse.
class Parser {
 public:
  explicit Parser(std::string_view text) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
  }

  RegistryParseResult Run() {
    RegistryParseResult result;
    RegistryHive hive;
    RegistryKey* key = nullptr;  // the section being read; points into `hive`
    bool started = false;        // a header, section or value has been read
    for (next_ = 0; next_ < lines_.size();) {
      const int lineNumber = static_cast<int>(next_) + 1;
      const std::string_view line = TrimLeft(lines_[next_++]);
      std::string reason;
      if (line.empty() || line.front() == ';') continue;
      const std::string_view trimmed = TrimRight(line);
      if (trimmed == kRegistryHeader || trimmed == kRegedit4Header) {
        if (started) reason = "the header is not at the top";
      } else if (line.front() == '[') {
        const auto path = SectionPath(trimmed, reason);
        if (path) {
          key = hive.FindKey(*path);
          if (key == nullptr) key = &hive.keys.emplace_back(RegistryKey{*path, {}});
        }
      } else if (line.front() == '"' || line.front() == '@') {
        if (key == nullptr) {
          reason = "a value outside a key";
        } else if (auto value = Value(line, reason)) {
          key->SetValue(std::move(*value));
        }
      } else {
        reason = "not a key, a value or a comment";
      }
      if (!reason.empty()) {
        result.error = {lineNumber, reason};
        return result;
      }
      started = true;
    }
    result.hive = std::move(hive);
    return result;
  }

 private:
  // "[HKEY_CURRENT_USER\A\B]" -> "A\B".
  static std::optional<std::string> SectionPath(std::string_view line, std::string& reason) {
    if (line.size() < 2 || line.back() != ']') {
      reason = "a key line must end with ']'";
      return std::nullopt;
    }
    const std::string_view name = line.substr(1, line.size() - 2);
    const std::size_t slash = name.find('\\');
    const std::string root = FoldRegistryName(std::string(name.substr(0, slash)));
    if (root != FoldRegistryName(kCurrentUserRoot) &&
        root != FoldRegistryName(std::string(kCurrentUserShort))) {
      reason = "a key outside HKEY_CURRENT_USER";
      return std::nullopt;
    }
    if (slash == std::string_view::npos) return std::string();
    const std::string path(name.substr(slash + 1));
    if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
        path.find("\\\\") != std::string::npos) {
      reason = "a key name with an empty part";
      return std::nullopt;
    }
    return path;
  }

  std::optional<RegistryValue> Value(std::string_view line, std::string& reason) {
    RegistryValue value;
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (auto name = ParseQuoted(line, pos)) {
      value.name = std::move(*name);
    } else {
      reason = "a value name without its closing quote";
      return std::nullopt;
    }
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') {
      reason = "a value name without '='";
      return std::nullopt;
    }
    rest = TrimLeft(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
      pos = 0;
      const auto text = ParseQuoted(rest, pos);
      if (!text || !TrimRight(rest.substr(pos)).empty()) {
        reason = text ? "text after a string" : "a string without its closing quote";
        return std::nullopt;
      }
      value.type = REG_SZ;
      value.data.assign(text->begin(), text->end());
      return value;
    }
    if (StartsWithFolded(rest, kDwordPrefix)) {
      const auto number = ParseHexNumber(TrimRight(rest.substr(kDwordPrefix.size())), 8);
      if (!number) {
        reason = "a dword that is not 1 to 8 hex digits";
        return std::nullopt;
      }
      value.type = REG_DWORD;
      value.data = {static_cast<std::uint8_t>(*number), static_cast<std::uint8_t>(*number >> 8),
                    static_cast<std::uint8_t>(*number >> 16),
                    static_cast<std::uint8_t>(*number >> 24)};
      return value;
    }
    if (StartsWithFolded(rest, kHexPrefix)) {
      if (HexValue(rest.substr(kHexPrefix.size()), value, reason)) return value;
      return std::nullopt;
    }
    reason = "an unknown kind of value";
    return std::nullopt;
  }

  // After "hex": ":" or "(N):", then the byte list, which may continue on following lines.
  bool HexValue(std::string_view rest, RegistryValue& value, std::string& reason) {
    value.type = REG_BINARY;
    if (!rest.empty() && rest.front() == '(') {
      const std::size_t close = rest.find(')');
      const auto type = close == std::string_view::npos
                            ? std::nullopt
                            : ParseHexNumber(TrimRight(TrimLeft(rest.substr(1, close - 1))), 8);
      if (!type) {
        reason = "a hex(N) type that is not a hex number";
        return false;
      }
      value.type = *type;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      reason = "hex without ':'";
      return false;
    }
    std::string list(TrimRight(rest.substr(1)));
    while (!list.empty() && list.back() == '\\') {
      list.pop_back();
      if (next_ >= lines_.size()) {
        reason = "a hex list that continues past the end of the file";
        return false;
      }
      list += TrimRight(TrimLeft(lines_[next_++]));
    }
    std::string_view bytes = list;
    while (!bytes.empty()) {
      const std::size_t comma = bytes.find(',');
      const auto byte = ParseHexNumber(TrimRight(TrimLeft(bytes.substr(0, comma))), 2);
      if (!byte) {
        reason = "a hex list with something other than bytes";
        return false;
      }
      value.data.push_back(static_cast<std::uint8_t>(*byte));
      if (comma == std::string_view::npos) break;
      bytes.remove_prefix(comma + 1);
      if (bytes.empty()) {
        reason = "a hex list that ends with ','";
        return false;
      }
    }
    if (value.type == REG_DWORD && value.data.size() != kDwordSize) {
      reason = "a dword that is not 4 bytes";
      return false;
    }
    return true;
  }

  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;  // index of the next unread line
};

}  // namespace

std::string FoldRegistryName(const std::string& name) {
  std::string out = name;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

RegistryValue* RegistryKey::FindValue(const std::string& name) {
  const std::string folded = FoldRegistryName(name);
  for (RegistryValue& value : values) {
    if (FoldRegistryName(value.name) == folded) return &value;
  }
  return nullptr;
}

const RegistryValue* RegistryKey::FindValue(const std::string& name) const {
  return const_cast<RegistryKey*>(this)->FindValue(name);
}

void RegistryKey::SetValue(RegistryValue value) {
  if (RegistryValue* existing = FindValue(value.name)) {
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    values.push_back(std::move(value));
  }
}

bool RegistryKey::DeleteValue(const std::string& name) {
  RegistryValue* value = FindValue(name);
  if (value == nullptr) return false;
  values.erase(values.begin() + (value - values.data()));
  return true;
}

RegistryKey* RegistryHive::FindKey(const std::string& path) {
  const std::string folded = FoldRegistryName(path);
  for (RegistryKey& key : keys) {
    if (FoldRegistryName(key.path) == folded) return &key;
  }
  return nullptr;
}

const RegistryKey* RegistryHive::FindKey(const std::string& path) const {
  return const_cast<RegistryHive*>(this)->FindKey(path);
}

bool RegistryHive::KeyExists(const std::string& path) const {
  if (path.empty() || FindKey(path) != nullptr) return true;
  const std::string prefix = FoldRegistryName(path) + "\\";
  return std::any_of(keys.begin(), keys.end(), [&](const RegistryKey& key) {
    return FoldRegistryName(key.path).compare(0, prefix.size(), prefix) == 0;
  });
}

RegistryKey& RegistryHive::CreateKey(const std::string& path) {
  // Each ancestor gets an entry of its own, as a regedit export lists every key.
  std::size_t end = 0;
  do {
    end = path.find('\\', end + 1);
    const std::string part = path.substr(0, end);
    if (FindKey(part) == nullptr) keys.push_back(RegistryKey{part, {}});
  } while (end != std::string::npos);
  return *FindKey(path);
}

RegistryParseResult ParseRegistryText(const std::string& text) {
  return Parser(text).Run();
}

std::string FormatRegistryText(const RegistryHive& hive) {
  std::string out = kRegistryHeader;
  out += '\n';
  for (const RegistryKey& key : hive.keys) {
    if (key.path.empty() && key.values.empty()) continue;
    out += "\n[" + KeyName(key.path) + "]\n";
    for (const RegistryValue& value : key.values) {
      const std::string name = value.name.empty() ? std::string("@") : Quote(value.name);
      out += name + "=" + ValueText(name.size() + 1, value) + "\n";
    }
  }
  out += '\n';
  return out;
}

}  // namespace platform
