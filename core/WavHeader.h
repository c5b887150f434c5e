// Reading the header of a WAV file: a pure function over the file's bytes,
// with no Windows call inside.
#pragma once

#include <stdint.h>

enum WavStatus {
    WavUsable = 0,
    WavNotRiffWave,
    WavNoFormatChunk,
    WavNoDataChunk,
    WavNotPcm,
    WavBadChannelCount,
    WavBadSampleSize,
    WavBadFloatSize,
    WavBadBlockAlign,
    WavBadSampleRate,
    WavReadFailed,
};

// The sample encodings that parseWavHeader accepts: integers of 8 (unsigned),
// 16, 24 or 32 bits, and 32-bit IEEE floats.
const uint16_t wavFormatPcm = 1;
const uint16_t wavFormatFloat = 3;

// The fields of a wave format description, as the format chunk gives them
// (for an extensible format the tag is the one of its sub-format).
struct WavFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;
};

struct WavInfo {
    WavFormat format;
    uint64_t dataOffset;  // first sample byte
    uint32_t dataSize;    // whole frames that the file really holds
};

// Reads up to `size` bytes at `offset`; returns the number of bytes read.
typedef uint32_t (*WavReadFn)(void* context, uint64_t offset, void* buffer, uint32_t size);

WavStatus parseWavHeader(WavReadFn read, void* context, uint64_t fileSize, WavInfo* info);

// Parses a header held in memory (the whole file, or its first bytes).
WavStatus parseWavBytes(const uint8_t* bytes, uint64_t size, WavInfo* info);

// Why a file is refused, in the program's own words.
const char* wavStatusText(WavStatus status);
