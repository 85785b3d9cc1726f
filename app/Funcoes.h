// The settings helpers of the converter: each call reads or writes one typed value under
// HKEY_CURRENT_USER\Software\Quelbarin\<key>, passed in and out as a variant (app/Variant.h).
// Threading: any thread; each call uses an accessor of its own, and the registry file serializes
// writers (platform/Registry.h).
#pragma once

#include <cstdint>
#include <string>

#include "app/Variant.h"

namespace app {

// Where the helpers' keys live, below HKEY_CURRENT_USER.
inline constexpr const char* kRegistryBaseKey = "Software\\Quelbarin\\";

// Kind codes: how a value is stored and read.
constexpr std::uint8_t kKindString = 0;    // REG_SZ; reads take REG_EXPAND_SZ too, up to a zero
constexpr std::uint8_t kKindBoolean = 1;   // REG_DWORD 1 or 0; reads take any non-zero as true
constexpr std::uint8_t kKindInteger = 2;   // REG_DWORD, signed 32-bit
constexpr std::uint8_t kKindCurrency = 3;  // REG_BINARY of 8 bytes: int64 little-endian × 10000
constexpr std::uint8_t kKindDate = 4;      // REG_BINARY of 8 bytes: IEEE-754 double
constexpr std::uint8_t kKindTime = 5;      // as kKindDate
// Codes above kKindTime read the default and write nothing.

// The value `name` of the key kRegistryBaseKey + `key`, read as `kind`: std::string, bool,
// std::int32_t, TCurrency or TDateTime; `defaultValue` when the key has no such value. The key is
// created when missing (a key that cannot be created reads as empty). Raises
// platform::ERegistryException ("Invalid data type for 'NAME'") for a value of another registry
// type, or a binary value that is not 8 bytes long.
TVariant LerRegistro(const std::string& key, const std::string& name, std::uint8_t kind,
                     const TVariant& defaultValue);

// Stores `value`, converted to `kind`, as `name` in the key kRegistryBaseKey + `key` (created
// when missing), replacing any earlier value. Raises EVariantError when the value cannot be
// converted (nothing is written) and platform::ERegistryException ("Failed to set data for
// 'NAME'") when it cannot be stored.
void GravarRegistro(const std::string& key, const std::string& name, const TVariant& value,
                    std::uint8_t kind);

}  // namespace app
