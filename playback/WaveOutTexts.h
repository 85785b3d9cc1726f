// The texts the wave output shows in its errors and messages, shared by its source files.
// Threading: constants, any thread.
#pragma once

namespace playback::waveout_text {

inline constexpr const char* kChangeWhileOpen = "Change to property while device was open";
inline constexpr const char* kNoDevice = "No wave audio playing device found";
inline constexpr const char* kInvalidDeviceId = "Invalid DeviceID";
inline constexpr const char* kInvalidFormat = "Invalid wave format";
inline constexpr const char* kCantPlay = "The actual device can''t play this format";
inline constexpr const char* kUnableToOpen = "Unable to open device";
inline constexpr const char* kNoMemory = "Unable to allocate memory for wave header";
inline constexpr const char* kUnableToStart = "Unable to start device";
inline constexpr const char* kFillError = "Error filling wave buffer";
inline constexpr const char* kUnableToClose = "Unable to close device";
inline constexpr const char* kNoThread = "WaveOut:\n\rCould not create thread";
inline constexpr const char* kThreadStuck = "Thread did not respond";
inline constexpr const char* kUnknownError =
    "Specified error number is out of range (unknown error)";
inline constexpr const char* kCallbackRefused =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
    "Windows 95";

// Prefixes naming the operation that failed.
inline constexpr const char* kPrefixOpen = "WaveOutOpen:\n\r";
inline constexpr const char* kPrefixStart = "WaveOutStart:\n\r";
inline constexpr const char* kPrefixWrite = "WaveOutWrite:\n\r";
inline constexpr const char* kPrefixPrepare = "WaveOutPrepareHeader:\n\r";
inline constexpr const char* kPrefixPause = "WaveOutPause:\n\r";
inline constexpr const char* kPrefixReset = "WaveOutReset:\n\r";
inline constexpr const char* kPrefixRestart = "WaveOutRestart:\n\r";
inline constexpr const char* kPrefixPosition = "WaveOutGetPosition:\n\r";
inline constexpr const char* kPrefixClose = "WaveOutClose:\n\r";

}  // namespace playback::waveout_text
