/* The MPEG audio decoder library: a flat C interface over libmpg123, built as a shared module
 * (libmmmpeg.so) that the application loads at run time. It decodes MPEG 1, 2 and 2.5 audio,
 * layers I, II and III, to little-endian PCM, gapless (encoder delay and padding of LAME/Xing
 * headers are trimmed; of a file cut short, only the delay at its start). The samples are
 * signed 16-bit unless mpeg_SetSampleFormat chooses 24-bit, 32-bit or 32-bit float ones.
 *
 * Conventions. Every function returns MPEG_OK (0) or a positive error number unless it says
 * otherwise; the numbers each function can return are listed with it, and mpeg_GetErrorText
 * turns a number into a text. Reads return a byte count or a negated error number. Booleans are
 * 32-bit values of which only the low byte counts. The library never prints and never aborts.
 * Names are file paths; the "RESOURCE://" and "POINTER://" forms are refused (error
 * MPEG_ERR_UNSUPPORTED_NAME). A handle that is null, released or not made by mpeg_Init is
 * refused with MPEG_ERR_NO_HANDLE rather than followed.
 *
 * States of an instance: empty (no file bound), bound (mpeg_SetFileName succeeded) and open
 * (mpeg_OpenFile succeeded, decoding). mpeg_CloseFile returns from open to bound, mpeg_Clear
 * and a refused mpeg_SetFileName to empty.
 *
 * Threads. An instance is confined to one thread at a time: calls on one handle must not
 * overlap, with one exception: mpeg_AbortReadData may be called from any thread at any time
 * while the handle lives, also during a read on another thread (but not at the same time as
 * mpeg_Done on that handle). Different instances may be used on different threads at the same
 * time. The functions without a handle (mpeg_Version, mpeg_Init, mpeg_EncryptFile,
 * mpeg_ReadID3Tag, mpeg_GetErrorText) may be called from any thread at any time. Callbacks run
 * on the thread of the call that triggers them, before that call returns. */
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
#define MPEGDEC_VERSION 22

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
/* Sample formats of the PCM delivered. Zero bytes are silence in each of them. */
#define MPEG_SAMPLES_S16 0     /* signed 16-bit little-endian (the default) */
#define MPEG_SAMPLES_S24 1     /* signed 24-bit little-endian, 3 bytes per sample */
#define MPEG_SAMPLES_S32 2     /* signed 32-bit little-endian */
#define MPEG_SAMPLES_FLOAT32 3 /* IEEE single, full scale +-1.0, never clipped */

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

/* One segment of a plan made by mpeg_PlanSegments: the MPEG frames [FirstFrame, EndFrame) and
 * what of the decoded PCM they stand for, in sample frames (one sample of every channel):
 * Samples of them, the first being sample FirstSample of a decode of the whole file. */
typedef struct TMpegSegment {
  int32_t FirstFrame;
  int32_t EndFrame;
  int64_t FirstSample;
  int64_t Samples;
} TMpegSegment;

typedef struct mpeg_instance* MPEG_HANDLE;

/* Called with (0, data) whenever the file bound to the instance changes (bound, replaced or
 * unbound), on the thread whose call changed it. It may call the instance's getters. */
typedef void (*mpeg_change_callback)(intptr_t unused, void* data);
/* Decode callback of mpeg_SetDecodeCallback and progress callback of mpeg_ScanFileEx:
 * (data, bytes so far); a non-zero result aborts. */
typedef int32_t (*mpeg_decode_callback)(void* data, int32_t bytes);

/* ---- Library and instances ---- */

/* The library's interface version, MPEGDEC_VERSION. No errors. Any thread. */
MPEGDEC_API int32_t mpeg_Version(void);

/* Makes a new, empty instance.
 *   code      receives MPEG_OK, or MPEG_ERR_NO_MEMORY, or MPEG_ERR_DECODE_FAILED (libmpg123
 *             cannot be initialised); its entry value is ignored; may be null.
 *   callback  the change callback (may be null); data is passed to it unchanged.
 * Result: the handle, or null on failure. Any thread; the instance is then confined to one
 * thread at a time (see Threads). */
MPEGDEC_API MPEG_HANDLE mpeg_Init(int32_t* code, mpeg_change_callback callback, void* data);

/* Releases the instance (closing and unbinding its file, without calling the change callback)
 * and sets *handle to null.
 * Errors: MPEG_ERR_NO_HANDLE (handle or *handle null, or not a live instance; *handle is then
 * left as it was). Must not overlap any other call on the handle, mpeg_AbortReadData included. */
MPEGDEC_API int32_t mpeg_Done(MPEG_HANDLE* handle);

/* Sets the decode callback (null removes it): each mpeg_ReadDataBytes(Ex) on an open file first
 * calls callback(data, PCM bytes delivered since the file was opened), and a non-zero result
 * makes that read return -MPEG_ERR_ABORTED without reading.
 * Errors: MPEG_ERR_NO_HANDLE. */
MPEGDEC_API int32_t mpeg_SetDecodeCallback(MPEG_HANDLE handle, mpeg_decode_callback callback,
                                           void* data);

/* Selects a decode mode; only the normal mode 0 exists.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_UNSUPPORTED for any other mode. */
MPEGDEC_API int32_t mpeg_SetDecodeMode(MPEG_HANDLE handle, int32_t mode);

/* Closes and unbinds the file, so the instance is empty; the change callback runs when a file
 * was bound. The settings (channel mode, trailing bytes, file offset, callbacks) stay.
 * Errors: MPEG_ERR_NO_HANDLE. */
MPEGDEC_API int32_t mpeg_Clear(MPEG_HANDLE handle);

/* ---- Settings for the next mpeg_SetFileName ---- */

/* Declares the last `bytes` bytes of the file not audio (a trailing tag the caller knows of);
 * 0 (the default) declares none. Known tags (ID3v1, APEv2, Lyrics3v2) are found without it.
 * Takes effect at the next mpeg_SetFileName.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (bytes below 0). */
MPEGDEC_API int32_t mpeg_SetTrailingHeader(MPEG_HANDLE handle, int32_t bytes);

/* Where the audio starts in a file that is not RIFF wrapped (default 0); the search for the
 * first frame begins there. Takes effect at the next mpeg_SetFileName.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (offset below 0). */
MPEGDEC_API int32_t mpeg_SetFileOffset(MPEG_HANDLE handle, int32_t offset);

/* Boolean `exact`: positioning is always exact, so the setting is accepted and changes nothing.
 * Errors: MPEG_ERR_NO_HANDLE. */
MPEGDEC_API int32_t mpeg_SetExactPosition(MPEG_HANDLE handle, int32_t exact);

/* ---- Binding a file ---- */

/* Binds the file `name` (an MPEG audio stream, possibly with tags or junk around it, or a RIFF
 * WAVE file holding MPEG audio in its "data" chunk): finds the stream, checks it and measures
 * it, so that the file info is exact. Any file bound before is unbound first. Before it returns,
 * the change callback has run (when a file is now bound or one was bound before) and the file
 * info is current. The position is frame 0.
 * Errors, after which the instance is empty: MPEG_ERR_BAD_ARGUMENT (name null);
 * MPEG_ERR_UNSUPPORTED_NAME; MPEG_ERR_OPEN_FAILED (no such file, not readable, or not a
 * regular file); MPEG_ERR_NOT_MPEG (no run of four MPEG frames, or a WAVE file of another
 * format, or nothing that decodes); MPEG_ERR_NO_MEMORY; MPEG_ERR_DECODE_FAILED (libmpg123
 * cannot be initialised or refuses the output format).
 * Errors that change nothing: MPEG_ERR_NO_HANDLE; MPEG_ERR_ALREADY_OPEN (the bound file is
 * open; close it first). */
MPEGDEC_API int32_t mpeg_SetFileName(MPEG_HANDLE handle, const char* name);

/* Copies the bound file's name, zero-terminated, into buffer (`size` bytes, 256 in the
 * application).
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (buffer null, size 0 or below, or the name
 * does not fit: the buffer then holds the empty string); MPEG_ERR_NO_FILE (the buffer holds the
 * empty string). */
MPEGDEC_API int32_t mpeg_GetFileName(MPEG_HANDLE handle, char* buffer, int32_t size);

/* Boolean: no usable MPEG stream is bound (also for a handle that is not a live instance).
 * Never fails. */
MPEGDEC_API int32_t mpeg_GetEmpty(MPEG_HANDLE handle);

/* Copies the file-info record of the bound file into *info.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (info null); MPEG_ERR_NO_FILE (*info is
 * zero-filled). */
MPEGDEC_API int32_t mpeg_GetFileInfo(MPEG_HANDLE handle, TMpegFileInfo* info);

/* Sets the channel mode (low byte of `mode`, an MPEG_CHANNEL_* value; default BOTH). The PCM
 * has one channel when the stream is single channel or the mode is not BOTH, else two: LEFT and
 * RIGHT deliver that channel, DOWNMIX their mix. Takes effect at the next mpeg_OpenFile; the
 * file info does not change.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (above MPEG_CHANNEL_DOWNMIX);
 * MPEG_ERR_ALREADY_OPEN (the file is open and the mode differs from the current one). */
MPEGDEC_API int32_t mpeg_SetChannelMode(MPEG_HANDLE handle, int32_t mode);

/* Writes the current MPEG_CHANNEL_* value into the low byte of *mode; the other bytes are left
 * as they were.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (mode null). */
MPEGDEC_API int32_t mpeg_GetChannelMode(MPEG_HANDLE handle, int32_t* mode);

/* Sets the sample format (an MPEG_SAMPLES_* value; default MPEG_SAMPLES_S16) of the PCM: every
 * count of PCM bytes (reads, the decode callback's count) is then in samples of that size.
 * Takes effect at the next mpeg_OpenFile; the file info does not change. Kept by mpeg_Clear.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (not an MPEG_SAMPLES_* value);
 * MPEG_ERR_ALREADY_OPEN (the file is open and the format differs from the current one).
 * Since version 21. */
MPEGDEC_API int32_t mpeg_SetSampleFormat(MPEG_HANDLE handle, int32_t format);

/* Writes the current MPEG_SAMPLES_* value into *format.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (format null). Since version 21. */
MPEGDEC_API int32_t mpeg_GetSampleFormat(MPEG_HANDLE handle, int32_t* format);

/* Writes into *count the samples (one per channel, not sample frames) that decoding clipped to
 * the range of the integer sample formats since the file was opened, reset, or positioned.
 * libmpg123 counts them as it synthesises whole MPEG frames, so the count runs a little ahead
 * of the reads and may include samples that are not delivered: the frames decoded ahead of a
 * position, and the encoder delay and padding that gapless decoding trims. Float samples are
 * never clipped (the count stays 0). After mpeg_CloseFile the count of the decoding that ended
 * stays until the next mpeg_OpenFile or binding; it is 0 before the bound file was opened.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (count null). Since version 21. */
MPEGDEC_API int32_t mpeg_GetClipCount(MPEG_HANDLE handle, int64_t* count);

/* ---- Positions ---- */

/* Frame-exact positioning: the next bytes read are those of frame `frame`, which starts at
 * sample frame * (samples per frame) of the decoded (gapless) PCM. Valid frames are 0 to Frames
 * (or to the last frame the decoded length reaches, when that is more); a frame at or past the
 * end leaves nothing to read and makes mpeg_GetDone true. On a bound file that is not open the
 * frame is kept, and the next mpeg_OpenFile starts decoding there.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_NO_FILE; MPEG_ERR_BAD_ARGUMENT (frame out of range,
 * nothing changes); MPEG_ERR_SEEK_FAILED (the decoder could not restart: the stream then
 * counts as ended, mpeg_GetDone answers true). */
MPEGDEC_API int32_t mpeg_SetPosition(MPEG_HANDLE handle, int32_t frame);

/* Result: the current frame index (the frame the next bytes belong to). A bound file that is not
 * open answers the frame the next open starts at (0 after binding and after mpeg_CloseFile);
 * -1 without a bound file or for a handle that is not a live instance. */
MPEGDEC_API int32_t mpeg_GetPosition(MPEG_HANDLE handle);

/* ---- Decoding ---- */

/* Opens the bound file for decoding, at the first frame or at the frame set while it was not
 * open; the channel mode and the sample format are fixed from now until mpeg_CloseFile.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_NO_FILE; MPEG_ERR_ALREADY_OPEN; MPEG_ERR_DECODE_FAILED
 * (the decoder cannot start or take the output format); MPEG_ERR_SEEK_FAILED (the frame set
 * before opening cannot be reached). After any error but MPEG_ERR_ALREADY_OPEN the file is not
 * open. */
MPEGDEC_API int32_t mpeg_OpenFile(MPEG_HANDLE handle);

/* Ends decoding; the file stays bound and the position returns to the first frame.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_NOT_OPEN. */
MPEGDEC_API int32_t mpeg_CloseFile(MPEG_HANDLE handle);

/* Decoding restarts at the first frame, repeating the first decode sample for sample.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_NOT_OPEN; MPEG_ERR_SEEK_FAILED (as mpeg_SetPosition). */
MPEGDEC_API int32_t mpeg_ResetFile(MPEG_HANDLE handle);

/* Decodes up to `count` bytes of PCM into buffer, in whole sample frames (one sample per
 * channel, of 2, 3 or 4 bytes after the sample format).
 * Result: the bytes written, from 0 to count; 0 at the end of the stream or when count is 0.
 * A stream delivers exactly the samples its Time announces: should damage end the decoding a
 * little early, silence makes up the rest; a stream that libmpg123 cannot decode further ends
 * there. Errors, returned negated, after which nothing was read and the position is unchanged:
 * -MPEG_ERR_NO_HANDLE; -MPEG_ERR_NOT_OPEN; -MPEG_ERR_BAD_ARGUMENT (count below 0, buffer null
 * with count above 0, or count above 0 but below one sample frame while samples remain);
 * -MPEG_ERR_ABORTED (mpeg_AbortReadData was called since the last read, or the decode callback
 * returned non-zero; the next read goes on normally). */
MPEGDEC_API int32_t mpeg_ReadDataBytes(MPEG_HANDLE handle, void* buffer, int32_t count);

/* As mpeg_ReadDataBytes, with the same result and errors; *frame (when frame is not null)
 * receives the frame index of the first byte to be written, as mpeg_GetPosition answers before
 * the read, also when the read then fails (but not for a handle that is not a live instance). */
MPEGDEC_API int32_t mpeg_ReadDataBytesEx(MPEG_HANDLE handle, void* buffer, int32_t count,
                                         int32_t* frame);

/* Asks that the next read return -MPEG_ERR_ABORTED: a read already decoding on another thread
 * finishes normally, and the request then applies to the one after it. The request stays until a
 * read takes it. May be called from any thread while the handle lives, not at the same time as
 * mpeg_Done on it.
 * Errors: MPEG_ERR_NO_HANDLE. */
MPEGDEC_API int32_t mpeg_AbortReadData(MPEG_HANDLE handle);

/* Boolean: the end of the stream has been reached; true already on the call to
 * mpeg_ReadDataBytes that delivered the last bytes, and also when no file is open or the
 * handle is not a live instance. Never fails. */
MPEGDEC_API int32_t mpeg_GetDone(MPEG_HANDLE handle);

/* ---- Segments: one file decoded on several threads ---- */

/* Cuts the bound file's decoded PCM into at most `max` segments of whole frames, each at least
 * minSamples sample frames long, that decoded apart and put in order give exactly one decode;
 * FirstSample is the segment's offset in the whole decode, Samples its length (sample frames).
 * The segments are written to segments[0 .. *count - 1] in order; they cover the whole decode
 * without gap or overlap. *count = 1 (the whole file) when it cannot be cut safely: a stream
 * that changes format part-way, has junk or a gap between frames, is MPEG 2 or 2.5 layer III,
 * is too short for more than one segment, starts its decoded PCM three frames or more into the
 * stream (a long encoder delay), or is layer I or II with a LAME header.
 * Planning reads every frame header once; it does not disturb an open decoding.
 *   segments  room for `max` segments.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_BAD_ARGUMENT (segments or count null, max below 1,
 * minSamples below 0); MPEG_ERR_NO_FILE. Since version 22. */
MPEGDEC_API int32_t mpeg_PlanSegments(MPEG_HANDLE handle, int32_t max, int64_t minSamples,
                                      TMpegSegment* segments, int32_t* count);

/* Opens the bound file to decode one segment of a plan made for the same file (any instance):
 * reads then deliver exactly that segment's samples in the set sample format and channel mode,
 * and mpeg_GetDone becomes true at its end. mpeg_GetPosition answers frames of the whole
 * decode; mpeg_SetPosition and mpeg_ResetFile are refused with MPEG_ERR_UNSUPPORTED while a
 * segment other than the whole file is open. A read fails with -MPEG_ERR_DECODE_FAILED when
 * the segment's decoding fails or ends early (the caller should then decode the file in one
 * piece). mpeg_CloseFile ends it as usual.
 * Errors: as mpeg_OpenFile, plus MPEG_ERR_BAD_ARGUMENT for a segment that is null or not one of
 * this file's plan, and MPEG_ERR_NO_MEMORY. Since version 22. */
MPEGDEC_API int32_t mpeg_OpenSegment(MPEG_HANDLE handle, const TMpegSegment* segment);

/* ---- Rarely used ---- */

/* Binding already reads every frame header, so Frames and Time are exact without this.
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_NO_FILE. */
MPEGDEC_API int32_t mpeg_ScanFile(MPEG_HANDLE handle);

/* As mpeg_ScanFile; `progress` (may be null) is called once with (data, bytes of the stream).
 * Errors: MPEG_ERR_NO_HANDLE; MPEG_ERR_NO_FILE; MPEG_ERR_ABORTED (progress returned non-zero). */
MPEGDEC_API int32_t mpeg_ScanFileEx(MPEG_HANDLE handle, mpeg_decode_callback progress, void* data);

/* Not implemented: always MPEG_ERR_UNSUPPORTED. Any thread. */
MPEGDEC_API int32_t mpeg_EncryptFile(const char* source, const char* destination, int32_t key);

/* Copies the ID3v1 tag (the last 128 bytes, starting "TAG") of the file `name` into tag128,
 * a buffer of 128 bytes, which is zero-filled on every error but the first.
 * Errors: MPEG_ERR_BAD_ARGUMENT (name or tag128 null); MPEG_ERR_UNSUPPORTED_NAME;
 * MPEG_ERR_OPEN_FAILED (no such file, not readable, or not a regular file); MPEG_ERR_NOT_MPEG
 * (the file has no ID3v1 tag). Any thread. */
MPEGDEC_API int32_t mpeg_ReadID3Tag(const char* name, void* tag128);

/* Writes the zero-terminated text of error number `code` (either sign) into buffer, cut to
 * `size` bytes (256 in the application).
 * Result: MPEG_OK when the whole text was written. Errors: MPEG_ERR_BAD_ARGUMENT (buffer null
 * or size 0 or below: nothing written; the text was cut to fit; or `code` is no error number
 * of this library: "Unknown error <code>" was written). Any thread. */
MPEGDEC_API int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(TMpegFileInfo) == 166, "file-info record is 166 bytes");
static_assert(sizeof(TMpegSegment) == 24, "segment record is 24 bytes");
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
