#include "acm/DriverRegistry.h"

#include <array>

#include "acm/PcmDriver.h"

namespace acm {

std::span<const Driver* const> installedDrivers() {
  // Drivers are stateless; each stream's state lives in its Converter.
  static const PcmDriver pcm;
  static const std::array<const Driver*, 1> drivers = {&pcm};
  return drivers;
}

std::optional<WaveFormat> suggestFormat(const WaveFormat& source, const FormatRequest& request) {
  for (const Driver* driver : installedDrivers()) {
    if (auto format = driver->suggest(source, request)) return format;
  }
  return std::nullopt;
}

const Driver* findDriver(const WaveFormat& source, const WaveFormat& destination) {
  for (const Driver* driver : installedDrivers()) {
    if (driver->canConvert(source, destination)) return driver;
  }
  return nullptr;
}

}  // namespace acm
