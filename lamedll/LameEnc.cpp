// lame_enc.dll for Linux: the published entry points, with each stream's
// encoding done by a native helper process (see HelperLink).
#include <string.h>

#include <memory>
#include <new>

#include "core/LameApi.h"
#include "lamedll/HelperLink.h"
#include "lamedll/StreamPlan.h"

static_assert(offsetof(BE_CONFIG, nVbrMethod) == offsetof(EncoderRecord, nVbrMethod),
              "the helper reads BE_CONFIG as EncoderRecord");
static_assert(offsetof(BE_CONFIG, nQuality) == offsetof(EncoderRecord, nQuality),
              "the helper reads BE_CONFIG as EncoderRecord");

// One stream per helper. Chunks are handed over at once and their replies
// collected a few calls later, so the helper encodes while the caller reads,
// and the caller waits for the helper once per `depth` calls, not per call.
struct Stream {
    HelperLink link;
    Stream* next;
    DWORD samplesPerChunk;
    DWORD outputSize;
    DWORD maxChunkBytes;
    DWORD depth;
    DWORD pending;
    DWORD channels;
    int flushed;
    int wantsTag;
};

static HMODULE thisLibrary;
static SRWLOCK streamsLock = SRWLOCK_INIT;
static Stream* streams;
// The last closed stream that asked for a VBR header, kept for beWriteVBRHeader.
static Stream* tagStream;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisLibrary = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

static Stream* findStream(HBE_STREAM handle) {
    AcquireSRWLockShared(&streamsLock);
    Stream* found = streams;
    while (found && (HBE_STREAM)found != handle) {
        found = found->next;
    }
    ReleaseSRWLockShared(&streamsLock);
    return found;
}

static void unlinkStream(Stream* stream) {
    AcquireSRWLockExclusive(&streamsLock);
    Stream** at = &streams;
    while (*at && *at != stream) {
        at = &(*at)->next;
    }
    if (*at) {
        *at = stream->next;
    }
    ReleaseSRWLockExclusive(&streamsLock);
}

static void destroyStream(Stream* stream) {
    stream->link.close();
    delete stream;
}

static int isMpegRate(DWORD rate) {
    static const DWORD rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (DWORD known : rates) {
        if (rate == known) {
            return 1;
        }
    }
    return 0;
}

// The genuine library clamps or misreads these, or overruns the buffer size
// it reported (a 7 Hz input), so they are refused before any work starts.
static BE_ERR checkConfig(const BE_CONFIG* config) {
    if (config->dwConfig != BE_CONFIG_LAME) {
        return BE_ERR_INVALID_FORMAT;
    }
    if (config->dwStructSize != sizeof(BE_CONFIG)) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    if (config->nMode < BE_MP3_MODE_STEREO || config->nMode > BE_MP3_MODE_MONO) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    if (config->dwSampleRate < 8000 || config->dwSampleRate > 192000) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    if (config->dwReSampleRate != 0 && !isMpegRate(config->dwReSampleRate)) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    if (config->bEnableVBR && (config->nVbrMethod < -1 || config->nVbrMethod > 4)) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    return BE_ERR_SUCCESSFUL;
}

static BE_ERR initStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize, PHBE_STREAM handle) {
    if (!config || !samples || !bufferSize || !handle) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    *handle = 0;
    BE_ERR result = checkConfig(config);
    if (result != BE_ERR_SUCCESSFUL) {
        return result;
    }
    std::unique_ptr<Stream> stream(new Stream());
    if (!stream->link.start(thisLibrary)) {
        return BE_ERR_NO_MORE_HANDLES;
    }
    HelperInitReply answer = {};
    uint32_t status = 0;
    uint32_t size = 0;
    if (!stream->link.send(RequestInit, config, sizeof(BE_CONFIG)) ||
        !stream->link.receive(&status, &answer, sizeof answer, &size)) {
        return BE_ERR_NO_MORE_HANDLES;
    }
    StreamPlan plan;
    BE_ERR refused = planStream(status, size, answer, &plan);
    if (refused != BE_ERR_SUCCESSFUL) {
        return refused;
    }
    stream->samplesPerChunk = plan.samplesPerChunk;
    stream->maxChunkBytes = plan.maxChunkBytes;
    stream->channels = plan.channels;
    stream->depth = plan.depth;
    stream->outputSize = plan.outputSize;
    stream->wantsTag = config->bWriteVBRHeader != 0;
    *samples = stream->samplesPerChunk;
    *bufferSize = stream->outputSize;
    *handle = (HBE_STREAM)stream.get();
    AcquireSRWLockExclusive(&streamsLock);
    stream->next = streams;
    streams = stream.release();
    ReleaseSRWLockExclusive(&streamsLock);
    return BE_ERR_SUCCESSFUL;
}

// Appends the replies to the oldest `count` chunks handed over.
static BE_ERR collectReplies(Stream* stream, DWORD count, BYTE* output, DWORD* written) {
    BE_ERR result = BE_ERR_SUCCESSFUL;
    for (; count > 0; count--) {
        uint32_t status = 0;
        uint32_t size = 0;
        if (!stream->link.receive(&status, output + *written, stream->outputSize - *written, &size)) {
            return BE_ERR_INVALID_HANDLE;
        }
        stream->pending--;
        if (status != BE_ERR_SUCCESSFUL && result == BE_ERR_SUCCESSFUL) {
            result = status;
        }
        *written += size;
    }
    return result;
}

static BE_ERR encodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples, BYTE* output,
                          DWORD* outputBytes) {
    Stream* stream = findStream(handle);
    if (!stream || !stream->link.connected()) {
        return BE_ERR_INVALID_HANDLE;
    }
    if (!outputBytes || !output || (count > 0 && !samples) || stream->flushed) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    *outputBytes = 0;
    // More samples than reported could produce more than the reported buffer
    // holds; half a stereo frame would be dropped.
    if (count > stream->samplesPerChunk || count % stream->channels != 0) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    if (!stream->link.send(RequestEncode, samples, count * sizeof(SHORT))) {
        return BE_ERR_INVALID_HANDLE;
    }
    stream->pending++;
    if (stream->pending <= stream->depth) {
        return BE_ERR_SUCCESSFUL;
    }
    // The newest chunk stays with the helper, to keep it busy meanwhile.
    BE_ERR result = collectReplies(stream, stream->pending - 1, output, outputBytes);
    if (result != BE_ERR_SUCCESSFUL) {
        *outputBytes = 0;
    }
    return result;
}

static BE_ERR deinitStream(HBE_STREAM handle, BYTE* output, DWORD* outputBytes) {
    Stream* stream = findStream(handle);
    if (!stream || !stream->link.connected()) {
        return BE_ERR_INVALID_HANDLE;
    }
    if (!output || !outputBytes || stream->flushed) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    *outputBytes = 0;
    if (!stream->link.send(RequestFlush, nullptr, 0)) {
        return BE_ERR_INVALID_HANDLE;
    }
    stream->pending++;
    BE_ERR result = collectReplies(stream, stream->pending, output, outputBytes);
    if (result != BE_ERR_SUCCESSFUL) {
        *outputBytes = 0;
        return result;
    }
    stream->flushed = 1;
    return BE_ERR_SUCCESSFUL;
}

static BE_ERR closeStream(HBE_STREAM handle) {
    Stream* stream = findStream(handle);
    if (!stream) {
        return BE_ERR_INVALID_HANDLE;
    }
    unlinkStream(stream);
    Stream* replaced = nullptr;
    if (stream->wantsTag && stream->flushed && stream->link.connected()) {
        AcquireSRWLockExclusive(&streamsLock);
        replaced = tagStream;
        tagStream = stream;
        ReleaseSRWLockExclusive(&streamsLock);
    } else {
        destroyStream(stream);
    }
    if (replaced) {
        destroyStream(replaced);
    }
    return BE_ERR_SUCCESSFUL;
}

extern "C" VOID __cdecl beVersion(BE_VERSION* version) {
    if (!version) {
        return;
    }
    memset(version, 0, sizeof *version);
    version->byDLLMajorVersion = 1;
    version->byDLLMinorVersion = 32;
    // The engine is Debian's libmp3lame 3.100, which the helper links.
    version->byMajorVersion = 3;
    version->byMinorVersion = 100;
    version->byDay = 13;
    version->byMonth = 10;
    version->wYear = 2017;
    strcpy(version->zHomepage, "https://lame.sourceforge.io/");
}

// ID3v2 tags come before the first frame; their size is four 7-bit bytes.
static DWORD firstFrameOffset(HANDLE file) {
    BYTE header[10];
    DWORD got = 0;
    if (!ReadFile(file, header, sizeof header, &got, nullptr) || got != sizeof header ||
        memcmp(header, "ID3", 3) != 0) {
        return 0;
    }
    return (((DWORD)(header[6] & 0x7F) << 21) | ((DWORD)(header[7] & 0x7F) << 14) |
            ((DWORD)(header[8] & 0x7F) << 7) | (DWORD)(header[9] & 0x7F)) + 10;
}

static int isFrameStart(HANDLE file, DWORD offset) {
    BYTE sync[2];
    DWORD got = 0;
    return SetFilePointer(file, (LONG)offset, nullptr, FILE_BEGIN) == offset &&
           ReadFile(file, sync, sizeof sync, &got, nullptr) && got == sizeof sync &&
           sync[0] == 0xFF && (sync[1] & 0xE0) == 0xE0;
}

static BE_ERR writeTagFrame(const char* path, const BYTE* frame, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    DWORD start = firstFrameOffset(file);
    // The placeholder frame must be where the encoder put it, or we would
    // overwrite audio.
    BE_ERR result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    DWORD put = 0;
    if (isFrameStart(file, start) && isFrameStart(file, start + size) &&
        SetFilePointer(file, (LONG)start, nullptr, FILE_BEGIN) == start &&
        WriteFile(file, frame, size, &put, nullptr) && put == size) {
        result = BE_ERR_SUCCESSFUL;
    }
    CloseHandle(file);
    return result;
}

static BE_ERR writeVbrHeader(LPCSTR path) {
    AcquireSRWLockExclusive(&streamsLock);
    Stream* stream = tagStream;
    tagStream = nullptr;
    ReleaseSRWLockExclusive(&streamsLock);
    if (!stream) {
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    BE_ERR result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    // The stream is ours to destroy now, whatever happens.
    BYTE* frame = new (std::nothrow) BYTE[stream->maxChunkBytes];
    uint32_t status = 0;
    uint32_t size = 0;
    if (path && frame && stream->link.send(RequestTagFrame, nullptr, 0) &&
        stream->link.receive(&status, frame, stream->maxChunkBytes, &size) &&
        status == BE_ERR_SUCCESSFUL && size > 0) {
        result = writeTagFrame(path, frame, size);
    }
    delete[] frame;
    destroyStream(stream);
    return result;
}

// The caller knows only BE_ERR codes: no C++ exception (a failed allocation)
// may unwind into it.
template <typename Call>
static BE_ERR guarded(BE_ERR failure, Call call) {
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

extern "C" BE_ERR __cdecl beInitStream(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize,
                                       PHBE_STREAM handle) {
    return guarded(BE_ERR_NO_MORE_HANDLES, [&] { return initStream(config, samples, bufferSize, handle); });
}

extern "C" BE_ERR __cdecl beEncodeChunk(HBE_STREAM handle, DWORD count, SHORT* samples,
                                        BYTE* output, DWORD* outputBytes) {
    return guarded(BE_ERR_NO_MORE_HANDLES,
                   [&] { return encodeChunk(handle, count, samples, output, outputBytes); });
}

extern "C" BE_ERR __cdecl beDeinitStream(HBE_STREAM handle, BYTE* output, DWORD* outputBytes) {
    return guarded(BE_ERR_NO_MORE_HANDLES, [&] { return deinitStream(handle, output, outputBytes); });
}

extern "C" BE_ERR __cdecl beCloseStream(HBE_STREAM handle) {
    return guarded(BE_ERR_INVALID_HANDLE, [&] { return closeStream(handle); });
}

extern "C" BE_ERR __cdecl beWriteVBRHeader(LPCSTR path) {
    return guarded(BE_ERR_INVALID_FORMAT_PARAMETERS, [&] { return writeVbrHeader(path); });
}
