// The manager: argument checking, stream handles, header bookkeeping and output delivery. The
// conversions themselves are the drivers' (Driver.h).
//
// Delivery: a driver's output for one call goes to the stream's output queue first, and each
// acmStreamConvert hands out as much of the queue as fits in cbDstLength (whole destination
// blocks). A destination sized by acmStreamSize always takes everything, so the queue is empty
// after every such call; a smaller destination gets the rest, in order, on the next call.
#include "acm/msacm.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "acm/Driver.h"
#include "acm/DriverRegistry.h"
#include "acm/WaveFormat.h"

// Metric numbers answered by acmMetrics (the platform's values).
namespace {
constexpr std::uint32_t kMetricCountDrivers = 1;
constexpr std::uint32_t kMetricCountCodecs = 2;
constexpr std::uint32_t kMetricCountConverters = 3;
constexpr std::uint32_t kMetricCountFilters = 4;
constexpr std::uint32_t kMetricCountDisabled = 5;
constexpr std::uint32_t kMetricCountHardware = 6;
constexpr std::uint32_t kMetricCountLocalDrivers = 20;
constexpr std::uint32_t kMetricCountLocalCodecs = 21;
constexpr std::uint32_t kMetricCountLocalConverters = 22;
constexpr std::uint32_t kMetricCountLocalFilters = 23;
constexpr std::uint32_t kMetricCountLocalDisabled = 24;
constexpr std::uint32_t kMetricMaxSizeFormat = 50;

constexpr std::uint32_t kSuggestFlags =
    ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
    ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
// The callback kind bits of acmStreamOpen; they only matter with ASYNC, which is refused.
constexpr std::uint32_t kOpenCallbackMask = 0x00070000u;
constexpr std::uint32_t kOpenFlags =
    ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME | kOpenCallbackMask;
constexpr std::uint32_t kConvertFlags =
    ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;

// What acmStreamPrepareHeader records in the header's driver words.
constexpr int kReservedStream = 0;       // serial number of the stream it was prepared on
constexpr int kReservedSourceBytes = 1;  // cbSrcLength at preparation: the most a call may pass
constexpr int kReservedDestinationBytes = 2;  // cbDstLength at preparation

// Runs an entry point's body; nothing thrown crosses the C interface.
template <typename Body>
MMRESULT guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  } catch (...) {
    return MMSYSERR_ERROR;
  }
}

}  // namespace

struct acm_stream {
  std::unique_ptr<acm::Converter> converter;
  std::uint32_t serial = 0;
  std::uint32_t destinationBlock = 1;
  // Output produced but not yet handed out: bytes [outputRead, output.size()).
  std::vector<std::uint8_t> output;
  std::size_t outputRead = 0;
};

namespace {

// The open streams, so that a stale or made-up handle is refused instead of followed. Each
// stream is used by one thread at a time; the table itself is shared by all.
class StreamTable {
 public:
  void add(acm_stream* stream) {
    std::lock_guard lock(mutex_);
    live_.insert(stream);
  }
  bool contains(HACMSTREAM stream) {
    std::lock_guard lock(mutex_);
    return stream != nullptr && live_.count(stream) != 0;
  }
  // True when the stream was open; it is no longer afterwards.
  bool remove(HACMSTREAM stream) {
    std::lock_guard lock(mutex_);
    return stream != nullptr && live_.erase(stream) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<acm_stream*> live_;
};

StreamTable& streams() {
  static StreamTable table;
  return table;
}

std::atomic<std::uint32_t> nextSerial{1};

// Callers may fill cbStruct with 84, the size of the header record in its packed 32-bit layout;
// the record they pass is always this library's full ACMSTREAMHEADER.
constexpr std::uint32_t kLegacyHeaderBytes = 84;

bool headerSizeOk(const ACMSTREAMHEADER* header) {
  return header != nullptr &&
         (header->cbStruct == kLegacyHeaderBytes || header->cbStruct >= sizeof(ACMSTREAMHEADER));
}

bool preparedOn(const ACMSTREAMHEADER& header, const acm_stream& stream) {
  return (header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0 &&
         header.dwReservedDriver[kReservedStream] == stream.serial;
}

acm::FormatRequest requestFrom(const ACMWAVEFORMATEX& wanted, std::uint32_t flags) {
  acm::FormatRequest request;
  std::memcpy(&request.wanted, &wanted, acm::kFormatHeaderBytes);
  request.tag = (flags & ACM_FORMATSUGGESTF_WFORMATTAG) != 0;
  request.channels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) != 0;
  request.rate = (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0;
  request.bits = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0;
  return request;
}

}  // namespace

uint32_t acmGetVersion(void) {
  return ACM_VERSION;
}

MMRESULT acmMetrics(HACMOBJ object, uint32_t metric, void* value) {
  return guarded([&]() -> MMRESULT {
    if (value == nullptr) return MMSYSERR_INVALPARAM;
    // Metrics of one driver or stream are not kept.
    if (object != nullptr) return MMSYSERR_NOTSUPPORTED;
    std::uint32_t codecs = 0;
    std::uint32_t converters = 0;
    std::uint32_t maxFormat = 0;
    for (const acm::Driver* driver : acm::installedDrivers()) {
      ++(driver->isCodec() ? codecs : converters);
      maxFormat = std::max(maxFormat, driver->maxFormatBytes());
    }
    std::uint32_t answer = 0;
    switch (metric) {
      case kMetricCountDrivers:
      case kMetricCountLocalDrivers:
        answer = codecs + converters;
        break;
      case kMetricCountCodecs:
      case kMetricCountLocalCodecs:
        answer = codecs;
        break;
      case kMetricCountConverters:
      case kMetricCountLocalConverters:
        answer = converters;
        break;
      case kMetricCountFilters:
      case kMetricCountLocalFilters:
      case kMetricCountDisabled:
      case kMetricCountLocalDisabled:
      case kMetricCountHardware:
        answer = 0;
        break;
      case kMetricMaxSizeFormat:
        answer = maxFormat;
        break;
      default:
        return MMSYSERR_NOTSUPPORTED;
    }
    std::memcpy(value, &answer, sizeof answer);
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmDriverEnum(void*, uintptr_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverDetailsA(HACMDRIVERID, void*, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverAddA(HACMDRIVERID*, void*, intptr_t, uint32_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverRemove(HACMDRIVERID, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverOpen(HACMDRIVER*, HACMDRIVERID, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverClose(HACMDRIVER, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
intptr_t acmDriverMessage(HACMDRIVER, uint32_t, intptr_t, intptr_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverID(HACMOBJ, HACMDRIVERID*, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmDriverPriority(HACMDRIVERID, uint32_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFormatTagDetailsA(HACMDRIVER, void*, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFormatTagEnumA(HACMDRIVER, void*, void*, uintptr_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFormatChooseA(void*) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFormatDetailsA(HACMDRIVER, void*, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFormatEnumA(HACMDRIVER, void*, void*, uintptr_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFilterTagDetailsA(HACMDRIVER, void*, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFilterTagEnumA(HACMDRIVER, void*, void*, uintptr_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFilterChooseA(void*) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFilterDetailsA(HACMDRIVER, void*, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}
MMRESULT acmFilterEnumA(HACMDRIVER, void*, void*, uintptr_t, uint32_t) {
  return MMSYSERR_NOTSUPPORTED;
}

MMRESULT acmFormatSuggest(HACMDRIVER driver, const ACMWAVEFORMATEX* source,
                          ACMWAVEFORMATEX* destination, uint32_t cbDestination, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    // No driver handles are given out, so any is unknown.
    if (driver != nullptr) return MMSYSERR_INVALHANDLE;
    if ((flags & ~kSuggestFlags) != 0) return MMSYSERR_INVALFLAG;
    if (source == nullptr || destination == nullptr || cbDestination < acm::kFormatHeaderBytes) {
      return MMSYSERR_INVALPARAM;
    }
    const acm::WaveFormat from = acm::WaveFormat::read(*source);
    const acm::FormatRequest request = requestFrom(*destination, flags);
    const std::optional<acm::WaveFormat> suggested = acm::suggestFormat(from, request);
    if (!suggested) return ACMERR_NOTPOSSIBLE;
    if (suggested->byteSize() > cbDestination) return MMSYSERR_INVALPARAM;
    suggested->write(destination);
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, const ACMWAVEFORMATEX* source,
                       const ACMWAVEFORMATEX* destination, void* filter, uintptr_t callback,
                       uintptr_t instance, uint32_t flags) {
  (void)callback;
  (void)instance;
  return guarded([&]() -> MMRESULT {
    if (stream != nullptr) *stream = nullptr;
    if ((flags & ~kOpenFlags) != 0) return MMSYSERR_INVALFLAG;
    const bool query = (flags & ACM_STREAMOPENF_QUERY) != 0;
    if (source == nullptr || destination == nullptr) return MMSYSERR_INVALPARAM;
    if (stream == nullptr && !query) return MMSYSERR_INVALPARAM;
    if (driver != nullptr) return MMSYSERR_INVALHANDLE;
    // No filters, and every conversion runs in the caller's thread.
    if (filter != nullptr || (flags & ACM_STREAMOPENF_ASYNC) != 0) return ACMERR_NOTPOSSIBLE;

    const acm::WaveFormat from = acm::WaveFormat::read(*source);
    const acm::WaveFormat to = acm::WaveFormat::read(*destination);
    const acm::Driver* chosen = acm::findDriver(from, to);
    if (chosen == nullptr) return ACMERR_NOTPOSSIBLE;
    if (query) return MMSYSERR_NOERROR;

    const acm::Quality quality =
        (flags & ACM_STREAMOPENF_NONREALTIME) != 0 ? acm::Quality::kBest : acm::Quality::kRealtime;
    auto opened = std::make_unique<acm_stream>();
    opened->converter = chosen->open(from, to, quality);
    if (!opened->converter) return MMSYSERR_NOMEM;
    opened->serial = nextSerial.fetch_add(1);
    opened->destinationBlock = std::max<std::uint32_t>(1, to.header.nBlockAlign);
    streams().add(opened.get());
    *stream = opened.release();
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    if (!streams().contains(stream)) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!streams().remove(stream)) return MMSYSERR_INVALHANDLE;
    delete stream;
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    if (output != nullptr) *output = 0;
    if (!streams().contains(stream)) return MMSYSERR_INVALHANDLE;
    if ((flags & ~ACM_STREAMSIZEF_DESTINATION) != 0) return MMSYSERR_INVALFLAG;
    if (output == nullptr || input == 0) return MMSYSERR_INVALPARAM;
    std::uint64_t answer = 0;
    if (flags == ACM_STREAMSIZEF_SOURCE) {
      answer = stream->converter->destinationBytesFor(input).value_or(0);
    } else {
      answer = stream->converter->sourceBytesFor(input);
    }
    // Too little to convert a single block, or more than a buffer size can say.
    if (answer == 0 || answer > UINT32_MAX) return ACMERR_NOTPOSSIBLE;
    *output = static_cast<std::uint32_t>(answer);
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    if (!streams().contains(stream)) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!headerSizeOk(header) || header->pbSrc == nullptr || header->pbDst == nullptr) {
      return MMSYSERR_INVALPARAM;
    }
    // Preparing a header twice on the same stream changes nothing.
    if (preparedOn(*header, *stream)) return MMSYSERR_NOERROR;
    header->dwReservedDriver[kReservedStream] = stream->serial;
    header->dwReservedDriver[kReservedSourceBytes] = header->cbSrcLength;
    header->dwReservedDriver[kReservedDestinationBytes] = header->cbDstLength;
    header->fdwStatus =
        (header->fdwStatus & ~(ACMSTREAMHEADER_STATUSF_DONE | ACMSTREAMHEADER_STATUSF_INQUEUE)) |
        ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
  });
}

// The buffer lengths need not be those of the preparation: the application shortens
// cbSrcLength from call to call and unprepares without restoring it.
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    if (!streams().contains(stream)) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!headerSizeOk(header)) return MMSYSERR_INVALPARAM;
    if (!preparedOn(*header, *stream)) return ACMERR_UNPREPARED;
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) != 0) return ACMERR_BUSY;
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    header->dwReservedDriver[kReservedStream] = 0;
    header->dwReservedDriver[kReservedSourceBytes] = 0;
    header->dwReservedDriver[kReservedDestinationBytes] = 0;
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    if (!streams().contains(stream)) return MMSYSERR_INVALHANDLE;
    if ((flags & ~kConvertFlags) != 0) return MMSYSERR_INVALFLAG;
    if (!headerSizeOk(header)) return MMSYSERR_INVALPARAM;
    if (!preparedOn(*header, *stream)) return ACMERR_UNPREPARED;
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) != 0) return ACMERR_BUSY;
    // A header serves buffers no larger than those it was prepared with.
    if (header->cbSrcLength > header->dwReservedDriver[kReservedSourceBytes] ||
        header->cbDstLength > header->dwReservedDriver[kReservedDestinationBytes] ||
        (header->cbSrcLength > 0 && header->pbSrc == nullptr) ||
        (header->cbDstLength > 0 && header->pbDst == nullptr)) {
      return MMSYSERR_INVALPARAM;
    }

    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    acm_stream& s = *stream;
    if ((flags & ACM_STREAMCONVERTF_START) != 0) {
      s.converter->reset();
      s.output.clear();
      s.outputRead = 0;
    }
    s.output.erase(s.output.begin(), s.output.begin() + static_cast<std::ptrdiff_t>(s.outputRead));
    s.outputRead = 0;

    acm::ConvertOptions options;
    options.blockAlign = (flags & ACM_STREAMCONVERTF_BLOCKALIGN) != 0;
    options.end = (flags & ACM_STREAMCONVERTF_END) != 0;
    const std::span<const std::uint8_t> source(header->pbSrc, header->cbSrcLength);
    const std::optional<std::size_t> used = s.converter->convert(source, options, s.output);
    if (!used) return MMSYSERR_ERROR;

    const std::size_t room = header->cbDstLength - header->cbDstLength % s.destinationBlock;
    const std::size_t given = std::min(room, s.output.size());
    if (given > 0) std::memcpy(header->pbDst, s.output.data(), given);
    s.outputRead = given;
    header->cbSrcLengthUsed = static_cast<std::uint32_t>(*used);
    header->cbDstLengthUsed = static_cast<std::uint32_t>(given);
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
  });
}

// Conversions are synchronous, so nothing is ever queued that could be stopped; the driver's
// state is kept (acmStreamConvert with START resets it).
MMRESULT acmStreamReset(HACMSTREAM stream, uint32_t flags) {
  return guarded([&]() -> MMRESULT {
    if (!streams().contains(stream)) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    return MMSYSERR_NOERROR;
  });
}
