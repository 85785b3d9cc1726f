// The registry accessor: opens one key of the current user's registry and reads and writes its
// typed values, as the classic registry object does. The registry itself is a text file in the
// user's configuration folder (RegistryFile.h; its layout in RegistryText.h).
// - Key and value names match without regard to ASCII letter case; a key path is split at '\'.
// - OpenKey re-reads the file, so values written meanwhile by another instance are seen; reads
//   then answer from what OpenKey read. Every write re-reads the file, changes the one value and
//   replaces the file atomically, so concurrent instances never lose each other's values.
// - Reading a value of the wrong type raises "Invalid data type for 'NAME'", reading a missing
//   value (or with no key open) "Failed to get data for 'NAME'", and a write that could not be
//   stored "Failed to set data for 'NAME'".
// Threading: an accessor is used by one thread at a time; separate accessors may be used on any
// threads at once.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/RegistryFile.h"

namespace platform {

class ERegistryException : public std::runtime_error {
 public:
  explicit ERegistryException(const std::string& message) : std::runtime_error(message) {}
};

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// The registry roots that exist here.
enum class TRegistryRoot { CurrentUser };

class TRegistry {
 public:
  // The file is located (RegistryFile::DefaultPath) when the accessor is made.
  explicit TRegistry(TRegistryRoot root = TRegistryRoot::CurrentUser);

  TRegistryRoot RootKey() const { return root_; }
  // The open key's path below the root ("" for the root itself or when no key is open).
  std::string CurrentPath() const { return currentKey_.value_or(std::string()); }
  bool HasCurrentKey() const { return currentKey_.has_value(); }

  // Opens `key`: relative to the open key, or to the root when none is open or `key` starts
  // with '\'. A missing key is created (with its missing ancestors) when `canCreate`. False
  // when the key does not exist and was not created, or the name is not valid (an empty part,
  // a control character); the open key is then unchanged.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey();
  // Whether `key` (same rules as OpenKey) exists, as the file is now.
  bool KeyExists(const std::string& key) const;

  bool ValueExists(const std::string& name) const;
  // rdUnknown when the value is missing or of a type other than the four below.
  TRegDataType GetDataType(const std::string& name) const;
  std::vector<std::string> GetValueNames() const;

  // REG_SZ or REG_EXPAND_SZ, up to the first zero character.
  std::string ReadString(const std::string& name) const;
  // REG_DWORD.
  std::int32_t ReadInteger(const std::string& name) const;
  // REG_DWORD; any value other than 0 is true.
  bool ReadBool(const std::string& name) const;
  // REG_BINARY.
  std::vector<std::uint8_t> ReadBinaryData(const std::string& name) const;

  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  // REG_DWORD 1 for true, 0 for false.
  void WriteBool(const std::string& name, bool value);
  void WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value);
  // False when there was no such value or the file could not be rewritten.
  bool DeleteValue(const std::string& name);

 private:
  std::optional<std::string> ResolvePath(const std::string& key) const;
  const RegistryValue& ValueOfType(const std::string& name,
                                   std::initializer_list<std::uint32_t> types) const;
  void Write(const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data);

  TRegistryRoot root_;
  RegistryFile file_;
  std::optional<std::string> currentKey_;  // path of the open key; empty when none is open
  RegistryHive hive_;                      // the file as the last OpenKey or write saw it
};

}  // namespace platform
