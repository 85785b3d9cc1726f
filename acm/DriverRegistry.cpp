#include "acm/DriverRegistry.h"

#include <array>

#include "acm/CodecDriver.h"
#include "acm/G711.h"
#include "acm/Gsm610.h"
#include "acm/ImaAdpcm.h"
#include "acm/MsAdpcm.h"
#include "acm/PcmDriver.h"
#include "acm/SampleCodec.h"

namespace acm {

std::span<const Driver* const> installedDrivers() {
  // Drivers are stateless; each stream's state lives in its Converter.
  static const PcmDriver pcm;
  static const G711Codec aLaw(kWaveFormatALaw);
  static const G711Codec muLaw(kWaveFormatMuLaw);
  static const ImaAdpcmCodec ima;
  static const MsAdpcmCodec msAdpcm;
  static const Gsm610Codec gsm;
  static const CodecDriver aLawDriver(aLaw);
  static const CodecDriver muLawDriver(muLaw);
  static const CodecDriver imaDriver(ima);
  static const CodecDriver msAdpcmDriver(msAdpcm);
  static const CodecDriver gsmDriver(gsm);
  static const SampleCodec ieeeFloat(kWaveFormatIeeeFloat);
  static const SampleCodec extensible(kWaveFormatExtensible);
  static const CodecDriver floatDriver(ieeeFloat);
  static const CodecDriver extensibleDriver(extensible);
  static const std::array<const Driver*, 8> drivers = {&pcm,         &aLawDriver,      &muLawDriver,
                                                       &imaDriver,   &msAdpcmDriver,   &gsmDriver,
                                                       &floatDriver, &extensibleDriver};
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
