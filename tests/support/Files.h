// Files and folders for the tests, and WAV files built byte by byte.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <stdint.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A folder of its own under the temporary folder, removed with all it holds on destruction.
class TempFolder {
public:
    TempFolder() {
        static LONG counter;
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        wsprintfA(path_, "%scalbrune-test-%lu-%ld", base, GetCurrentProcessId(), InterlockedIncrement(&counter));
        CreateDirectoryA(path_, nullptr);
    }
    ~TempFolder() {
        char from[MAX_PATH + 1] = {};  // a list of names, ended by an empty one
        lstrcpynA(from, path_, MAX_PATH);
        SHFILEOPSTRUCTA remove = {nullptr, FO_DELETE, from, nullptr, FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT, FALSE, nullptr, nullptr};
        SHFileOperationA(&remove);
    }
    const char* path() const { return path_; }
    std::string file(const char* name) const { return std::string(path_) + "\\" + name; }

private:
    char path_[MAX_PATH];
};

typedef std::vector<uint8_t> Bytes;

inline std::string fileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void writeFileContents(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
inline bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
inline Bytes readWholeFile(const std::string& path) { std::string b = fileContents(path); return Bytes(b.begin(), b.end()); }
inline std::string writeBytes(const TempFolder& folder, const char* name, const Bytes& bytes) {
    return writeFileContents(folder.file(name), std::string(bytes.begin(), bytes.end())), folder.file(name);
}
// Temporary outputs that a job left in `folder`.
inline int pendingOutputFiles(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.~c?").c_str(), &found);
    int count = search != INVALID_HANDLE_VALUE;
    for (; count && FindNextFileA(search, &found); count++) {
    }
    return count ? FindClose(search), count : 0;
}

// `b` with the little-endian field of `width` bytes at `at` set to `value`.
inline Bytes edited(Bytes b, size_t at, uint32_t value, int width = 4) {
    for (int i = 0; i < width; i++) {
        b.at(at + i) = (uint8_t)(value >> (8 * i));
    }
    return b;
}

// The 16 bytes of a format description with packed samples.
inline Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    uint32_t align = channels * (bits / 8);
    return edited(edited(edited(edited(Bytes(16), 0, tag | channels << 16), 4, rate), 8, rate * align), 12, align | bits << 16);
}

// A RIFF WAVE file of these chunks, each declaring its body's size unless told otherwise, an odd
// body followed by its pad byte.
struct Chunk { const char* tag; Bytes body; int64_t declared = -1; };
inline void putChunk(Bytes& b, const Chunk& chunk) {
    Bytes size = edited(Bytes(4), 0, chunk.declared < 0 ? (uint32_t)chunk.body.size() : (uint32_t)chunk.declared);
    b.insert(b.end(), chunk.tag, chunk.tag + 4);
    b.insert(b.end(), size.begin(), size.end());
    b.insert(b.end(), chunk.body.begin(), chunk.body.end());
    chunk.body.size() & 1 ? b.push_back(0) : (void)0;
}
inline Bytes riffOf(const std::vector<Chunk>& chunks) {
    Bytes body = {'W', 'A', 'V', 'E'}, b;
    for (const Chunk& chunk : chunks) {
        putChunk(body, chunk);
    }
    return putChunk(b, {"RIFF", body}), b;
}
inline Bytes wavOf(const Bytes& format, const Bytes& data) { return riffOf({{"fmt ", format}, {"data", data}}); }
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

inline std::string testDataPath(const char* name) { return std::string(CALBRUNE_TEST_DATA) + "\\" + name; }
