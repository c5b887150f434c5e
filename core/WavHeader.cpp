#include "core/WavHeader.h"

#include <string.h>

static const uint16_t formatExtensible = 0xFFFE;

// A file may hold any number of chunks; past this many we stop looking.
static const int maxChunks = 4096;

static uint16_t le16(const uint8_t* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}

static uint32_t le32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
           ((uint32_t)p[3] << 24);
}

static bool readExactly(WavReadFn read, void* context, uint64_t offset, void* buffer,
                        uint32_t size) {
    return read(context, offset, buffer, size) == size;
}

// The sub-format GUID of an extensible format, less its first two bytes
// (which carry the format tag).
static const uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

static WavStatus readFormatChunk(WavReadFn read, void* context, uint64_t offset,
                                 uint32_t chunkSize, WavFormat* format) {
    if (chunkSize < 16) {
        return WavNotPcm;
    }
    uint8_t raw[40] = {};
    uint32_t wanted = chunkSize < 40 ? chunkSize : 40;
    if (!readExactly(read, context, offset, raw, wanted)) {
        return WavNoFormatChunk;
    }
    format->formatTag = le16(raw);
    format->channels = le16(raw + 2);
    format->samplesPerSec = le32(raw + 4);
    format->avgBytesPerSec = le32(raw + 8);
    format->blockAlign = le16(raw + 12);
    format->bitsPerSample = le16(raw + 14);
    format->extraSize = chunkSize >= 18 ? le16(raw + 16) : 0;
    if (format->formatTag == formatExtensible) {
        if (chunkSize < 40 || format->extraSize < 22 || memcmp(raw + 26, guidTail, 14) != 0) {
            return WavNotPcm;
        }
        format->formatTag = le16(raw + 24);
    }
    return WavUsable;
}

static WavStatus checkFormat(const WavFormat& format) {
    bool isFloat = format.formatTag == wavFormatFloat;
    if (format.formatTag != wavFormatPcm && !isFloat) {
        return WavNotPcm;
    }
    if (format.channels < 1 || format.channels > 2) {
        return WavBadChannelCount;
    }
    uint16_t bits = format.bitsPerSample;
    if (isFloat && bits != 32) {
        return WavBadFloatSize;
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return WavBadSampleSize;
    }
    // Some writers pad 24-bit samples to 4 bytes and say so only in the
    // block size: read as packed they would be noise. 8 and 16-bit files have
    // always been read packed whatever their block size says; they still are.
    if (bits > 16 && format.blockAlign != format.channels * (bits / 8)) {
        return WavBadBlockAlign;
    }
    if (format.samplesPerSec < 8000 || format.samplesPerSec > 192000) {
        return WavBadSampleRate;
    }
    return WavUsable;
}

// Whether the bytes at `offset` start a chunk: a tag of printable characters
// and a size that fits in the file.
static bool chunkFollows(WavReadFn read, void* context, uint64_t offset, uint64_t fileSize) {
    uint8_t header[8];
    if (offset + 8 > fileSize || !readExactly(read, context, offset, header, 8)) {
        return false;
    }
    for (int i = 0; i < 4; i++) {
        if (header[i] < 0x20 || header[i] > 0x7E) {
            return false;
        }
    }
    return le32(header + 4) <= fileSize - offset - 8;
}

WavStatus parseWavHeader(WavReadFn read, void* context, uint64_t fileSize, WavInfo* info) {
    if (!read || !info) {
        return WavReadFailed;
    }
    memset(info, 0, sizeof(*info));
    uint8_t riff[12];
    if (fileSize < 12 || !readExactly(read, context, 0, riff, 12)) {
        return WavNotRiffWave;
    }
    if (memcmp(riff, "RIFF", 4) != 0 || memcmp(riff + 8, "WAVE", 4) != 0) {
        return WavNotRiffWave;
    }

    bool haveFormat = false;
    bool haveData = false;
    uint32_t declaredDataSize = 0;
    uint64_t position = 12;
    for (int chunk = 0; chunk < maxChunks && position + 8 <= fileSize; chunk++) {
        uint8_t header[8];
        if (!readExactly(read, context, position, header, 8)) {
            return WavReadFailed;
        }
        uint32_t size = le32(header + 4);
        uint64_t body = position + 8;
        if (!haveFormat && memcmp(header, "fmt ", 4) == 0) {
            WavStatus status = readFormatChunk(read, context, body, size, &info->format);
            if (status != WavUsable) {
                return status;
            }
            haveFormat = true;
        } else if (!haveData && memcmp(header, "data", 4) == 0) {
            haveData = true;
            info->dataOffset = body;
            declaredDataSize = size;
        }
        if (haveFormat && haveData) {
            break;
        }
        // Chunks of odd size are followed by one pad byte.
        position = body + size + (size & 1);
    }
    if (!haveFormat) {
        return WavNoFormatChunk;
    }
    if (!haveData) {
        return WavNoDataChunk;
    }
    WavStatus status = checkFormat(info->format);
    if (status != WavUsable) {
        return status;
    }

    // Recorders that were cut off and streamed files declare more data than
    // there is; encode what the file holds, in whole frames.
    uint64_t available = fileSize - info->dataOffset;
    uint64_t dataSize = declaredDataSize < available ? declaredDataSize : available;
    // A recorder stopped before it wrote the sizes leaves 0 with the samples
    // after it; an empty chunk followed by another chunk is really empty.
    if (declaredDataSize == 0 && !chunkFollows(read, context, info->dataOffset, fileSize)) {
        dataSize = available;
    }
    uint32_t frameSize = info->format.channels * (info->format.bitsPerSample / 8);
    info->dataSize = (uint32_t)(dataSize - dataSize % frameSize);
    return WavUsable;
}

struct MemoryFile {
    const uint8_t* bytes;
    uint64_t size;
};

static uint32_t readMemory(void* context, uint64_t offset, void* buffer, uint32_t size) {
    const MemoryFile* file = (const MemoryFile*)context;
    if (offset >= file->size) {
        return 0;
    }
    uint64_t left = file->size - offset;
    uint32_t count = left < size ? (uint32_t)left : size;
    memcpy(buffer, file->bytes + offset, count);
    return count;
}

WavStatus parseWavBytes(const uint8_t* bytes, uint64_t size, WavInfo* info) {
    MemoryFile file = {bytes, bytes ? size : 0};
    return parseWavHeader(readMemory, &file, file.size, info);
}

const char* wavStatusText(WavStatus status) {
    switch (status) {
    case WavUsable:
        return "fichier WAV valide";
    case WavNotRiffWave:
        return "ce n'est pas un fichier WAV";
    case WavNoFormatChunk:
        return "le format audio est introuvable";
    case WavNoDataChunk:
        return "les données audio sont introuvables";
    case WavNotPcm:
        return "format audio non géré (PCM ou virgule flottante seulement)";
    case WavBadChannelCount:
        return "nombre de canaux non géré (mono ou stéréo seulement)";
    case WavBadSampleSize:
        return "résolution non gérée (8, 16, 24 ou 32 bits seulement)";
    case WavBadFloatSize:
        return "virgule flottante non gérée (32 bits seulement)";
    case WavBadBlockAlign:
        return "taille des blocs incohérente avec la résolution";
    case WavBadSampleRate:
        return "fréquence d'échantillonnage hors limites (8 000 à 192 000 Hz)";
    case WavReadFailed:
        return "erreur de lecture";
    }
    return "fichier WAV illisible";
}
