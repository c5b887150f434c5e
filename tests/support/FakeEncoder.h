// An encoder library inside the test program, which install() gives a Converter. It counts its
// calls, fails where told ("init", "encode:K" for the K-th chunk of a stream, "deinit",
// "vbrheader"; "samples:N" asks for N samples a chunk), and its "MP3" bytes are the samples it
// was given, then "END" at the flush. Like LAME's DLL, it hands out a stream even when it refuses
// the record, and keeps a closed stream that asked for the VBR header until that is written.
#pragma once

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/Converter.h"

namespace fakeEncoder {

// Runs on the worker's thread at every chunk, before it is encoded.
inline std::function<void()> beforeChunk;

enum StreamState { Freed, Open, AwaitingHeader };
struct Stream { StreamState state; DWORD chunks, perChunk; bool header; };

inline std::mutex lock;
inline std::vector<std::string> calls;
inline std::string initModes;  // the record's nMode at each init
inline std::vector<Stream> streams;  // by serial, which is the handle; 0 is no stream
inline std::string failure;

inline Stream* streamOf(HBE_STREAM handle, StreamState state = Open) {
    return handle < streams.size() && streams[handle].state == state ? &streams[handle] : nullptr;
}

inline BE_ERR record(BE_ERR result, const char* kind) { return calls.push_back(kind), result; }

inline BE_ERR __cdecl initStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize, PHBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    *samples = failure.compare(0, 8, "samples:") ? config->nMode == BE_MP3_MODE_MONO ? 1152 : 2304
                                                  : strtoul(failure.c_str() + 8, nullptr, 10);
    *bufferSize = 16384;
    *handle = streams.size();
    streams.push_back({Open, 0, *samples, config->bWriteVBRHeader != 0});
    initModes += config->bEnableVBR || config->nVbrMethod == -1 ? std::to_string(config->nMode) : "?";  // constant: no method
    return record(failure == "init" ? BE_ERR_INVALID_FORMAT_PARAMETERS : 0, "init");
}

inline BE_ERR __cdecl encodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples, BYTE* output, DWORD* outputSize) {
    beforeChunk ? beforeChunk() : (void)0;
    std::lock_guard<std::mutex> hold(lock);
    Stream* s = streamOf(handle);
    bool fails = !s || count > s->perChunk || failure == "encode:" + std::to_string(++s->chunks);
    *outputSize = fails ? 0 : count * sizeof(SHORT);
    memcpy(output, samples, *outputSize);
    return record(fails ? BE_ERR_INVALID_FORMAT : 0, "encode");
}

inline BE_ERR __cdecl deinitStream(HBE_STREAM handle, BYTE* output, DWORD* outputSize) {
    std::lock_guard<std::mutex> hold(lock);
    *outputSize = streamOf(handle) && failure != "deinit" ? 3 : 0;
    memcpy(output, "END", *outputSize);
    return record(*outputSize ? 0 : BE_ERR_INVALID_FORMAT, "deinit");
}

inline BE_ERR __cdecl closeStream(HBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    Stream* s = streamOf(handle);
    s ? (void)(s->state = s->header ? AwaitingHeader : Freed) : (void)0;
    return record(s ? 0 : BE_ERR_INVALID_HANDLE, "close");
}

inline int __cdecl freeStream(HBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    Stream* s = streamOf(handle) ? streamOf(handle) : streamOf(handle, AwaitingHeader);
    s ? (void)(s->state = Freed) : (void)0;
    return (int)record(s ? 0 : (BE_ERR)-1, "free");
}

// Frees the last stream closed, as LAME's does, and ends the file, opened unshared, with "VBR".
inline BE_ERR __cdecl writeVbrHeader(LPCSTR path) {
    std::lock_guard<std::mutex> hold(lock);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    bool written = file != INVALID_HANDLE_VALUE && failure != "vbrheader" && WriteFile(file, "VBR", 3, &done, nullptr);
    CloseHandle(file);
    auto waiting = std::find_if(streams.rbegin(), streams.rend(), [](const Stream& s) { return s.state == AwaitingHeader; });
    waiting != streams.rend() ? (void)(waiting->state = Freed) : (void)(written = false);
    return record(written ? 0 : BE_ERR_INVALID_FORMAT, "vbrheader");
}

// Also forgets earlier calls and planned failures.
inline void install(Converter& c) {
    c.unloadEncoder();
    // Any module will do: the jobs only ask that the library be loaded.
    c.encoderLibrary = LoadLibraryA("kernel32.dll");
    c.beInitStream = initStream, c.beEncodeChunk = encodeChunk, c.beDeinitStream = deinitStream;
    c.beCloseStream = closeStream, c.beWriteVBRHeader = writeVbrHeader, c.lameClose = freeStream;
    std::lock_guard<std::mutex> hold(lock);
    calls.clear(), initModes.clear(), failure.clear();
    streams = {{Freed, 0, 0, false}};
    beforeChunk = nullptr;
}

inline void failAt(const char* what) { std::lock_guard<std::mutex> hold(lock); failure = what; }
// Calls made: init, encode, deinit, close, vbrheader, free (lame_close).
inline size_t count(const char* kind) { std::lock_guard<std::mutex> hold(lock); return std::count(calls.begin(), calls.end(), kind); }
// The record's nMode at each init, one digit each.
inline std::string modes() { std::lock_guard<std::mutex> hold(lock); return initModes; }
// Streams handed out and not yet freed.
inline int streamsAlive() {
    std::lock_guard<std::mutex> hold(lock);
    return (int)std::count_if(streams.begin(), streams.end(), [](const Stream& s) { return s.state != Freed; });
}

}  // namespace fakeEncoder
