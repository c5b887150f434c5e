// Messages between lame_enc.dll and its native helper, over two FIFOs.
// Both ends are little-endian x86, so records travel as raw bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum HelperRequestKind : uint32_t {
    RequestInit = 1,
    RequestEncode = 2,
    RequestFlush = 3,
    RequestTagFrame = 4,
};

struct HelperRequest {
    uint32_t kind;
    uint32_t size;
};

// status is a BE_ERR value; size bytes of payload follow.
struct HelperReply {
    uint32_t status;
    uint32_t size;
};

struct HelperInitReply {
    uint32_t samplesPerChunk;
    uint32_t maxChunkBytes;
    // The smaller of the two FIFOs' capacities.
    uint32_t fifoBytes;
    uint32_t channels;
};

// The BE_ERR values the helper answers with.
const uint32_t replyInvalidParameters = 2;
const uint32_t replyNoEncoder = 3;
const uint32_t replyEncoderFailed = 5;

// Room a flush may need: LAME asks for at least 7200 bytes there.
const uint32_t flushBytes = 7200;

// The helper learns its folder and a nonce from its environment, which other
// users cannot read, unlike its command line. Once its own private folder and
// FIFOs are in place it writes the ready byte and the nonce back: nothing
// planted by someone else can answer that.
const char helperReadyByte = 'R';
const char helperFolderVariable[] = "LAME_ENC_FOLDER";
const char helperNonceVariable[] = "LAME_ENC_NONCE";
const int helperNonceLength = 32;

#pragma pack(push, 1)

// BE_CONFIG with fixed-width types, for the helper which has no windows.h.
struct EncoderRecord {
    uint32_t dwConfig;
    uint32_t dwStructVersion;
    uint32_t dwStructSize;
    uint32_t dwSampleRate;
    uint32_t dwReSampleRate;
    int32_t nMode;
    uint32_t dwBitrate;
    uint32_t dwMaxBitrate;
    int32_t nPreset;
    uint32_t dwMpegVersion;
    uint32_t dwPsyModel;
    uint32_t dwEmphasis;
    int32_t bPrivate;
    int32_t bCRC;
    int32_t bCopyright;
    int32_t bOriginal;
    int32_t bWriteVBRHeader;
    int32_t bEnableVBR;
    int32_t nVBRQuality;
    uint32_t dwVbrAbr_bps;
    int32_t nVbrMethod;
    int32_t bNoRes;
    int32_t bStrictIso;
    uint16_t nQuality;
    uint8_t btReserved[237];
};

#pragma pack(pop)

static_assert(sizeof(EncoderRecord) == 331, "same bytes as BE_CONFIG");
static_assert(offsetof(EncoderRecord, nVbrMethod) == 80, "same layout as BE_CONFIG");
static_assert(offsetof(EncoderRecord, nQuality) == 92, "same layout as BE_CONFIG");
