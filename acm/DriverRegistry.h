// The installed drivers, in the order they are asked.
#ifndef QUELBARIN_ACM_DRIVERREGISTRY_H
#define QUELBARIN_ACM_DRIVERREGISTRY_H

#include <optional>
#include <span>

#include "acm/Driver.h"

namespace acm {

// Built once, on first use (thread-safe), and never changed afterwards.
std::span<const Driver* const> installedDrivers();

// The first installed driver's suggestion, or nullopt when none can.
std::optional<WaveFormat> suggestFormat(const WaveFormat& source, const FormatRequest& request);
// The first installed driver that converts source → destination in one step, or null.
const Driver* findDriver(const WaveFormat& source, const WaveFormat& destination);

}  // namespace acm

#endif  // QUELBARIN_ACM_DRIVERREGISTRY_H
