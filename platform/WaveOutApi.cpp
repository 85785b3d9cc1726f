#include "platform/WaveOutApi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/ClockOutput.h"
#include "platform/PortAudioHost.h"
#include "platform/PortAudioOutput.h"
#include "platform/ThreadMessageQueue.h"
#include "platform/WaveHeaderFlags.h"
#include "platform/WaveOutDevice.h"

// Device numbering: PortAudio's output devices (in PortAudio's order); while QD_WAVE_DEVICE asks
// for the null device ("null") or the file device recording into PATH ("file:PATH"), that device
// alone, number 0. The mapper follows QD_WAVE_DEVICE: "null", "file:PATH", or a device
// number; unset (or any other value) it takes PortAudio's default output, else any PortAudio
// output, and with none there is no device: a listener is told rather than played silence.

namespace platform {

namespace {

constexpr const char* kDeviceVariable = "QD_WAVE_DEVICE";
constexpr const char* kNullDeviceName = "Saída nula";
constexpr const char* kFileDeviceName = "Saída em arquivo WAV";
constexpr std::uint16_t kClockDeviceChannels = 2;
constexpr std::uint32_t kDriverVersion = 0x0100;
constexpr std::uint32_t kAllClassicFormats = 0x00000FFF;  // WAVE_FORMAT_1M08 .. WAVE_FORMAT_4S16
constexpr std::uint32_t kWaveCapsSampleAccurate = 0x0020;
constexpr std::uint32_t kMaxSampleRate = 1000000;

enum class DeviceKind { kPortAudio, kNull, kFile };

struct DeviceEntry {
  DeviceKind kind = DeviceKind::kNull;
  int output = -1;   // index into PortAudioHost::Outputs() for kPortAudio
  std::string path;  // kFile
  std::string name;
  int maxChannels = kClockDeviceChannels;
};

struct DeviceChoice {
  enum class Kind { kDefault, kNull, kFile, kNumber } kind = Kind::kDefault;
  std::string path;
  std::uint32_t number = 0;
};

DeviceChoice ReadDeviceVariable() {
  DeviceChoice choice;
  const char* value = std::getenv(kDeviceVariable);
  if (value == nullptr) return choice;
  const std::string text(value);
  if (text == "null") {
    choice.kind = DeviceChoice::Kind::kNull;
  } else if (text.rfind("file:", 0) == 0 && text.size() > 5) {
    choice.kind = DeviceChoice::Kind::kFile;
    choice.path = text.substr(5);
  } else if (!text.empty() && text.size() <= 9 &&
             std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    choice.kind = DeviceChoice::Kind::kNumber;
    choice.number = static_cast<std::uint32_t>(std::stoul(text));
  }
  return choice;
}

std::vector<DeviceEntry> Devices(const DeviceChoice& choice) {
  // A virtual device asked for is the only one, and PortAudio (with the sound server it would
  // contact) is not started at all: tests and measurements stay apart from the machine's sound.
  if (choice.kind == DeviceChoice::Kind::kNull) {
    return {DeviceEntry{DeviceKind::kNull, -1, {}, kNullDeviceName, kClockDeviceChannels}};
  }
  if (choice.kind == DeviceChoice::Kind::kFile) {
    return {DeviceEntry{DeviceKind::kFile, -1, choice.path, kFileDeviceName, kClockDeviceChannels}};
  }
  PortAudioHost& host = PortAudioHost::Instance();
  std::vector<DeviceEntry> devices;
  for (std::size_t i = 0; i < host.Outputs().size(); ++i) {
    const AudioOutputInfo& info = host.Outputs()[i];
    devices.push_back(
        DeviceEntry{DeviceKind::kPortAudio, static_cast<int>(i), {}, info.name, info.maxChannels});
  }
  return devices;
}

std::optional<DeviceEntry> Resolve(std::uint32_t deviceId) {
  const DeviceChoice choice = ReadDeviceVariable();
  const std::vector<DeviceEntry> devices = Devices(choice);
  if (deviceId != WAVE_MAPPER) {
    if (deviceId >= devices.size()) return std::nullopt;
    return devices[deviceId];
  }
  switch (choice.kind) {
    case DeviceChoice::Kind::kNull:
    case DeviceChoice::Kind::kFile:
      return devices.back();
    case DeviceChoice::Kind::kNumber:
      if (choice.number >= devices.size()) return std::nullopt;
      return devices[choice.number];
    case DeviceChoice::Kind::kDefault:
      break;
  }
  const int preferred = PortAudioHost::Instance().PreferredOutput();
  if (preferred < 0) return std::nullopt;
  return devices[static_cast<std::size_t>(preferred)];
}

// A well-formed PCM record: the byte counts agree with the channels, bits and rate.
bool IsValidPcm(const WAVEFORMATEX& format, int maxChannels) {
  const int bits = format.wBitsPerSample;
  if (format.wFormatTag != WAVE_FORMAT_PCM_TAG) return false;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (format.nChannels < 1 || format.nChannels > maxChannels) return false;
  if (format.nSamplesPerSec < 1 || format.nSamplesPerSec > kMaxSampleRate) return false;
  if (format.nBlockAlign != format.nChannels * bits / 8) return false;
  return format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

// The open devices, by handle. Calls hold a reference so a concurrent close cannot free the
// device under them.
class DeviceTable {
 public:
  static DeviceTable& Instance() {
    static DeviceTable table;
    return table;
  }
  void Add(const std::shared_ptr<WaveOutDevice>& device, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[device.get()] = Entry{device, path};
  }
  void Remove(HWAVEOUT handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.erase(handle);
  }
  std::shared_ptr<WaveOutDevice> Find(HWAVEOUT handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second.device;
  }
  bool Recording(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const auto& entry) { return entry.second.path == path; });
  }

 private:
  struct Entry {
    std::shared_ptr<WaveOutDevice> device;
    std::string path;  // the file device's recording, else empty
  };
  mutable std::mutex mutex_;
  std::unordered_map<HWAVEOUT, Entry> devices_;
};

// Copies `name` into a 32-byte field, cut at a character boundary of its UTF-8 text.
void CopyName(const std::string& name, char (&field)[32]) {
  std::size_t length = std::min(name.size(), sizeof(field) - 1);
  if (length < name.size()) {
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  }
  std::memset(field, 0, sizeof(field));
  std::memcpy(field, name.data(), length);
}

struct ErrorText {
  MMRESULT code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {MMSYSERR_NOERROR, "The specified command was carried out."},
    {MMSYSERR_ERROR, "Undefined external error."},
    {MMSYSERR_BADDEVICEID, "A device ID has been used that is out of range for your system."},
    {MMSYSERR_NOTENABLED, "The driver was not enabled."},
    {MMSYSERR_ALLOCATED,
     "The specified device is already in use.  Wait until it is free, and then try again."},
    {MMSYSERR_INVALHANDLE, "The specified device handle is invalid."},
    {MMSYSERR_NODRIVER, "There is no driver installed on your system."},
    {MMSYSERR_NOMEM,
     "There is not enough memory available for this task.  Quit one or more applications to "
     "increase available memory, and then try again."},
    {MMSYSERR_NOTSUPPORTED,
     "This function is not supported.  Use the Capabilities function to determine which "
     "functions and messages the driver supports."},
    {MMSYSERR_BADERRNUM, "An error number was specified that is not defined in the system."},
    {MMSYSERR_INVALFLAG, "An invalid flag was passed to a system function."},
    {MMSYSERR_INVALPARAM, "An invalid parameter was passed to a system function."},
    {WAVERR_BADFORMAT, "An attempt was made to open with an unsupported waveform-audio format."},
    {WAVERR_STILLPLAYING,
     "Cannot perform this operation while media data is still playing.  Reset the device, or "
     "wait until the data is finished playing."},
    {WAVERR_UNPREPARED,
     "The wave header was not prepared.  Use the Prepare function to prepare the header, and "
     "then try again."},
    {WAVERR_SYNC,
     "Cannot open the device without using the WAVE_ALLOWSYNC flag.  Use the flag, and then try "
     "again."},
};

}  // namespace

std::string waveOutMissingDeviceText(std::uint32_t deviceId) {
  const DeviceChoice choice = ReadDeviceVariable();
  const std::size_t count = Devices(choice).size();
  std::string text;
  if (deviceId != WAVE_MAPPER) {
    text = "There is no wave output device number " + std::to_string(deviceId);
  } else if (choice.kind == DeviceChoice::Kind::kNumber) {
    text = std::string(kDeviceVariable) + "=" + std::to_string(choice.number) +
           " names no wave output device";
  } else {
    return "No wave output device is available";
  }
  if (count == 0) return text + ": there is none.";
  if (count == 1) return text + ": there is one, number 0.";
  return text + ": there are " + std::to_string(count) + ", numbered 0 to " +
         std::to_string(count - 1) + ".";
}

std::uint32_t waveOutGetNumDevs() {
  return static_cast<std::uint32_t>(Devices(ReadDeviceVariable()).size());
}

MMRESULT waveOutGetDevCaps(std::uint32_t deviceId, WAVEOUTCAPS* caps, std::uint32_t size) {
  if (caps == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  const std::optional<DeviceEntry> device = Resolve(deviceId);
  if (!device) return MMSYSERR_BADDEVICEID;
  WAVEOUTCAPS full{};
  full.vDriverVersion = kDriverVersion;
  CopyName(device->name, full.szPname);
  full.dwFormats = kAllClassicFormats;
  full.wChannels = static_cast<std::uint16_t>(std::clamp(device->maxChannels, 1, 0xFFFF));
  full.dwSupport = kWaveCapsSampleAccurate;
  std::memcpy(caps, &full, std::min<std::size_t>(size, sizeof(full)));
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(HWAVEOUT* device, std::uint32_t deviceId, const WAVEFORMATEX* format,
                     std::uintptr_t callback, std::uintptr_t instance, std::uint32_t flags) {
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  if (format == nullptr || (device == nullptr && !query)) return MMSYSERR_INVALPARAM;
  const WaveOutTarget target{flags & CALLBACK_TYPEMASK, callback, instance};
  switch (target.kind) {
    case CALLBACK_NULL:
      break;
    case CALLBACK_WINDOW:
      if (!query && !Dispatcher::Instance().WindowExists(static_cast<WindowHandle>(callback))) {
        return MMSYSERR_INVALPARAM;
      }
      break;
    case CALLBACK_FUNCTION:
    case CALLBACK_THREAD:
      if (!query && callback == 0) return MMSYSERR_INVALPARAM;
      break;
    default:
      return MMSYSERR_INVALFLAG;
  }

  const std::optional<DeviceEntry> entry = Resolve(deviceId);
  if (!entry) return MMSYSERR_BADDEVICEID;
  if (!IsValidPcm(*format, std::max(entry->maxChannels, 1))) return WAVERR_BADFORMAT;
  AudioStreamSetup setup;
  if (entry->kind == DeviceKind::kPortAudio) {
    const MMRESULT result = PortAudioHost::Instance().Setup(entry->output, *format, &setup);
    if (result != MMSYSERR_NOERROR) return result;
  }
  if (query) return MMSYSERR_NOERROR;

  if (entry->kind == DeviceKind::kFile && DeviceTable::Instance().Recording(entry->path)) {
    return MMSYSERR_ALLOCATED;
  }
  std::shared_ptr<WaveOutDevice> opened;
  try {
    if (entry->kind == DeviceKind::kPortAudio) {
      opened = std::make_shared<PortAudioOutput>(*format, target, setup);
    } else {
      opened = std::make_shared<ClockOutput>(*format, target, entry->path);
    }
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  // The handle is known before MM_WOM_OPEN can arrive, and calls from the notification can use it.
  *device = opened.get();
  DeviceTable::Instance().Add(opened, entry->path);
  const MMRESULT result = opened->Open();
  if (result != MMSYSERR_NOERROR) {
    DeviceTable::Instance().Remove(opened.get());
    *device = nullptr;
  }
  return result;
}

MMRESULT waveOutClose(HWAVEOUT device) {
  const std::shared_ptr<WaveOutDevice> found = DeviceTable::Instance().Find(device);
  if (!found) return MMSYSERR_INVALHANDLE;
  const MMRESULT result = found->Close();
  if (found->Closed()) DeviceTable::Instance().Remove(device);
  return result;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, std::uint32_t size) {
  if (!DeviceTable::Instance().Find(device)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (LoadWaveHeaderFlags(header) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  ChangeWaveHeaderFlags(header, WHDR_PREPARED, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, std::uint32_t size) {
  if (!DeviceTable::Instance().Find(device)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (LoadWaveHeaderFlags(header) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  ChangeWaveHeaderFlags(header, 0, WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, std::uint32_t size) {
  const std::shared_ptr<WaveOutDevice> found = DeviceTable::Instance().Find(device);
  if (!found) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  return found->Write(header);
}

MMRESULT waveOutPause(HWAVEOUT device) {
  const std::shared_ptr<WaveOutDevice> found = DeviceTable::Instance().Find(device);
  return found ? found->Pause() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutRestart(HWAVEOUT device) {
  const std::shared_ptr<WaveOutDevice> found = DeviceTable::Instance().Find(device);
  return found ? found->Restart() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutReset(HWAVEOUT device) {
  const std::shared_ptr<WaveOutDevice> found = DeviceTable::Instance().Find(device);
  return found ? found->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutGetPosition(HWAVEOUT device, MMTIME* time, std::uint32_t size) {
  const std::shared_ptr<WaveOutDevice> found = DeviceTable::Instance().Find(device);
  if (!found) return MMSYSERR_INVALHANDLE;
  if (time == nullptr || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  const std::uint64_t frames = found->HeardFrames();
  const WAVEFORMATEX& format = found->Format();
  // The 32-bit fields wrap like the platform's counters do.
  switch (time->wType) {
    case TIME_SAMPLES:
      time->u.sample = static_cast<std::uint32_t>(frames);
      break;
    case TIME_MS:
      time->u.ms = static_cast<std::uint32_t>(frames * 1000 / format.nSamplesPerSec);
      break;
    default:
      time->wType = TIME_BYTES;
      time->u.cb = static_cast<std::uint32_t>(frames * format.nBlockAlign);
      break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorText(MMRESULT error, char* text, std::uint32_t size) {
  if (text == nullptr || size == 0) return MMSYSERR_INVALPARAM;
  text[0] = '\0';
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code != error) continue;
    const std::size_t length = std::min<std::size_t>(std::strlen(entry.text), size - 1);
    std::memcpy(text, entry.text, length);
    text[length] = '\0';
    return MMSYSERR_NOERROR;
  }
  return MMSYSERR_BADERRNUM;
}

}  // namespace platform
