// Helpers for the core's tests: WAV files built byte by byte, files on disk,
// the committed sample files, the header step of the WAV job, and turns for
// the job tests.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/Converter.h"
#include "tests/support/Files.h"

typedef std::vector<uint8_t> Bytes;

inline void put16(Bytes& b, uint32_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}

inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline void poke32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) {
        b[at + i] = (uint8_t)(v >> (8 * i));
    }
}

// One chunk, declaring its body's size unless told otherwise; an odd body
// gets its pad byte.
inline void putChunk(Bytes& b, const char* tag, const Bytes& body, int64_t declared = -1) {
    b.insert(b.end(), tag, tag + 4);
    put32(b, declared < 0 ? (uint32_t)body.size() : (uint32_t)declared);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) {
        b.push_back(0);
    }
}

// The 16 bytes of a PCM format description.
inline Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    uint16_t align = (uint16_t)(channels * (bits / 8));
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * align);
    put16(b, align);
    put16(b, bits);
    return b;
}

// An extensible format body (40 bytes) with the given sub-format tag.
inline Bytes extensibleBody(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits) {
    static const uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    Bytes b = formatBody(0xFFFE, channels, rate, bits);
    put16(b, 22);
    put16(b, bits);
    put32(b, channels == 1 ? 0x4 : 0x3);
    put16(b, subTag);
    b.insert(b.end(), guidTail, guidTail + 14);
    return b;
}

inline Bytes riffWave(const Bytes& chunks) {
    Bytes b = {'R', 'I', 'F', 'F'};
    put32(b, (uint32_t)(chunks.size() + 4));
    b.insert(b.end(), {'W', 'A', 'V', 'E'});
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

// A format chunk and a data chunk.
inline Bytes wavOf(const Bytes& format, const Bytes& data) {
    Bytes chunks;
    putChunk(chunks, "fmt ", format);
    putChunk(chunks, "data", data);
    return riffWave(chunks);
}

// The canonical layout: 16-byte format chunk, data from byte 44.
inline Bytes canonicalWav(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
    return wavOf(formatBody(1, channels, rate, bits), data);
}

// Deterministic bytes that differ from one position to the next.
inline Bytes patternBytes(size_t size, uint32_t seed = 1) {
    Bytes b(size);
    uint32_t x = seed * 2654435761u + 12345;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345;
        b[i] = (uint8_t)(x >> 16);
    }
    return b;
}

inline std::string testDataPath(const char* name) {
    return std::string(CALBRUNE_TEST_DATA) + "\\" + name;
}

inline Bytes readWholeFile(const std::string& path) {
    std::string bytes = fileContents(path);
    return Bytes(bytes.begin(), bytes.end());
}

inline std::string writeBytes(const TempFolder& folder, const char* name, const Bytes& bytes) {
    std::string path = folder.file(name);
    writeFileContents(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

inline HANDLE openForReading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline DWORD filePosition(HANDLE file) {
    return SetFilePointer(file, 0, nullptr, FILE_CURRENT);
}

// What prepareEncoderConfig makes of a file (of CD audio for an empty path),
// over a record and a data size filled with garbage first.
struct Prepared {
    int result = -1;  // -1: the file did not open
    BE_CONFIG config;
    DWORD dataSize = 0xDEADBEEF;
    DWORD position = 0;
    WavStatus status = WavReadFailed;
};

// Leaves the file open in *kept when asked, else closes it.
inline Prepared prepare(Converter& c, const std::string& path, HANDLE* kept = nullptr) {
    Prepared p;
    memset(&p.config, 0xCD, sizeof(p.config));
    HANDLE file = path.empty() ? nullptr : openForReading(path);
    if (file == INVALID_HANDLE_VALUE) {
        return p;
    }
    p.result = c.prepareEncoderConfig(&p.config, &p.dataSize, file, &p.status);
    if (file) {
        p.position = filePosition(file);
        kept ? (void)(*kept = file) : (void)CloseHandle(file);
    }
    return p;
}
