// Helpers for the core's tests: WAV files built byte by byte, a scratch
// folder under the temporary path, and the committed sample files.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

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

inline void putTag(Bytes& b, const char* tag) {
    b.insert(b.end(), tag, tag + 4);
}

// One chunk with its declared size; the pad byte follows an odd body.
inline void putChunk(Bytes& b, const char* tag, const Bytes& body, uint32_t declared) {
    putTag(b, tag);
    put32(b, declared);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) {
        b.push_back(0);
    }
}

inline void putChunk(Bytes& b, const char* tag, const Bytes& body) {
    putChunk(b, tag, body, (uint32_t)body.size());
}

// The 16 bytes of a PCM format description, tag through bits per sample.
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

// An extensible format chunk body (40 bytes) with the given sub-format tag.
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

// "RIFF", the size of what follows, "WAVE", then the chunks.
inline Bytes riffWave(const Bytes& chunks) {
    Bytes b;
    putTag(b, "RIFF");
    put32(b, (uint32_t)(chunks.size() + 4));
    putTag(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

// The canonical layout: format chunk of 16 (or 18) bytes, data right after.
inline Bytes canonicalWav(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
                          uint32_t formatSize = 16) {
    Bytes chunks;
    Bytes format = formatBody(1, channels, rate, bits);
    if (formatSize == 18) {
        put16(format, 0);
    }
    putChunk(chunks, "fmt ", format);
    putChunk(chunks, "data", data);
    return riffWave(chunks);
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

inline HANDLE openForReading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline DWORD filePosition(HANDLE file) {
    return SetFilePointer(file, 0, nullptr, FILE_CURRENT);
}

// A folder of its own under the temporary path, removed with its files.
class ScratchFolder {
public:
    std::string write(const char* name, const Bytes& bytes) {
        std::string path = folder.file(name);
        writeFileContents(path, std::string(bytes.begin(), bytes.end()));
        return fileContents(path).size() == bytes.size() ? path : std::string();
    }

private:
    TempFolder folder;
};
