// Driving the recording stand-in for lame_enc.dll from the tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/Converter.h"
#include "tests/support/Files.h"

struct RecordedCall {
    std::string kind;  // init, encode, deinit, close, vbrheader
    unsigned long result;
    unsigned stream;   // serial number of the stream, from 1
    DWORD samples;     // init: samples per chunk; encode: the count passed
    DWORD checksum;    // encode: FNV-1a of the sample bytes
    DWORD outBytes;    // encode, deinit: bytes returned
    std::vector<BYTE> config;  // init: the whole record
    std::string path;          // vbrheader: the file named
};

// Loads the stand-in (or its variant without beEncodeChunk) into `c`.
int useRecorder(Converter& c, bool partial = false);
// The build's own Linux lame_enc.dll, which starts its native helper.
int useLinuxEncoder(Converter& c);
// Starts a fresh log and clears any planned failure.
void resetRecorder();
// "init", "encode:K", "deinit", "vbrheader", or "" for none.
void recorderFailAt(const char* what);
std::vector<RecordedCall> readRecorderLog();

DWORD fnv1a(const void* bytes, size_t size);
