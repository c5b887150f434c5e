#include "tests/support/FakeEncoder.h"

#include <string.h>

#include <algorithm>
#include <mutex>

namespace {

struct Stream {
    unsigned serial;
    DWORD samplesPerChunk;
    DWORD chunks;
    bool wantsTag;
    bool flushed;
};

std::mutex lock;
std::vector<EncoderCall> log;
std::vector<Stream*> streams;
std::string failure;
unsigned lastSerial;
// Like the genuine library, the header goes to the last stream closed after
// its flush with bWriteVBRHeader set.
unsigned tagSerial;

Stream* find(HBE_STREAM handle) {
    for (Stream* s : streams) {
        if ((HBE_STREAM)s == handle) {
            return s;
        }
    }
    return nullptr;
}

BE_ERR record(EncoderCall call, BE_ERR result) {
    call.result = result;
    log.push_back(call);
    return result;
}

BE_ERR __cdecl initStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize,
                          PHBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    EncoderCall call = {"init", 0, 0, *config, {}, {}};
    if (failure == "init" || config->dwStructSize != sizeof(BE_CONFIG)) {
        return record(call, BE_ERR_INVALID_FORMAT_PARAMETERS);
    }
    Stream* stream = new Stream{++lastSerial, 0, 0, config->bWriteVBRHeader != 0, false};
    DWORD rate = config->dwReSampleRate ? config->dwReSampleRate : config->dwSampleRate;
    stream->samplesPerChunk = (rate >= 32000 ? 1152 : 576) * (config->nMode == BE_MP3_MODE_MONO ? 1 : 2);
    streams.push_back(stream);
    *samples = stream->samplesPerChunk;
    *bufferSize = 16384;
    *handle = (HBE_STREAM)stream;
    call.stream = stream->serial;
    return record(call, BE_ERR_SUCCESSFUL);
}

BE_ERR __cdecl encodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples, BYTE* output,
                           DWORD* outputSize) {
    if (fakeEncoder::beforeChunk) {
        fakeEncoder::beforeChunk();
    }
    std::lock_guard<std::mutex> hold(lock);
    Stream* stream = find(handle);
    *outputSize = 0;
    EncoderCall call = {"encode", 0, stream ? stream->serial : 0, {}, {samples, samples + count}, {}};
    if (!stream || count > stream->samplesPerChunk) {
        return record(call, BE_ERR_INVALID_FORMAT_PARAMETERS);
    }
    if (failure == "encode:" + std::to_string(++stream->chunks)) {
        return record(call, BE_ERR_INVALID_FORMAT);
    }
    memcpy(output, samples, count * sizeof(SHORT));
    *outputSize = count * sizeof(SHORT);
    return record(call, BE_ERR_SUCCESSFUL);
}

BE_ERR __cdecl deinitStream(HBE_STREAM handle, BYTE* output, DWORD* outputSize) {
    std::lock_guard<std::mutex> hold(lock);
    Stream* stream = find(handle);
    *outputSize = 0;
    EncoderCall call = {"deinit", 0, stream ? stream->serial : 0, {}, {}, {}};
    if (!stream || failure == "deinit") {
        return record(call, BE_ERR_INVALID_FORMAT);
    }
    memcpy(output, "END", 3);
    *outputSize = 3;
    stream->flushed = true;
    return record(call, BE_ERR_SUCCESSFUL);
}

BE_ERR __cdecl closeStream(HBE_STREAM handle) {
    std::lock_guard<std::mutex> hold(lock);
    Stream* stream = find(handle);
    EncoderCall call = {"close", 0, stream ? stream->serial : 0, {}, {}, {}};
    if (!stream) {
        return record(call, BE_ERR_INVALID_HANDLE);
    }
    tagSerial = stream->wantsTag && stream->flushed ? stream->serial : 0;
    streams.erase(std::find(streams.begin(), streams.end(), stream));
    delete stream;
    return record(call, BE_ERR_SUCCESSFUL);
}

// Opens the file by name for writing, as the genuine library does, which
// fails while the caller still holds it open; turns the final "END" into "VBR".
BE_ERR __cdecl writeVbrHeader(LPCSTR path) {
    std::lock_guard<std::mutex> hold(lock);
    EncoderCall call = {"vbrheader", 0, tagSerial, {}, {}, path ? path : ""};
    tagSerial = 0;
    HANDLE file = call.stream && path ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                      : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        return record(call, BE_ERR_INVALID_FORMAT_PARAMETERS);
    }
    char end[3];
    DWORD done = 0;
    bool written = failure != "vbrheader" && SetFilePointer(file, -3, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                   ReadFile(file, end, 3, &done, nullptr) && done == 3 && memcmp(end, "END", 3) == 0 &&
                   SetFilePointer(file, -3, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                   WriteFile(file, "VBR", 3, &done, nullptr) && done == 3;
    CloseHandle(file);
    return record(call, written ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT);
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
    c.encoderLibrary = LoadLibraryA(CALBRUNE_RECORDER_DIR "\\..\\lame_enc.dll");
    return c.encoderLibrary ? c.loadEncoder() : 0;
}
