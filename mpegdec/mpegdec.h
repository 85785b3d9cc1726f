/* The MPEG audio decoder library: a flat C interface over libmpg123, built as a shared module
 * (libmmmpeg.so) that the application loads at run time. It decodes MPEG 1, 2 and 2.5 audio,
 * layers I, II and III, to 16-bit little-endian PCM, gapless (encoder delay and padding of
 * LAME/Xing headers are trimmed).
 *
 * Conventions: every function returns 0 or a positive error number unless it says otherwise;
 * mpeg_GetErrorText turns a number into a text. Booleans are 32-bit values of which only the low
 * byte counts. A handle is used by one thread at a time. The library never prints and never
 * aborts. Names are file paths; the "RESOURCE://" and "POINTER://" forms are refused (error
 * MPEG_ERR_UNSUPPORTED_NAME). */
#ifndef QUELBARIN_MPEGDEC_H
#define QUELBARIN_MPEGDEC_H

#include <stdint.h>

#if defined(MPEGDEC_BUILD)
#define MPEGDEC_API __attribute__((visibility("default")))
#else
#define MPEGDEC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Grows when an entry point is added; the application accepts 20 and above. */
#define MPEGDEC_VERSION 20

/* Error numbers. */
#define MPEG_OK 0
#define MPEG_ERR_NO_HANDLE 1 /* null or unknown handle */
#define MPEG_ERR_NO_MEMORY 2
#define MPEG_ERR_OPEN_FAILED 3  /* the file cannot be opened or read */
#define MPEG_ERR_NOT_MPEG 4     /* no MPEG audio stream found */
#define MPEG_ERR_NO_FILE 5      /* no file is bound */
#define MPEG_ERR_NOT_OPEN 6     /* the bound file is not open for decoding */
#define MPEG_ERR_ALREADY_OPEN 7 /* not allowed while open for decoding */
#define MPEG_ERR_BAD_ARGUMENT 8
#define MPEG_ERR_SEEK_FAILED 9
#define MPEG_ERR_DECODE_FAILED 10
#define MPEG_ERR_UNSUPPORTED 11      /* an entry point this library does not implement */
#define MPEG_ERR_UNSUPPORTED_NAME 12 /* "RESOURCE://" and "POINTER://" names */
#define MPEG_ERR_ABORTED 13

/* TMpegVersion */
#define MPEG_VERSION_2LSF 0 /* MPEG 2 and 2.5 */
#define MPEG_VERSION_1 1
/* TSampleMode */
#define MPEG_MODE_STEREO 0
#define MPEG_MODE_JOINT_STEREO 1
#define MPEG_MODE_DUAL_CHANNEL 2
#define MPEG_MODE_SINGLE_CHANNEL 3
/* TChannelMode */
#define MPEG_CHANNEL_LEFT 0
#define MPEG_CHANNEL_RIGHT 1
#define MPEG_CHANNEL_BOTH 2
#define MPEG_CHANNEL_DOWNMIX 3

/* The file-info record: 166 bytes, packed, little-endian. */
#pragma pack(push, 1)
typedef struct TMpegFileInfo {
  uint8_t Version;      /* MPEG_VERSION_* */
  int32_t Layer;        /* 1, 2 or 3 */
  int32_t SampleRate;   /* of the stream */
  int32_t PlayBackRate; /* of the PCM delivered */
  int32_t BitRate;      /* kbit/s; the average for VBR streams */
  uint8_t Mode;         /* MPEG_MODE_* */
  int32_t Frames;       /* MPEG frames in the stream */
  int32_t Time;         /* duration of the decoded PCM in milliseconds */
  double FrameTime;     /* duration of one frame in milliseconds */
  uint8_t Reserved[130];
  uint16_t Reserved2;
} TMpegFileInfo;
#pragma pack(pop)

typedef struct mpeg_instance* MPEG_HANDLE;

/* Called with (unused, data) whenever the file bound to the instance changes. */
typedef void (*mpeg_change_callback)(intptr_t unused, void* data);
/* Decode callback of mpeg_SetDecodeCallback: (data, bytes decoded so far); non-zero aborts. */
typedef int32_t (*mpeg_decode_callback)(void* data, int32_t bytes);

MPEGDEC_API int32_t mpeg_Version(void);
/* A new instance; *code is 0 on success, else an error number (its entry value is ignored). */
MPEGDEC_API MPEG_HANDLE mpeg_Init(int32_t* code, mpeg_change_callback callback, void* data);
/* Releases the instance and sets *handle to null. */
MPEGDEC_API int32_t mpeg_Done(MPEG_HANDLE* handle);
MPEGDEC_API int32_t mpeg_SetDecodeCallback(MPEG_HANDLE handle, mpeg_decode_callback callback,
                                           void* data);
MPEGDEC_API int32_t mpeg_SetDecodeMode(MPEG_HANDLE handle, int32_t mode);
/* Unbinds the file. */
MPEGDEC_API int32_t mpeg_Clear(MPEG_HANDLE handle);
/* Bytes at the end of the file that are not audio (a trailing tag the caller knows of). */
MPEGDEC_API int32_t mpeg_SetTrailingHeader(MPEG_HANDLE handle, int32_t bytes);
MPEGDEC_API int32_t mpeg_SetFileOffset(MPEG_HANDLE handle, int32_t offset);
MPEGDEC_API int32_t mpeg_SetExactPosition(MPEG_HANDLE handle, int32_t exact);
/* Binds a file (an MPEG stream, or a RIFF WAVE file holding MPEG audio in its "data" chunk);
 * before it returns the change callback has run and the file info is current. A file that is
 * not MPEG audio is refused and leaves the instance empty. */
MPEGDEC_API int32_t mpeg_SetFileName(MPEG_HANDLE handle, const char* name);
MPEGDEC_API int32_t mpeg_GetFileName(MPEG_HANDLE handle, char* buffer, int32_t size);
/* Boolean: no usable MPEG stream is bound. */
MPEGDEC_API int32_t mpeg_GetEmpty(MPEG_HANDLE handle);
MPEGDEC_API int32_t mpeg_GetFileInfo(MPEG_HANDLE handle, TMpegFileInfo* info);
MPEGDEC_API int32_t mpeg_SetChannelMode(MPEG_HANDLE handle, int32_t mode);
/* The low byte of *mode receives the current MPEG_CHANNEL_* value. */
MPEGDEC_API int32_t mpeg_GetChannelMode(MPEG_HANDLE handle, int32_t* mode);
/* Frame-exact positioning: the next bytes read are those of frame `frame` (0 .. Frames).
 * On a bound file that is not open the frame is kept, and the next mpeg_OpenFile starts
 * decoding there. MPEG_ERR_NO_FILE without a bound file, MPEG_ERR_BAD_ARGUMENT out of range. */
MPEGDEC_API int32_t mpeg_SetPosition(MPEG_HANDLE handle, int32_t frame);
/* The current frame index (the frame the next bytes belong to). A bound file that is not open
 * answers the frame the next open starts at (0 after binding and after mpeg_CloseFile); -1
 * without a bound file. */
MPEGDEC_API int32_t mpeg_GetPosition(MPEG_HANDLE handle);
/* Decoding starts at the first frame, or at the frame set while the file was not open. */
MPEGDEC_API int32_t mpeg_OpenFile(MPEG_HANDLE handle);
/* Ends decoding; the position returns to the first frame. */
MPEGDEC_API int32_t mpeg_CloseFile(MPEG_HANDLE handle);
/* Decoding restarts at the first frame. */
MPEGDEC_API int32_t mpeg_ResetFile(MPEG_HANDLE handle);
/* Decodes up to `count` bytes of PCM into buffer (whole sample frames); returns the bytes written
 * (0 at the end), or a negative error number. */
MPEGDEC_API int32_t mpeg_ReadDataBytes(MPEG_HANDLE handle, void* buffer, int32_t count);
/* As mpeg_ReadDataBytes; *frame receives the frame index of the first byte written. */
MPEGDEC_API int32_t mpeg_ReadDataBytesEx(MPEG_HANDLE handle, void* buffer, int32_t count,
                                         int32_t* frame);
MPEGDEC_API int32_t mpeg_AbortReadData(MPEG_HANDLE handle);
/* Boolean: the end of the stream has been reached; true already on the call to
 * mpeg_ReadDataBytes that delivered the last bytes. */
MPEGDEC_API int32_t mpeg_GetDone(MPEG_HANDLE handle);
/* Reads every frame header of the bound file so that Frames and Time are exact. */
MPEGDEC_API int32_t mpeg_ScanFile(MPEG_HANDLE handle);
MPEGDEC_API int32_t mpeg_ScanFileEx(MPEG_HANDLE handle, mpeg_decode_callback progress, void* data);
MPEGDEC_API int32_t mpeg_EncryptFile(const char* source, const char* destination, int32_t key);
/* Reads the ID3v1 tag of a file into a 128-byte buffer. */
MPEGDEC_API int32_t mpeg_ReadID3Tag(const char* name, void* tag128);
/* Writes the zero-terminated text of `code` into buffer; 0 when a text was written. */
MPEGDEC_API int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(TMpegFileInfo) == 166, "file-info record is 166 bytes");
static_assert(__builtin_offsetof(TMpegFileInfo, Layer) == 1, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, SampleRate) == 5, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, PlayBackRate) == 9, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, BitRate) == 13, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, Mode) == 17, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, Frames) == 18, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, Time) == 22, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, FrameTime) == 26, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, Reserved) == 34, "layout");
static_assert(__builtin_offsetof(TMpegFileInfo, Reserved2) == 164, "layout");
#endif

#endif /* QUELBARIN_MPEGDEC_H */
