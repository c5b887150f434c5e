// Driving the recording stand-in for lame_enc.dll from the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/Converter.h"

struct RecordedCall {
    std::string kind;  // init, encode, deinit, close
    unsigned long result;
    unsigned stream;   // serial number of the stream, from 1
    DWORD samples;     // init: samples per chunk; encode: the count passed
    DWORD checksum;    // encode: FNV-1a of the sample bytes
    DWORD outBytes;    // encode, deinit: bytes returned
    std::vector<BYTE> config;  // init: the whole record
};

// Loads the stand-in (or its variant without beEncodeChunk) into `c`.
int useRecorder(Converter& c, bool partial = false);
// Starts a fresh log and clears any planned failure.
void resetRecorder();
// "init", "encode:K", "deinit", or "" for none.
void recorderFailAt(const char* what);
std::vector<RecordedCall> readRecorderLog();

DWORD fnv1a(const void* bytes, size_t size);

// A folder of its own under the temporary folder, emptied and removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const char* path() const { return path_; }
    std::string file(const char* name) const;

private:
    char path_[MAX_PATH];
};

std::string fileContents(const std::string& path);
void writeFileContents(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
