// The waveform-audio output (the stand-in for winmm's waveOut functions): devices that play PCM
// buffers in the order they are written, hand each buffer back once and in order when it has
// been heard, and tell how much has been heard. Devices are PortAudio's output devices, in
// PortAudio's order, unless QD_WAVE_DEVICE asks for one of our own, which is then the only device
// (number 0) and PortAudio is not started: a null device ("null") that consumes buffers at
// real-time pace from a clock, or a file device ("file:PATH") that records everything played into
// a WAV file (also at real-time pace, so a player behaves as with a card).
// The wave mapper (WAVE_MAPPER) follows QD_WAVE_DEVICE: "null", "file:PATH" or a device number;
// unset (or anything else) it is PortAudio's default output when that has an output channel,
// else the first PortAudio output; with no PortAudio output there is no device at all.
// Buffers come back (WHDR_DONE set, WHDR_INQUEUE cleared, then MM_WOM_DONE) in the order written,
// once their last frame has been heard. waveOutGetPosition counts what has been heard: for
// PortAudio the frames taken less those still in the output latency, for the null and file
// devices what their clock has consumed; it is monotonic, never beyond what was written, and 0
// after waveOutReset (which keeps the pause state and returns every queued buffer, notified, before
// it returns). Close from a CALLBACK_FUNCTION callback is refused (MMSYSERR_ERROR).
// Threading: every function may be called from any thread, one call per handle at a time except
// waveOutGetPosition, which may run beside the others. Notifications (MM_WOM_OPEN, MM_WOM_DONE,
// MM_WOM_CLOSE) are delivered in order, one at a time: posted to a dispatcher window
// (CALLBACK_WINDOW), posted to a thread queue (CALLBACK_THREAD), or called on the device's own
// notification thread (CALLBACK_FUNCTION) - never on the audio callback thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Dispatcher.h"

namespace platform {

using MMRESULT = std::uint32_t;
struct WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;  // null: no device

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;

// Device numbers: 0 .. waveOutGetNumDevs() - 1, or the mapper.
constexpr std::uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// waveOutOpen flags.
constexpr std::uint32_t CALLBACK_NULL = 0x00000000;
constexpr std::uint32_t CALLBACK_WINDOW = 0x00010000;
constexpr std::uint32_t CALLBACK_THREAD = 0x00020000;
constexpr std::uint32_t CALLBACK_FUNCTION = 0x00030000;
constexpr std::uint32_t CALLBACK_TYPEMASK = 0x00070000;
constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr std::uint32_t WAVE_MAPPED = 0x0004;

// Notifications: wParam (param1) is the device handle, lParam (param2) the WAVEHDR* for DONE.
constexpr std::uint32_t MM_WOM_OPEN = 0x3BB;
constexpr std::uint32_t MM_WOM_CLOSE = 0x3BC;
constexpr std::uint32_t MM_WOM_DONE = 0x3BD;

// WAVEHDR dwFlags.
constexpr std::uint32_t WHDR_DONE = 0x01;
constexpr std::uint32_t WHDR_PREPARED = 0x02;
constexpr std::uint32_t WHDR_BEGINLOOP = 0x04;
constexpr std::uint32_t WHDR_ENDLOOP = 0x08;
constexpr std::uint32_t WHDR_INQUEUE = 0x10;

// MMTIME wType.
constexpr std::uint32_t TIME_MS = 0x0001;
constexpr std::uint32_t TIME_SAMPLES = 0x0002;
constexpr std::uint32_t TIME_BYTES = 0x0004;

constexpr std::uint16_t WAVE_FORMAT_PCM_TAG = 1;

#pragma pack(push, 1)
// The wave format record (WAVEFORMATEX), layout-compatible with stream::TWaveFormatEx.
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};

// The buffer header (WAVEHDR), layout-compatible with the first 32 bytes of stream::TWaveHdr:
// every field is 32 bits wide, so the data's address is kept as an offset from the header.
struct WAVEHDR {
  std::uint32_t lpData;  // offset of the data from this header's own address
  std::uint32_t dwBufferLength;
  std::uint32_t dwBytesRecorded;
  std::uint32_t dwUser;
  std::uint32_t dwFlags;
  std::uint32_t dwLoops;
  std::uint32_t lpNext;
  std::uint32_t reserved;

  char* Data() { return reinterpret_cast<char*>(this) + lpData; }
  const char* Data() const { return reinterpret_cast<const char*>(this) + lpData; }
};

// Device capabilities (WAVEOUTCAPS, 52 bytes).
struct WAVEOUTCAPS {
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[32];  // zero-terminated device name, cut to fit
  std::uint32_t dwFormats;
  std::uint16_t wChannels;
  std::uint16_t wReserved1;
  std::uint32_t dwSupport;
};

struct MMTIME {
  std::uint32_t wType;  // TIME_MS, TIME_SAMPLES or TIME_BYTES; others are answered in bytes
  union {
    std::uint32_t ms;
    std::uint32_t sample;
    std::uint32_t cb;
  } u;
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEHDR) == 32);
static_assert(sizeof(WAVEOUTCAPS) == 52);
static_assert(sizeof(MMTIME) == 8);

// CALLBACK_FUNCTION: called on the device's notification thread, with the same parameters as the
// window message: param1 the device handle, param2 the WAVEHDR* (MM_WOM_DONE) or 0.
using WaveOutProc = void (*)(HWAVEOUT device, std::uint32_t message, std::uintptr_t instance,
                             std::uintptr_t param1, std::uintptr_t param2);

// CALLBACK_THREAD: the callback argument is a ThreadMessageQueue* that the receiving thread
// reads (the stand-in for a thread's message queue and PostThreadMessage).
class ThreadMessageQueue;

std::uint32_t waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(std::uint32_t deviceId, WAVEOUTCAPS* caps, std::uint32_t size);
// callback: a WindowHandle (CALLBACK_WINDOW), a WaveOutProc (CALLBACK_FUNCTION) or a
// ThreadMessageQueue* (CALLBACK_THREAD), cast to uintptr_t.
MMRESULT waveOutOpen(HWAVEOUT* device, std::uint32_t deviceId, const WAVEFORMATEX* format,
                     std::uintptr_t callback, std::uintptr_t instance, std::uint32_t flags);
MMRESULT waveOutClose(HWAVEOUT device);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, std::uint32_t size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, std::uint32_t size);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, std::uint32_t size);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutGetPosition(HWAVEOUT device, MMTIME* time, std::uint32_t size);
MMRESULT waveOutGetErrorText(MMRESULT error, char* text, std::uint32_t size);
// Why a device number (or the mapper) that waveOutOpen refused with MMSYSERR_BADDEVICEID names no
// device, for the user: the number asked for, where it came from and how many devices there are.
std::string waveOutMissingDeviceText(std::uint32_t deviceId);

}  // namespace platform
