// Encodes a 16-bit PCM WAV file through lame_enc.dll chunk by chunk, as the
// program does; the native tests and the benchmark drive it under Wine.
//   lamedll_encode IN.wav OUT.mp3 [field=value ...] [hold=K] [starts=N]
// hold=K stops after chunk K, prints "held" and waits for a line on stdin.
// starts=N opens and closes N-1 streams before the one that encodes.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/LameApi.h"

struct Field {
    const char* name;
    size_t offset;
};

static const Field fields[] = {
    {"rate", offsetof(BE_CONFIG, dwSampleRate)},   {"resample", offsetof(BE_CONFIG, dwReSampleRate)},
    {"mode", offsetof(BE_CONFIG, nMode)},          {"bitrate", offsetof(BE_CONFIG, dwBitrate)},
    {"maxbitrate", offsetof(BE_CONFIG, dwMaxBitrate)}, {"preset", offsetof(BE_CONFIG, nPreset)},
    {"mpeg", offsetof(BE_CONFIG, dwMpegVersion)},  {"private", offsetof(BE_CONFIG, bPrivate)},
    {"crc", offsetof(BE_CONFIG, bCRC)},            {"copyright", offsetof(BE_CONFIG, bCopyright)},
    {"original", offsetof(BE_CONFIG, bOriginal)},  {"vbrheader", offsetof(BE_CONFIG, bWriteVBRHeader)},
    {"vbr", offsetof(BE_CONFIG, bEnableVBR)},      {"vbrq", offsetof(BE_CONFIG, nVBRQuality)},
    {"abr", offsetof(BE_CONFIG, dwVbrAbr_bps)},    {"method", offsetof(BE_CONFIG, nVbrMethod)},
    {"size", offsetof(BE_CONFIG, dwStructSize)},
};

static int setField(BE_CONFIG* config, const char* argument) {
    const char* equals = strchr(argument, '=');
    if (!equals) {
        return 0;
    }
    for (const Field& field : fields) {
        if (strlen(field.name) == (size_t)(equals - argument) &&
            strncmp(field.name, argument, equals - argument) == 0) {
            LONG value = strtol(equals + 1, nullptr, 10);
            memcpy((BYTE*)config + field.offset, &value, sizeof value);
            return 1;
        }
    }
    return 0;
}

// Leaves the file at the first sample; returns the data size, or 0.
static DWORD readHeader(HANDLE file, DWORD* rate, WORD* channels) {
    BYTE riff[12];
    DWORD got = 0;
    if (!ReadFile(file, riff, sizeof riff, &got, nullptr) || got != sizeof riff) {
        return 0;
    }
    for (;;) {
        BYTE chunk[8];
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr) || got != sizeof chunk) {
            return 0;
        }
        DWORD size;
        memcpy(&size, chunk + 4, 4);
        if (memcmp(chunk, "data", 4) == 0) {
            return size;
        }
        BYTE format[16];
        if (memcmp(chunk, "fmt ", 4) == 0 && size >= sizeof format) {
            if (!ReadFile(file, format, sizeof format, &got, nullptr) || got != sizeof format) {
                return 0;
            }
            memcpy(channels, format + 2, 2);
            memcpy(rate, format + 4, 4);
            size -= sizeof format;
        }
        SetFilePointer(file, (LONG)((size + 1) & ~1u), nullptr, FILE_CURRENT);
    }
}

static int fail(const char* call, BE_ERR code) {
    printf("failed %s %lu\n", call, (unsigned long)code);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: lamedll_encode IN.wav OUT.mp3 [field=value ...]\n");
        return 2;
    }
    HMODULE library = LoadLibraryA("lame_enc.dll");
    if (!library) {
        return fail("LoadLibrary", GetLastError());
    }
    BEINITSTREAM initStream = (BEINITSTREAM)(void*)GetProcAddress(library, "beInitStream");
    BEENCODECHUNK encodeChunk = (BEENCODECHUNK)(void*)GetProcAddress(library, "beEncodeChunk");
    BEDEINITSTREAM deinitStream = (BEDEINITSTREAM)(void*)GetProcAddress(library, "beDeinitStream");
    BECLOSESTREAM closeStream = (BECLOSESTREAM)(void*)GetProcAddress(library, "beCloseStream");
    BEWRITEVBRHEADER writeVbrHeader = (BEWRITEVBRHEADER)(void*)GetProcAddress(library, "beWriteVBRHeader");

    HANDLE input = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return fail("open", GetLastError());
    }
    DWORD rate = 0;
    WORD channels = 0;
    DWORD dataSize = readHeader(input, &rate, &channels);

    BE_CONFIG config = {};
    config.dwConfig = BE_CONFIG_LAME;
    config.dwStructVersion = 1;
    config.dwStructSize = sizeof config;
    config.dwSampleRate = rate;
    config.nMode = channels == 1 ? BE_MP3_MODE_MONO : BE_MP3_MODE_JSTEREO;
    config.dwBitrate = 128;
    config.dwMpegVersion = 1;
    config.bOriginal = TRUE;
    config.nVbrMethod = -1;
    int hold = -1;
    int starts = 1;
    for (int i = 3; i < argc; i++) {
        if (strncmp(argv[i], "hold=", 5) == 0) {
            hold = atoi(argv[i] + 5);
        } else if (strncmp(argv[i], "starts=", 7) == 0) {
            starts = atoi(argv[i] + 7);
        } else if (!setField(&config, argv[i])) {
            fprintf(stderr, "unknown setting %s\n", argv[i]);
            return 2;
        }
    }

    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    DWORD samplesPerChunk = 0;
    DWORD bufferSize = 0;
    HBE_STREAM stream = 0;
    BE_ERR result = BE_ERR_SUCCESSFUL;
    for (int start = 1; start <= starts; start++) {
        result = initStream(&config, &samplesPerChunk, &bufferSize, &stream);
        if (result != BE_ERR_SUCCESSFUL) {
            printf("start %d: ", start);
            return fail("beInitStream", result);
        }
        if (start < starts) {
            closeStream(stream);
        }
    }
    HANDLE output = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        closeStream(stream);
        return fail("create", GetLastError());
    }
    SHORT* samples = (SHORT*)malloc(samplesPerChunk * sizeof(SHORT));
    BYTE* mp3 = (BYTE*)malloc(bufferSize);
    DWORD consumed = 0;
    int chunk = 0;
    DWORD written = 0;
    while (consumed < dataSize) {
        DWORD want = samplesPerChunk * sizeof(SHORT);
        if (want > dataSize - consumed) {
            want = dataSize - consumed;
        }
        DWORD got = 0;
        if (!ReadFile(input, samples, want, &got, nullptr) || got == 0) {
            break;
        }
        consumed += got;
        if (chunk++ == hold) {
            printf("held\n");
            fflush(stdout);
            char line[16];
            fgets(line, sizeof line, stdin);
            QueryPerformanceCounter(&begin);
        }
        DWORD bytes = 0;
        result = encodeChunk(stream, got / sizeof(SHORT), samples, mp3, &bytes);
        if (result != BE_ERR_SUCCESSFUL) {
            QueryPerformanceCounter(&end);
            printf("failed beEncodeChunk %lu after %lld us\n", (unsigned long)result,
                   (end.QuadPart - begin.QuadPart) * 1000000 / frequency.QuadPart);
            closeStream(stream);
            return 1;
        }
        if (bytes > bufferSize) {
            closeStream(stream);
            return fail("beEncodeChunk overran", bytes);
        }
        WriteFile(output, mp3, bytes, &written, nullptr);
    }
    DWORD bytes = 0;
    result = deinitStream(stream, mp3, &bytes);
    if (result != BE_ERR_SUCCESSFUL) {
        closeStream(stream);
        return fail("beDeinitStream", result);
    }
    WriteFile(output, mp3, bytes, &written, nullptr);
    closeStream(stream);
    CloseHandle(output);
    CloseHandle(input);
    if (config.bWriteVBRHeader) {
        result = writeVbrHeader(argv[2]);
        if (result != BE_ERR_SUCCESSFUL) {
            return fail("beWriteVBRHeader", result);
        }
    }
    QueryPerformanceCounter(&end);
    printf("encoded %u samples per chunk, buffer %u, %lld us\n", (unsigned)samplesPerChunk,
           (unsigned)bufferSize, (end.QuadPart - begin.QuadPart) * 1000000 / frequency.QuadPart);
    free(samples);
    free(mp3);
    return 0;
}
