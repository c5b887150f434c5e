// The published interface of lame_enc.dll: the configuration record, the
// version record and the entry points, as the library declares them.
#pragma once

#include <windows.h>

#include <stddef.h>

#define BE_CONFIG_LAME 256

#define BE_ERR_SUCCESSFUL 0x00000000
#define BE_ERR_INVALID_FORMAT 0x00000001
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002
#define BE_ERR_NO_MORE_HANDLES 0x00000003
#define BE_ERR_INVALID_HANDLE 0x00000004
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#define BE_MAX_HOMEPAGE 128

// Results are 32-bit on both builds; the stream handle is pointer-sized (the
// 64-bit library hands out a pointer).
typedef DWORD BE_ERR;
typedef ULONG_PTR HBE_STREAM;
typedef HBE_STREAM* PHBE_STREAM;

#pragma pack(push, 1)

struct BE_CONFIG {
    DWORD dwConfig;
    DWORD dwStructVersion;
    DWORD dwStructSize;
    DWORD dwSampleRate;
    DWORD dwReSampleRate;
    LONG nMode;
    DWORD dwBitrate;
    DWORD dwMaxBitrate;
    LONG nPreset;
    DWORD dwMpegVersion;
    DWORD dwPsyModel;
    DWORD dwEmphasis;
    BOOL bPrivate;
    BOOL bCRC;
    BOOL bCopyright;
    BOOL bOriginal;
    BOOL bWriteVBRHeader;
    BOOL bEnableVBR;
    int nVBRQuality;
    DWORD dwVbrAbr_bps;
    int nVbrMethod;
    BOOL bNoRes;
    BOOL bStrictIso;
    WORD nQuality;
    BYTE btReserved[237];
};

struct BE_VERSION {
    BYTE byDLLMajorVersion;
    BYTE byDLLMinorVersion;
    BYTE byMajorVersion;
    BYTE byMinorVersion;
    BYTE byDay;
    BYTE byMonth;
    WORD wYear;
    CHAR zHomepage[BE_MAX_HOMEPAGE + 1];
    BYTE byAlphaLevel;
    BYTE byBetaLevel;
    BYTE byMMXEnabled;
    BYTE btReserved[125];
};

#pragma pack(pop)

static_assert(sizeof(BE_CONFIG) == 331, "the library copies exactly 331 bytes");
static_assert(offsetof(BE_CONFIG, dwSampleRate) == 12, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, nMode) == 20, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, nPreset) == 32, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, bPrivate) == 48, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, bWriteVBRHeader) == 64, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, bEnableVBR) == 68, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, dwVbrAbr_bps) == 76, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, nVbrMethod) == 80, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, nQuality) == 92, "BE_CONFIG layout");
static_assert(offsetof(BE_CONFIG, btReserved) == 94, "BE_CONFIG layout");
static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION layout");

typedef BE_ERR(__cdecl* BEINITSTREAM)(BE_CONFIG*, DWORD*, DWORD*, PHBE_STREAM);
typedef BE_ERR(__cdecl* BEENCODECHUNK)(HBE_STREAM, DWORD, SHORT*, BYTE*, DWORD*);
typedef BE_ERR(__cdecl* BEDEINITSTREAM)(HBE_STREAM, BYTE*, DWORD*);
typedef BE_ERR(__cdecl* BECLOSESTREAM)(HBE_STREAM);
typedef VOID(__cdecl* BEVERSION)(BE_VERSION*);
typedef BE_ERR(__cdecl* BEWRITEVBRHEADER)(LPCSTR);
// LAME's own lame_close, which its DLL exports too: a stream handle of that
// DLL is LAME's encoder itself.
typedef int(__cdecl* LAMECLOSE)(HBE_STREAM);
