// The registry's text form: the keys and typed values of one root, and their layout on disk,
// which is that of a regedit export:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Quelbarin\Pelvaronix]
//   "Drive"=dword:00000000
//   "Origem"="/home/ana/Música/\"Ao vivo\" \\ 1999"
//   "Nota"=hex(1):6c,69,6e,68,61,0a,64,75,61,73
//   "Pasta"=hex(2):24,48,4f,4d,45
//   "Dados"=hex:01,02,03
//   @="the key's unnamed value"
//
// - A string (REG_SZ) is written between double quotes, with '\' and '"' escaped as "\\" and
//   "\"", other bytes as they are (UTF-8 text stays readable); a string that holds a control
//   character (a line feed, a zero byte...) is written as hex(1): instead, so every value stays on
//   its own line.
// - hex(1): (REG_SZ) and hex(2): (REG_EXPAND_SZ) hold the string's bytes as UTF-8 exactly as given,
//   without a terminating zero (regedit writes UTF-16 there; this file is not meant for regedit).
// - dword: is eight hex digits; hex: is REG_BINARY; hex(N): with N in hex keeps any other type.
// - Long hex lists continue on the next line after ",\"; lines starting with ';' are comments.
// - Reading is lenient: a missing header, blank lines, CR LF line ends, a UTF-8 byte order mark,
//   repeated sections (merged) and repeated names (the last wins) are accepted; an unknown escape
//   in a quoted string keeps its backslash.
// Threading: plain functions on values; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Registry value types.
constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

inline constexpr const char* kRegistryHeader = "Windows Registry Editor Version 5.00";
inline constexpr const char* kCurrentUserRoot = "HKEY_CURRENT_USER";

struct RegistryValue {
  std::string name;  // "" is the key's unnamed (default) value
  std::uint32_t type = REG_NONE;
  std::vector<std::uint8_t> data;  // REG_DWORD: 4 bytes, little-endian
};

struct RegistryKey {
  std::string path;  // below the root, components joined by '\'; "" is the root itself
  std::vector<RegistryValue> values;

  // Names match without regard to case, as in the registry.
  RegistryValue* FindValue(const std::string& name);
  const RegistryValue* FindValue(const std::string& name) const;
  // Replaces the value of the same name (keeping its first spelling) or adds it.
  void SetValue(RegistryValue value);
  bool DeleteValue(const std::string& name);
};

// All keys of one root, in file order.
struct RegistryHive {
  std::vector<RegistryKey> keys;

  // The key at `path` (case-insensitive), or null. A key that only appears as the ancestor of
  // another exists too, but has no entry of its own: see KeyExists.
  RegistryKey* FindKey(const std::string& path);
  const RegistryKey* FindKey(const std::string& path) const;
  bool KeyExists(const std::string& path) const;
  // The key at `path`, added together with each missing ancestor when absent.
  RegistryKey& CreateKey(const std::string& path);
};

// Where a text could not be read.
struct RegistryParseError {
  int line = 0;  // 1-based
  std::string reason;
};

struct RegistryParseResult {
  std::optional<RegistryHive> hive;  // empty when the text is damaged
  RegistryParseError error;          // set when `hive` is empty
};

// ASCII lower case: how key and value names are compared.
std::string FoldRegistryName(const std::string& name);

// Parses the text of a file whose sections all belong to HKEY_CURRENT_USER.
RegistryParseResult ParseRegistryText(const std::string& text);

// The text of `hive`: the header, then one section per entry of `keys` (the root's only when it
// has values).
std::string FormatRegistryText(const RegistryHive& hive);

}  // namespace platform
