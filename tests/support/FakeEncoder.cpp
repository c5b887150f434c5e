#include "tests/support/FakeEncoder.h"

#include <string.h>

#include <algorithm>
#include <mutex>

namespace {

enum StreamState { Freed, Open, AwaitingHeader };
struct Stream {
    StreamState state;
    DWORD chunks, perChunk;
    bool header;
};

std::mutex lock;
std::vector<EncoderCall> log;
std::vector<Stream> streams;  // by serial; 0 is no stream
std::string failure;

// Streams are handed out as their serial numbers.
unsigned serialOf(HBE_STREAM handle, StreamState state = Open) {
    return handle < (HBE_STREAM)streams.size() && streams[handle].state == state ? (unsigned)handle : 0;
}

BE_ERR record(const char* kind, unsigned stream, BE_ERR result, const EncoderCall& call = {}) {
    log.push_back(call);
    log.back().kind = kind;
    log.back().stream = stream;
    log.back().result = result;
    return result;
}

BE_ERR __cdecl initStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize, PHBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    *samples = config->nMode == BE_MP3_MODE_MONO ? 1152 : 2304;
    *bufferSize = 16384;
    *handle = (HBE_STREAM)streams.size();
    streams.push_back({Open, 0, *samples, config->bWriteVBRHeader != 0});
    BE_ERR result = failure == "init" ? BE_ERR_INVALID_FORMAT_PARAMETERS : BE_ERR_SUCCESSFUL;
    return record("init", (unsigned)*handle, result, {"", 0, 0, *config, {}, {}});
}

BE_ERR __cdecl encodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples, BYTE* output, DWORD* outputSize) {
    if (fakeEncoder::beforeChunk) {
        fakeEncoder::beforeChunk();
    }
    std::lock_guard<std::mutex> hold(lock);
    unsigned s = serialOf(handle);
    EncoderCall call = {"", 0, 0, {}, {samples, samples + count}, {}};
    *outputSize = 0;
    if (!s || count > streams[s].perChunk || failure == "encode:" + std::to_string(++streams[s].chunks)) {
        return record("encode", s, BE_ERR_INVALID_FORMAT, call);
    }
    memcpy(output, samples, count * sizeof(SHORT));
    *outputSize = count * sizeof(SHORT);
    return record("encode", s, BE_ERR_SUCCESSFUL, call);
}

BE_ERR __cdecl deinitStream(HBE_STREAM handle, BYTE* output, DWORD* outputSize) {
    std::lock_guard<std::mutex> hold(lock);
    unsigned s = serialOf(handle);
    *outputSize = s && failure != "deinit" ? 3 : 0;
    memcpy(output, "END", *outputSize);
    return record("deinit", s, *outputSize ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT);
}

BE_ERR __cdecl closeStream(HBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    unsigned s = serialOf(handle);
    if (s) {
        streams[s].state = streams[s].header ? AwaitingHeader : Freed;
    }
    return record("close", s, s ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE);
}

int __cdecl freeStream(HBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    unsigned s = serialOf(handle) ? (unsigned)handle : serialOf(handle, AwaitingHeader);
    if (s) {
        streams[s].state = Freed;
    }
    return (int)record("free", s, s ? 0 : (BE_ERR)-1);
}

// Writes into the last stream closed, as LAME's does: opens the file
// unshared, which fails while the caller still holds it open, and ends it
// with "VBR"; the stream is freed whatever happens.
BE_ERR __cdecl writeVbrHeader(LPCSTR path) {
    std::lock_guard<std::mutex> hold(lock);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    bool written = file != INVALID_HANDLE_VALUE && failure != "vbrheader" && WriteFile(file, "VBR", 3, &done, nullptr);
    CloseHandle(file);
    unsigned s = (unsigned)streams.size() - 1;
    for (; s && streams[s].state != AwaitingHeader; s--) {
    }
    streams[s].state = Freed;
    return record("vbrheader", s, written && s ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT, {"", 0, 0, {}, {}, path});
}

}  // namespace

namespace fakeEncoder {

std::function<void()> beforeChunk;

void install(Converter& c) {
    c.unloadEncoder();
    // Any module will do: the jobs only ask that the library be loaded.
    c.encoderLibrary = LoadLibraryA("kernel32.dll");
    c.beInitStream = initStream;
    c.beEncodeChunk = encodeChunk;
    c.beDeinitStream = deinitStream;
    c.beCloseStream = closeStream;
    c.beWriteVBRHeader = writeVbrHeader;
    c.lameClose = freeStream;
    std::lock_guard<std::mutex> hold(lock);
    log.clear();
    streams = {{Freed, 0, 0, false}};
    failure.clear();
    beforeChunk = nullptr;
}

void failAt(const char* what) {
    std::lock_guard<std::mutex> hold(lock);
    failure = what;
}

std::vector<EncoderCall> calls() {
    std::lock_guard<std::mutex> hold(lock);
    return log;
}

size_t count(const char* kind) {
    std::lock_guard<std::mutex> hold(lock);
    return std::count_if(log.begin(), log.end(), [&](const EncoderCall& call) { return call.kind == kind; });
}

int streamsAlive() {
    std::lock_guard<std::mutex> hold(lock);
    return (int)std::count_if(streams.begin(), streams.end(), [](const Stream& s) { return s.state != Freed; });
}

}  // namespace fakeEncoder
