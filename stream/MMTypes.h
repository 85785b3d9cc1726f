// Enumerations and event types shared by every stream component.
#pragma once

#include <cstdint>
#include <functional>

#include "stream/Object.h"
#include "stream/WaveHdr.h"

namespace stream {

enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };
enum TMMBits { b8Bit, b16Bit };
enum TMMMode { mMono, mStereo, mMultiChannel };
enum TMMChannel { chBoth, chLeft, chRight };
// Where a device handles buffer completions: on the main thread through its hidden window, in the
// driver callback, or on a worker thread of its own.
enum TMMCBMode { cmWindow, cmCallback, cmThread };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Device number; the wave mapper is MapperId.
using TMMDeviceId = std::int32_t;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMMBufferEvent = std::function<void(TObject* Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TObject* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;
using TMMErrorEvent = std::function<void(TObject* Sender, bool& Handled)>;

}  // namespace stream
