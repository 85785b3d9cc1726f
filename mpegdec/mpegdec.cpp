// The C entry points: each finds its instance and hands the call on. What they do is
// documented in mpegdec.h; the work is done by MpegInstance (states), BoundFile (binding and
// measuring), Playback (reading and positioning) and Decoder (libmpg123).
#include "mpegdec/mpegdec.h"

#include <cstring>
#include <new>
#include <string>

#include "mpegdec/Clamp.h"
#include "mpegdec/Decoder.h"
#include "mpegdec/ErrorText.h"
#include "mpegdec/FileDescriptor.h"
#include "mpegdec/InstanceRegistry.h"
#include "mpegdec/MpegInstance.h"

using mpegdec::InstanceRegistry;

namespace {

mpeg_instance* lookup(MPEG_HANDLE handle) {
  return InstanceRegistry::find(handle);
}

}  // namespace

extern "C" {

int32_t mpeg_Version(void) {
  return MPEGDEC_VERSION;
}

MPEG_HANDLE mpeg_Init(int32_t* code, mpeg_change_callback callback, void* data) {
  auto* instance = new (std::nothrow) mpeg_instance(callback, data);
  if (!instance || !mpegdec::Decoder::libraryReady()) {
    delete instance;
    if (code) *code = instance ? MPEG_ERR_DECODE_FAILED : MPEG_ERR_NO_MEMORY;
    return nullptr;
  }
  InstanceRegistry::add(instance);
  if (code) *code = MPEG_OK;
  return instance;
}

int32_t mpeg_Done(MPEG_HANDLE* handle) {
  if (!handle || !InstanceRegistry::remove(*handle)) return MPEG_ERR_NO_HANDLE;
  delete *handle;
  *handle = nullptr;
  return MPEG_OK;
}

int32_t mpeg_SetDecodeCallback(MPEG_HANDLE handle, mpeg_decode_callback callback, void* data) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  instance->setDecodeCallback(callback, data);
  return MPEG_OK;
}

// Only the normal decode mode (0) exists.
int32_t mpeg_SetDecodeMode(MPEG_HANDLE handle, int32_t mode) {
  if (!lookup(handle)) return MPEG_ERR_NO_HANDLE;
  return mode == 0 ? MPEG_OK : MPEG_ERR_UNSUPPORTED;
}

int32_t mpeg_Clear(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->clear() : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_SetTrailingHeader(MPEG_HANDLE handle, int32_t bytes) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (bytes < 0) return MPEG_ERR_BAD_ARGUMENT;
  instance->setTrailingBytes(bytes);
  return MPEG_OK;
}

int32_t mpeg_SetFileOffset(MPEG_HANDLE handle, int32_t offset) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (offset < 0) return MPEG_ERR_BAD_ARGUMENT;
  instance->setFileOffset(offset);
  return MPEG_OK;
}

// Positioning is always exact; the setting is accepted and changes nothing.
int32_t mpeg_SetExactPosition(MPEG_HANDLE handle, int32_t /*exact*/) {
  return lookup(handle) ? MPEG_OK : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_SetFileName(MPEG_HANDLE handle, const char* name) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->bind(name) : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_GetFileName(MPEG_HANDLE handle, char* buffer, int32_t size) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!buffer || size <= 0) return MPEG_ERR_BAD_ARGUMENT;
  buffer[0] = '\0';
  if (!instance->bound()) return MPEG_ERR_NO_FILE;
  const std::string& name = instance->bound()->name();
  if (name.size() >= size_t(size)) return MPEG_ERR_BAD_ARGUMENT;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return MPEG_OK;
}

int32_t mpeg_GetEmpty(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return !instance || !instance->bound();
}

int32_t mpeg_GetFileInfo(MPEG_HANDLE handle, TMpegFileInfo* info) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!info) return MPEG_ERR_BAD_ARGUMENT;
  if (!instance->bound()) {
    *info = TMpegFileInfo{};
    return MPEG_ERR_NO_FILE;
  }
  *info = instance->bound()->info();
  return MPEG_OK;
}

int32_t mpeg_SetChannelMode(MPEG_HANDLE handle, int32_t mode) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->setChannelMode(mode) : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_GetChannelMode(MPEG_HANDLE handle, int32_t* mode) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!mode) return MPEG_ERR_BAD_ARGUMENT;
  const uint8_t value = uint8_t(instance->channelMode());
  std::memcpy(mode, &value, 1);  // the low byte of a little-endian value
  return MPEG_OK;
}

int32_t mpeg_SetSampleFormat(MPEG_HANDLE handle, int32_t format) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->setSampleFormat(format) : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_GetSampleFormat(MPEG_HANDLE handle, int32_t* format) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!format) return MPEG_ERR_BAD_ARGUMENT;
  *format = instance->sampleFormat();
  return MPEG_OK;
}

int32_t mpeg_GetClipCount(MPEG_HANDLE handle, int64_t* count) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!count) return MPEG_ERR_BAD_ARGUMENT;
  *count = instance->clippedSamples();
  return MPEG_OK;
}

int32_t mpeg_SetPosition(MPEG_HANDLE handle, int32_t frame) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->setPosition(frame) : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_GetPosition(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->position() : -1;
}

int32_t mpeg_OpenFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->open() : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_CloseFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->close() : MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_ResetFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!instance->isOpen()) return MPEG_ERR_NOT_OPEN;
  return instance->setPosition(0);
}

int32_t mpeg_ReadDataBytes(MPEG_HANDLE handle, void* buffer, int32_t count) {
  mpeg_instance* instance = lookup(handle);
  return instance ? instance->read(buffer, count) : -MPEG_ERR_NO_HANDLE;
}

int32_t mpeg_ReadDataBytesEx(MPEG_HANDLE handle, void* buffer, int32_t count, int32_t* frame) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return -MPEG_ERR_NO_HANDLE;
  if (frame) *frame = instance->position();
  return instance->read(buffer, count);
}

int32_t mpeg_AbortReadData(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  instance->requestAbort();
  return MPEG_OK;
}

int32_t mpeg_GetDone(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  return !instance || instance->done();
}

int32_t mpeg_PlanSegments(MPEG_HANDLE handle, int32_t max, int64_t minSamples,
                          TMpegSegment* segments, int32_t* count) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  try {
    return instance->planSegments(max, minSamples, segments, count);
  } catch (const std::bad_alloc&) {
    return MPEG_ERR_NO_MEMORY;
  }
}

int32_t mpeg_OpenSegment(MPEG_HANDLE handle, const TMpegSegment* segment) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  try {
    return instance->openSegment(segment);
  } catch (const std::bad_alloc&) {
    return MPEG_ERR_NO_MEMORY;
  }
}

// Binding already scans every frame header, so Frames and Time are exact without this.
int32_t mpeg_ScanFile(MPEG_HANDLE handle) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  return instance->bound() ? MPEG_OK : MPEG_ERR_NO_FILE;
}

int32_t mpeg_ScanFileEx(MPEG_HANDLE handle, mpeg_decode_callback progress, void* data) {
  mpeg_instance* instance = lookup(handle);
  if (!instance) return MPEG_ERR_NO_HANDLE;
  if (!instance->bound()) return MPEG_ERR_NO_FILE;
  const int32_t bytes = mpegdec::clampToInt32(int64_t(instance->bound()->streamBytes()));
  if (progress && progress(data, bytes) != 0) return MPEG_ERR_ABORTED;
  return MPEG_OK;
}

int32_t mpeg_EncryptFile(const char* /*source*/, const char* /*destination*/, int32_t /*key*/) {
  return MPEG_ERR_UNSUPPORTED;
}

int32_t mpeg_ReadID3Tag(const char* name, void* tag128) {
  if (!name || !tag128) return MPEG_ERR_BAD_ARGUMENT;
  std::memset(tag128, 0, 128);
  if (mpegdec::isUnsupportedName(name)) return MPEG_ERR_UNSUPPORTED_NAME;
  mpegdec::FileDescriptor file;
  uint64_t size = 0;
  mpegdec::openRegularFile(name, file, size);
  if (file.get() < 0) return MPEG_ERR_OPEN_FAILED;
  uint8_t tag[128];
  if (size < 128 || mpegdec::readFully(file.get(), size - 128, tag, 128) != 128 ||
      std::memcmp(tag, "TAG", 3) != 0) {
    return MPEG_ERR_NOT_MPEG;
  }
  std::memcpy(tag128, tag, 128);
  return MPEG_OK;
}

int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size) {
  return mpegdec::writeErrorText(code, buffer, size);
}

}  // extern "C"
