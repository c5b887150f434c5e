#include <stdlib.h>
#include <string.h>

#include "core/Converter.h"

// The last chunk takes only what is left of the data.
static DWORD clampRequest(DWORD request, DWORD consumed, DWORD total) {
    if (consumed >= total) {
        return 0;
    }
    return request < total - consumed ? request : total - consumed;
}

DWORD Converter::readFileChunk(HANDLE file, DWORD* consumed, DWORD total, SHORT* out, DWORD n,
                               const BE_CONFIG* config) {
    if (!consumed || !out || !config) {
        return 0;
    }
    bool monoOutput = config->nMode == BE_MP3_MODE_MONO;
    DWORD request;
    if (!eightBitInput_) {
        request = !convertChannels_ ? 2 * n : monoOutput ? 4 * n : n;
    } else {
        request = !convertChannels_ ? n : monoOutput ? 2 * n : n / 2;
    }
    request = clampRequest(request, *consumed, total);

    // 16-bit samples whose channel count does not change go straight into
    // the encoder's buffer.
    bool direct = !eightBitInput_ && !convertChannels_;
    BYTE* raw = direct ? (BYTE*)out : (BYTE*)malloc(request ? request : 1);
    if (!raw) {
        return 0;
    }
    DWORD got = 0;
    if (!ReadFile(file, raw, request, &got, nullptr) || got != request) {
        if (!direct) {
            free(raw);
        }
        return 0;
    }
    *consumed += request;

    DWORD result;
    if (direct) {
        result = request / 2;
    } else if (!eightBitInput_) {
        if (monoOutput) {
            stereoToMono(out, (const SHORT*)raw, request / 2);
            result = request / 4;
        } else {
            monoToStereo(out, (const SHORT*)raw, request / 2);
            result = 2 * (request / 2);
        }
    } else if (!convertChannels_) {
        widen8To16(out, raw, request);
        result = request;
    } else if (monoOutput) {
        stereo8ToMono16(out, raw, request);
        result = request / 2;
    } else {
        mono8ToStereo16(out, raw, request);
        result = request * 2;
    }
    if (!direct) {
        free(raw);
    }
    return result;
}

DWORD Converter::readBufferChunk(const BYTE* buffer, DWORD* position, DWORD total, SHORT* out,
                                 DWORD n, const BE_CONFIG* config) {
    if (!buffer || !position || !out || !config) {
        return 0;
    }
    if (!convertChannels_) {
        DWORD request = clampRequest(2 * n, *position, total);
        memcpy(out, buffer + *position, request);
        *position += request;
        return request / 2;
    }
    DWORD request = clampRequest(4 * n, *position, total);
    SHORT* raw = (SHORT*)malloc(request ? request : 1);
    if (!raw) {
        return 0;
    }
    memcpy(raw, buffer + *position, request);
    *position += request;
    stereoToMono(out, raw, request / 2);
    free(raw);
    return request / 4;
}
