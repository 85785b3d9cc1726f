#include "platform/Registry.h"

#include <algorithm>

namespace platform {
namespace {

constexpr std::size_t kDwordSize = 4;

bool HasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

[[noreturn]] void InvalidType(const std::string& name) {
  throw ERegistryException("Invalid data type for '" + name + "'");
}

[[noreturn]] void GetDataFailed(const std::string& name) {
  throw ERegistryException("Failed to get data for '" + name + "'");
}

[[noreturn]] void SetDataFailed(const std::string& name) {
  throw ERegistryException("Failed to set data for '" + name + "'");
}

}  // namespace

TRegistry::TRegistry(TRegistryRoot root) : root_(root), file_(RegistryFile::DefaultPath()) {}

std::optional<std::string> TRegistry::ResolvePath(const std::string& key) const {
  const bool fromRoot = !key.empty() && key.front() == '\\';
  std::string path = fromRoot ? key.substr(1) : key;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  if (!fromRoot && currentKey_ && !currentKey_->empty()) {
    path = path.empty() ? *currentKey_ : *currentKey_ + "\\" + path;
  }
  const bool emptyPart = path.find("\\\\") != std::string::npos ||
                         (!path.empty() && (path.front() == '\\' || path.back() == '\\'));
  if (emptyPart || HasControl(path)) return std::nullopt;
  return path;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  const std::optional<std::string> path = ResolvePath(key);
  if (!path) return false;
  RegistryHive hive = file_.Load();
  if (!hive.KeyExists(*path)) {
    if (!canCreate) return false;
    std::optional<RegistryHive> written =
        file_.Update([&](RegistryHive& latest) { latest.CreateKey(*path); });
    if (!written) return false;
    hive = std::move(*written);
  }
  hive_ = std::move(hive);
  currentKey_ = *path;
  return true;
}

void TRegistry::CloseKey() {
  currentKey_.reset();
  hive_ = {};
}

bool TRegistry::KeyExists(const std::string& key) const {
  const std::optional<std::string> path = ResolvePath(key);
  return path && file_.Load().KeyExists(*path);
}

bool TRegistry::ValueExists(const std::string& name) const {
  if (!currentKey_) return false;
  const RegistryKey* key = hive_.FindKey(*currentKey_);
  return key != nullptr && key->FindValue(name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  const RegistryKey* key = currentKey_ ? hive_.FindKey(*currentKey_) : nullptr;
  const RegistryValue* value = key != nullptr ? key->FindValue(name) : nullptr;
  if (value == nullptr) return rdUnknown;
  switch (value->type) {
    case REG_SZ:
      return rdString;
    case REG_EXPAND_SZ:
      return rdExpandString;
    case REG_DWORD:
      return rdInteger;
    case REG_BINARY:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

std::vector<std::string> TRegistry::GetValueNames() const {
  std::vector<std::string> names;
  const RegistryKey* key = currentKey_ ? hive_.FindKey(*currentKey_) : nullptr;
  if (key != nullptr) {
    for (const RegistryValue& value : key->values) names.push_back(value.name);
  }
  return names;
}

const RegistryValue& TRegistry::ValueOfType(const std::string& name,
                                            std::initializer_list<std::uint32_t> types) const {
  const RegistryKey* key = currentKey_ ? hive_.FindKey(*currentKey_) : nullptr;
  const RegistryValue* value = key != nullptr ? key->FindValue(name) : nullptr;
  if (value == nullptr) GetDataFailed(name);
  if (std::find(types.begin(), types.end(), value->type) == types.end()) InvalidType(name);
  return *value;
}

std::string TRegistry::ReadString(const std::string& name) const {
  const RegistryValue& value = ValueOfType(name, {REG_SZ, REG_EXPAND_SZ});
  const auto end = std::find(value.data.begin(), value.data.end(), std::uint8_t{0});
  return std::string(value.data.begin(), end);
}

std::int32_t TRegistry::ReadInteger(const std::string& name) const {
  const RegistryValue& value = ValueOfType(name, {REG_DWORD});
  if (value.data.size() != kDwordSize) InvalidType(name);
  const std::uint32_t bits = static_cast<std::uint32_t>(value.data[0]) |
                             static_cast<std::uint32_t>(value.data[1]) << 8 |
                             static_cast<std::uint32_t>(value.data[2]) << 16 |
                             static_cast<std::uint32_t>(value.data[3]) << 24;
  return static_cast<std::int32_t>(bits);
}

bool TRegistry::ReadBool(const std::string& name) const {
  return ReadInteger(name) != 0;
}

std::vector<std::uint8_t> TRegistry::ReadBinaryData(const std::string& name) const {
  return ValueOfType(name, {REG_BINARY}).data;
}

void TRegistry::Write(const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data) {
  // A name with a line break or another control character has no place in the file.
  if (!currentKey_ || HasControl(name)) SetDataFailed(name);
  const std::string& path = *currentKey_;
  std::optional<RegistryHive> written = file_.Update([&](RegistryHive& latest) {
    latest.CreateKey(path).SetValue(RegistryValue{name, type, std::move(data)});
  });
  if (!written) SetDataFailed(name);
  hive_ = std::move(*written);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  Write(name, REG_SZ, Bytes(value));
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  Write(name, REG_EXPAND_SZ, Bytes(value));
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  Write(name, REG_DWORD,
        {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
         static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)});
}

void TRegistry::WriteBool(const std::string& name, bool value) {
  WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value) {
  Write(name, REG_BINARY, value);
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!ValueExists(name)) return false;
  const std::string& path = *currentKey_;
  std::optional<RegistryHive> written = file_.Update([&](RegistryHive& latest) {
    if (RegistryKey* key = latest.FindKey(path)) key->DeleteValue(name);
  });
  if (!written) return false;
  hive_ = std::move(*written);
  return true;
}

}  // namespace platform
