// A stand-in for lame_enc.dll that records every call, one line each, in the
// file named by CALBRUNE_RECORDER_LOG, and fails where CALBRUNE_RECORDER_FAIL
// says: "init", "encode:K" (the K-th chunk of a stream), "deinit" or
// "vbrheader". Its MP3 bytes are a fixed function of the calls, so tests can
// predict them; its VBR header turns the tag of the first record into "VBR".
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/LameApi.h"

#define EXPORT extern "C" __declspec(dllexport)

namespace {

struct Stream {
    unsigned serial;
    DWORD samplesPerChunk;
    DWORD chunks;
    DWORD totalSamples;
    BOOL wantsTag;
    BOOL flushed;
    Stream* next;
};

CRITICAL_SECTION lock;
Stream* streams;
unsigned lastSerial;
// Like the genuine library, the header goes to the last stream closed after
// its flush with bWriteVBRHeader set.
unsigned tagSerial;

void readVariable(const char* name, char* value, DWORD capacity) {
    DWORD length = GetEnvironmentVariableA(name, value, capacity);
    if (length == 0 || length >= capacity) {
        value[0] = '\0';
    }
}

void record(const char* line) {
    char path[MAX_PATH];
    readVariable("CALBRUNE_RECORDER_LOG", path, sizeof(path));
    if (!path[0]) {
        return;
    }
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written;
    WriteFile(log, line, (DWORD)strlen(line), &written, nullptr);
    CloseHandle(log);
}

bool told(const char* what, DWORD chunk = 0) {
    char fail[64];
    readVariable("CALBRUNE_RECORDER_FAIL", fail, sizeof(fail));
    if (chunk == 0) {
        return strcmp(fail, what) == 0;
    }
    char expected[64];
    snprintf(expected, sizeof(expected), "%s:%lu", what, (unsigned long)chunk);
    return strcmp(fail, expected) == 0;
}

Stream* find(HBE_STREAM handle) {
    for (Stream* s = streams; s; s = s->next) {
        if ((HBE_STREAM)s == handle) {
            return s;
        }
    }
    return nullptr;
}

[[maybe_unused]] DWORD checksum(const void* bytes, size_t size) {
    const BYTE* p = (const BYTE*)bytes;
    DWORD hash = 2166136261u;
    for (size_t i = 0; i < size; i++) {
        hash = (hash ^ p[i]) * 16777619u;
    }
    return hash;
}

void putWord(BYTE* out, DWORD value) {
    memcpy(out, &value, 4);
}

// Every output record is 16 bytes: a tag, the stream's serial, then three words.
DWORD writeRecord(BYTE* out, const char* tag, unsigned serial, DWORD a, DWORD b, DWORD c) {
    memcpy(out, tag, 3);
    out[3] = (BYTE)serial;
    putWord(out + 4, a);
    putWord(out + 8, b);
    putWord(out + 12, c);
    return 16;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&lock);
    }
    return TRUE;
}

EXPORT BE_ERR __cdecl beInitStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize,
                                    PHBE_STREAM handle) {
    EnterCriticalSection(&lock);
    BE_ERR result = BE_ERR_SUCCESSFUL;
    Stream* stream = nullptr;
    if (!config || !samples || !bufferSize || !handle || config->dwStructSize != 331 ||
        config->nMode < 0 || config->nMode > 3) {
        result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    } else if (told("init")) {
        result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    } else {
        stream = (Stream*)calloc(1, sizeof(Stream));
        stream->serial = ++lastSerial;
        DWORD rate = config->dwReSampleRate ? config->dwReSampleRate : config->dwSampleRate;
        DWORD channels = config->nMode == BE_MP3_MODE_MONO ? 1 : 2;
        stream->samplesPerChunk = (rate >= 32000 ? 1152 : 576) * channels;
        stream->wantsTag = config->bWriteVBRHeader;
        stream->next = streams;
        streams = stream;
        *samples = stream->samplesPerChunk;
        *bufferSize = 16384;
        *handle = (HBE_STREAM)stream;
    }

    char line[64 + 2 * sizeof(BE_CONFIG)];
    int length = snprintf(line, 64, "init\t%lu\t%u\t%lu\t", (unsigned long)result,
                          stream ? stream->serial : 0,
                          (unsigned long)(stream ? stream->samplesPerChunk : 0));
    for (size_t i = 0; config && i < sizeof(BE_CONFIG); i++) {
        length += snprintf(line + length, 3, "%02X", ((const BYTE*)config)[i]);
    }
    strcpy(line + length, "\n");
    record(line);
    LeaveCriticalSection(&lock);
    return result;
}

#ifndef RECORDER_WITHOUT_ENCODE
EXPORT BE_ERR __cdecl beEncodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples, BYTE* output,
                                     DWORD* outputSize) {
    EnterCriticalSection(&lock);
    Stream* stream = find(handle);
    BE_ERR result = BE_ERR_SUCCESSFUL;
    DWORD sum = samples ? checksum(samples, count * sizeof(SHORT)) : 0;
    DWORD produced = 0;
    if (!stream) {
        result = BE_ERR_INVALID_HANDLE;
    } else if (count > stream->samplesPerChunk || !samples || !output || !outputSize) {
        result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    } else {
        stream->chunks++;
        if (told("encode", stream->chunks)) {
            result = BE_ERR_INVALID_FORMAT;
        } else {
            stream->totalSamples += count;
            produced = writeRecord(output, "ENC", stream->serial, stream->chunks, count, sum);
        }
    }
    if (outputSize) {
        *outputSize = produced;
    }
    char line[128];
    snprintf(line, sizeof(line), "encode\t%lu\t%u\t%lu\t%08lX\t%lu\n", (unsigned long)result,
             stream ? stream->serial : 0, (unsigned long)count, (unsigned long)sum,
             (unsigned long)produced);
    record(line);
    LeaveCriticalSection(&lock);
    return result;
}
#endif

EXPORT BE_ERR __cdecl beDeinitStream(HBE_STREAM handle, BYTE* output, DWORD* outputSize) {
    EnterCriticalSection(&lock);
    Stream* stream = find(handle);
    BE_ERR result = BE_ERR_SUCCESSFUL;
    DWORD produced = 0;
    if (!stream) {
        result = BE_ERR_INVALID_HANDLE;
    } else if (told("deinit") || !output || !outputSize) {
        result = BE_ERR_INVALID_FORMAT;
    } else {
        produced = writeRecord(output, "END", stream->serial, stream->chunks,
                               stream->totalSamples, 0);
        stream->flushed = TRUE;
    }
    if (outputSize) {
        *outputSize = produced;
    }
    char line[128];
    snprintf(line, sizeof(line), "deinit\t%lu\t%u\t%lu\n", (unsigned long)result,
             stream ? stream->serial : 0, (unsigned long)produced);
    record(line);
    LeaveCriticalSection(&lock);
    return result;
}

EXPORT BE_ERR __cdecl beCloseStream(HBE_STREAM handle) {
    EnterCriticalSection(&lock);
    BE_ERR result = BE_ERR_INVALID_HANDLE;
    unsigned serial = 0;
    for (Stream** link = &streams; *link; link = &(*link)->next) {
        if ((HBE_STREAM)*link == handle) {
            Stream* stream = *link;
            serial = stream->serial;
            tagSerial = stream->wantsTag && stream->flushed ? serial : 0;
            *link = stream->next;
            free(stream);
            result = BE_ERR_SUCCESSFUL;
            break;
        }
    }
    char line[64];
    snprintf(line, sizeof(line), "close\t%lu\t%u\n", (unsigned long)result, serial);
    record(line);
    LeaveCriticalSection(&lock);
    return result;
}

EXPORT VOID __cdecl beVersion(BE_VERSION* version) {
    if (version) {
        memset(version, 0, sizeof(*version));
        version->byDLLMajorVersion = 1;
        version->byMajorVersion = 3;
        version->byMinorVersion = 100;
    }
    record("version\t0\t0\n");
}

// Opens the file as the genuine library does, by name and for writing, which
// fails while the caller still holds it open.
EXPORT BE_ERR __cdecl beWriteVBRHeader(LPCSTR path) {
    EnterCriticalSection(&lock);
    unsigned serial = tagSerial;
    tagSerial = 0;
    BE_ERR result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    HANDLE file = serial && path ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                 : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        char first[3];
        DWORD done = 0;
        if (told("vbrheader")) {
            result = BE_ERR_INVALID_FORMAT;
        } else if (ReadFile(file, first, 3, &done, nullptr) && done == 3 &&
                   memcmp(first, "EN", 2) == 0 &&
                   SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
                   WriteFile(file, "VBR", 3, &done, nullptr) && done == 3) {
            result = BE_ERR_SUCCESSFUL;
        }
        CloseHandle(file);
    }
    char line[MAX_PATH + 64];
    snprintf(line, sizeof(line), "vbrheader\t%lu\t%u\t%s\n", (unsigned long)result, serial,
             path ? path : "");
    record(line);
    LeaveCriticalSection(&lock);
    return result;
}
