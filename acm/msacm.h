/* The audio compression manager: a flat C interface built as a shared module (libmsacm.so) that
 * the application loads at start. Drivers convert between wave formats; the first one converts
 * PCM to PCM (8/16 bits, 1 or 2 channels, 4000..100000 Hz; rate conversion through libsoxr) and
 * also reads 24/32-bit PCM. IEEE float and extensible records decode to 16-bit PCM.
 *
 * Conventions: functions return 0 (MMSYSERR_NOERROR) or an error number; a stream handle is used
 * by one thread at a time; the library never prints and never aborts. Conversions run
 * synchronously: when acmStreamConvert returns 0 the header's done bit is already set. */
#ifndef QUELBARIN_MSACM_H
#define QUELBARIN_MSACM_H

#include <stdint.h>

#if defined(MSACM_BUILD)
#define MSACM_API __attribute__((visibility("default")))
#else
#define MSACM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t MMRESULT;
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define MMSYSERR_NOMEM 7
#define ACMERR_NOTPOSSIBLE 512
#define ACMERR_BUSY 513
#define ACMERR_UNPREPARED 514

/* Version 2.00: the high word is 0x0200. */
#define ACM_VERSION 0x02000000u

#define WAVE_FORMAT_PCM_TAG 1

#pragma pack(push, 1)
/* The wave format record: 18 bytes followed by cbSize extra bytes (none for PCM). */
typedef struct ACMWAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
} ACMWAVEFORMATEX;
#pragma pack(pop)

typedef struct acm_stream* HACMSTREAM;
typedef struct acm_driver* HACMDRIVER;
typedef struct acm_driver_id* HACMDRIVERID;
typedef void* HACMOBJ;

/* acmFormatSuggest constraints. */
#define ACM_FORMATSUGGESTF_WFORMATTAG 0x00010000u
#define ACM_FORMATSUGGESTF_NCHANNELS 0x00020000u
#define ACM_FORMATSUGGESTF_NSAMPLESPERSEC 0x00040000u
#define ACM_FORMATSUGGESTF_WBITSPERSAMPLE 0x00080000u
/* acmStreamOpen flags. */
#define ACM_STREAMOPENF_QUERY 0x00000001u
#define ACM_STREAMOPENF_ASYNC 0x00000002u
#define ACM_STREAMOPENF_NONREALTIME 0x00000004u
/* acmStreamSize flags. */
#define ACM_STREAMSIZEF_SOURCE 0x00000000u
#define ACM_STREAMSIZEF_DESTINATION 0x00000001u
/* acmStreamConvert flags. */
#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004u
#define ACM_STREAMCONVERTF_START 0x00000010u
#define ACM_STREAMCONVERTF_END 0x00000020u
/* Header status bits. */
#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000u
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000u
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000u

typedef struct ACMSTREAMHEADER {
  uint32_t cbStruct; /* sizeof(ACMSTREAMHEADER) */
  uint32_t fdwStatus;
  uintptr_t dwUser;
  uint8_t* pbSrc;
  uint32_t cbSrcLength;
  uint32_t cbSrcLengthUsed;
  uintptr_t dwSrcUser;
  uint8_t* pbDst;
  uint32_t cbDstLength;
  uint32_t cbDstLengthUsed;
  uintptr_t dwDstUser;
  uint32_t dwReservedDriver[10];
} ACMSTREAMHEADER;

MSACM_API uint32_t acmGetVersion(void);
MSACM_API MMRESULT acmMetrics(HACMOBJ object, uint32_t metric, void* value);

/* Driver management, format and filter choosers and enumerations: present so that the names
 * resolve; they answer MMSYSERR_NOTSUPPORTED. */
MSACM_API MMRESULT acmDriverEnum(void* callback, uintptr_t instance, uint32_t flags);
MSACM_API MMRESULT acmDriverDetailsA(HACMDRIVERID id, void* details, uint32_t flags);
MSACM_API MMRESULT acmDriverAddA(HACMDRIVERID* id, void* module, intptr_t param, uint32_t priority,
                                 uint32_t flags);
MSACM_API MMRESULT acmDriverRemove(HACMDRIVERID id, uint32_t flags);
MSACM_API MMRESULT acmDriverOpen(HACMDRIVER* driver, HACMDRIVERID id, uint32_t flags);
MSACM_API MMRESULT acmDriverClose(HACMDRIVER driver, uint32_t flags);
MSACM_API intptr_t acmDriverMessage(HACMDRIVER driver, uint32_t message, intptr_t p1, intptr_t p2);
MSACM_API MMRESULT acmDriverID(HACMOBJ object, HACMDRIVERID* id, uint32_t flags);
MSACM_API MMRESULT acmDriverPriority(HACMDRIVERID id, uint32_t priority, uint32_t flags);
MSACM_API MMRESULT acmFormatTagDetailsA(HACMDRIVER driver, void* details, uint32_t flags);
MSACM_API MMRESULT acmFormatTagEnumA(HACMDRIVER driver, void* details, void* callback,
                                     uintptr_t instance, uint32_t flags);
MSACM_API MMRESULT acmFormatChooseA(void* choose);
MSACM_API MMRESULT acmFormatDetailsA(HACMDRIVER driver, void* details, uint32_t flags);
MSACM_API MMRESULT acmFormatEnumA(HACMDRIVER driver, void* details, void* callback,
                                  uintptr_t instance, uint32_t flags);
MSACM_API MMRESULT acmFilterTagDetailsA(HACMDRIVER driver, void* details, uint32_t flags);
MSACM_API MMRESULT acmFilterTagEnumA(HACMDRIVER driver, void* details, void* callback,
                                     uintptr_t instance, uint32_t flags);
MSACM_API MMRESULT acmFilterChooseA(void* choose);
MSACM_API MMRESULT acmFilterDetailsA(HACMDRIVER driver, void* details, uint32_t flags);
MSACM_API MMRESULT acmFilterEnumA(HACMDRIVER driver, void* details, void* callback,
                                  uintptr_t instance, uint32_t flags);

/* Fills `destination` (cbDestination bytes) with a format that a driver can convert `source` to,
 * honouring the fields that `flags` constrain (taken from `destination`). driver must be null. */
MSACM_API MMRESULT acmFormatSuggest(HACMDRIVER driver, const ACMWAVEFORMATEX* source,
                                    ACMWAVEFORMATEX* destination, uint32_t cbDestination,
                                    uint32_t flags);
/* Opens a conversion stream source → destination (filter must be null, no callback). With
 * ACM_STREAMOPENF_QUERY only asks whether it is possible (stream may be null). NONREALTIME asks
 * for the best quality. */
MSACM_API MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver,
                                 const ACMWAVEFORMATEX* source, const ACMWAVEFORMATEX* destination,
                                 void* filter, uintptr_t callback, uintptr_t instance,
                                 uint32_t flags);
MSACM_API MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags);
/* With ACM_STREAMSIZEF_SOURCE: the destination bytes needed for `input` source bytes (enough for
 * any one conversion call, including what a resampler holds back). */
MSACM_API MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output,
                                 uint32_t flags);
MSACM_API MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header,
                                          uint32_t flags);
MSACM_API MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header,
                                            uint32_t flags);
/* Converts pbSrc[0..cbSrcLength) into pbDst; sets cbSrcLengthUsed, cbDstLengthUsed and the done
 * bit. BLOCKALIGN converts whole source blocks only (the rest stays unused for the next call);
 * END also drains what the driver holds back; START resets the driver's state first. */
MSACM_API MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);
MSACM_API MMRESULT acmStreamReset(HACMSTREAM stream, uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif /* QUELBARIN_MSACM_H */
