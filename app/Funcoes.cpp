#include "app/Funcoes.h"

#include <bit>
#include <vector>

#include "platform/Registry.h"

namespace app {
namespace {

constexpr std::size_t kBinarySize = 8;

std::vector<std::uint8_t> LittleEndian(std::uint64_t bits) {
  std::vector<std::uint8_t> bytes(kBinarySize);
  for (std::size_t i = 0; i < kBinarySize; ++i)
    bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return bytes;
}

// The 8 bytes of a currency or date value.
std::uint64_t ReadEightBytes(const platform::TRegistry& registry, const std::string& name) {
  const std::vector<std::uint8_t> bytes = registry.ReadBinaryData(name);
  if (bytes.size() != kBinarySize) {
    throw platform::ERegistryException("Invalid data type for '" + name + "'");
  }
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < kBinarySize; ++i) bits |= std::uint64_t{bytes[i]} << (8 * i);
  return bits;
}

}  // namespace

TVariant LerRegistro(const std::string& key, const std::string& name, std::uint8_t kind,
                     const TVariant& defaultValue) {
  platform::TRegistry registry;
  // Whether the key opened is not examined: with no key open no value exists.
  registry.OpenKey(kRegistryBaseKey + key, true);
  if (!registry.ValueExists(name)) return defaultValue;
  switch (kind) {
    case kKindString:
      return registry.ReadString(name);
    case kKindBoolean:
      return registry.ReadBool(name);
    case kKindInteger:
      return registry.ReadInteger(name);
    case kKindCurrency:
      return TCurrency{static_cast<std::int64_t>(ReadEightBytes(registry, name))};
    case kKindDate:
    case kKindTime:
      return TDateTime{std::bit_cast<double>(ReadEightBytes(registry, name))};
    default:
      return defaultValue;
  }
}

void GravarRegistro(const std::string& key, const std::string& name, const TVariant& value,
                    std::uint8_t kind) {
  platform::TRegistry registry;
  // A key that cannot be opened makes the write below fail with the accessor's error.
  registry.OpenKey(kRegistryBaseKey + key, true);
  switch (kind) {
    case kKindString:
      registry.WriteString(name, VariantToString(value));
      break;
    case kKindBoolean:
      registry.WriteBool(name, VariantToBool(value));
      break;
    case kKindInteger:
      registry.WriteInteger(name, VariantToInteger(value));
      break;
    case kKindCurrency:
      registry.WriteBinaryData(
          name, LittleEndian(static_cast<std::uint64_t>(VariantToCurrency(value).tenThousandths)));
      break;
    case kKindDate:
    case kKindTime:
      registry.WriteBinaryData(
          name, LittleEndian(std::bit_cast<std::uint64_t>(VariantToDateTime(value).days)));
      break;
    default:
      break;
  }
}

}  // namespace app
