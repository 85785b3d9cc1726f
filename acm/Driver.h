// The driver model: a Driver knows which formats it converts between and opens Converters, one
// per stream. The manager (msacm.cpp) asks the installed drivers in order (DriverRegistry.h).
//
// Adding a driver: implement Driver and Converter in a file of its own and list an instance in
// installedDrivers(). Converters work on whole source blocks, may hold data back between calls
// (filter history, a partial output block) and must give everything out when asked to end.
#ifndef QUELBARIN_ACM_DRIVER_H
#define QUELBARIN_ACM_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "acm/WaveFormat.h"

namespace acm {

enum class Quality {
  kRealtime,  // fast: what a stream gets by default
  kBest,      // ACM_STREAMOPENF_NONREALTIME: best quality, speed does not matter
};

// The acmFormatSuggest request: which fields of `wanted` the caller fixed.
struct FormatRequest {
  ACMWAVEFORMATEX wanted{};
  bool tag = false;
  bool channels = false;
  bool rate = false;
  bool bits = false;
};

struct ConvertOptions {
  bool blockAlign = false;  // convert whole source blocks only
  bool end = false;         // also give out everything held back; a fresh signal follows
};

class Converter {
 public:
  virtual ~Converter() = default;

  // Destination bytes that always hold the output of one convert() of `sourceBytes`, including
  // what was held back by earlier calls and what `end` gives out. nullopt when not representable.
  virtual std::optional<std::uint64_t> destinationBytesFor(std::uint64_t sourceBytes) const = 0;
  // Source bytes whose conversion never produces more than `destinationBytes` bytes in one call.
  virtual std::uint64_t sourceBytesFor(std::uint64_t destinationBytes) const = 0;

  // Forgets all history: the next call starts a fresh signal.
  virtual void reset() = 0;

  // Converts from the start of `source`, appending the output to `out`. Returns the source bytes
  // used (the rest is the caller's, to be offered again), or nullopt when the conversion failed.
  virtual std::optional<std::size_t> convert(std::span<const std::uint8_t> source,
                                             const ConvertOptions& options,
                                             std::vector<std::uint8_t>& out) = 0;
};

class Driver {
 public:
  virtual ~Driver() = default;

  // A codec changes the format tag; a converter keeps it (the PCM driver is a converter).
  virtual bool isCodec() const = 0;
  // The largest format record (with its extra bytes) this driver produces or accepts.
  virtual std::uint32_t maxFormatBytes() const = 0;

  // A destination format for `source` that this driver converts to in one step and that honours
  // the request, or nullopt.
  virtual std::optional<WaveFormat> suggest(const WaveFormat& source,
                                            const FormatRequest& request) const = 0;
  virtual bool canConvert(const WaveFormat& source, const WaveFormat& destination) const = 0;
  // A converter for a pair canConvert() accepts; null when its resources cannot be had.
  virtual std::unique_ptr<Converter> open(const WaveFormat& source, const WaveFormat& destination,
                                          Quality quality) const = 0;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_DRIVER_H
