#include "tests/support/FakeEncoder.h"

#include <string.h>

#include <mutex>

namespace {

std::mutex lock;
std::vector<EncoderCall> log;
std::vector<DWORD> chunks;         // by stream serial: chunks encoded so far
std::vector<DWORD> perChunk;       // by stream serial: samples per chunk
std::vector<bool> open;            // by stream serial
std::string failure;

// Streams are handed out as their serial numbers; 0 and closed ones are not streams.
unsigned serialOf(HBE_STREAM handle) {
    return handle < (HBE_STREAM)open.size() && open[handle] ? (unsigned)handle : 0;
}

BE_ERR record(const char* kind, unsigned stream, BE_ERR result, const EncoderCall& call = {}) {
    log.push_back(call);
    log.back().kind = kind;
    log.back().stream = stream;
    log.back().result = result;
    return result;
}

BE_ERR __cdecl initStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize,
                          PHBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    EncoderCall call = {"", 0, 0, *config, {}, {}};
    if (failure == "init") {
        return record("init", 0, BE_ERR_INVALID_FORMAT_PARAMETERS, call);
    }
    *samples = config->nMode == BE_MP3_MODE_MONO ? 1152 : 2304;
    *bufferSize = 16384;
    *handle = (HBE_STREAM)open.size();
    chunks.push_back(0);
    perChunk.push_back(*samples);
    open.push_back(true);
    return record("init", *handle, BE_ERR_SUCCESSFUL, call);
}

BE_ERR __cdecl encodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples, BYTE* output,
                           DWORD* outputSize) {
    if (fakeEncoder::beforeChunk) {
        fakeEncoder::beforeChunk();
    }
    std::lock_guard<std::mutex> hold(lock);
    unsigned s = serialOf(handle);
    EncoderCall call = {"", 0, 0, {}, {samples, samples + count}, {}};
    *outputSize = 0;
    if (!s || count > perChunk[s] || failure == "encode:" + std::to_string(++chunks[s])) {
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
        open[s] = false;
    }
    return record("close", s, s ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE);
}

// Opens the file unshared, which fails while the caller still holds it
// open, and ends it with "VBR".
BE_ERR __cdecl writeVbrHeader(LPCSTR path) {
    std::lock_guard<std::mutex> hold(lock);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    bool written = file != INVALID_HANDLE_VALUE && failure != "vbrheader" && WriteFile(file, "VBR", 3, &done, nullptr);
    CloseHandle(file);
    EncoderCall call = {"", 0, 0, {}, {}, path};
    return record("vbrheader", (unsigned)open.size() - 1, written ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT, call);
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
    std::lock_guard<std::mutex> hold(lock);
    log.clear();
    chunks = perChunk = {0};
    open = {false};
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

}  // namespace fakeEncoder

int useLinuxEncoder(Converter& c) {
    c.unloadEncoder();
    c.encoderLibrary = LoadLibraryA(CALBRUNE_BUILD_DIR "\\lame_enc.dll");
    return c.encoderLibrary ? c.loadEncoder() : 0;
}
