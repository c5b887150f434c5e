#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "core/Converter.h"

BOOL(WINAPI* readInput)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ReadFile;

// The last chunk takes only what is left of the data.
static DWORD clampRequest(uint64_t request, DWORD consumed, DWORD total) {
    if (consumed >= total) {
        return 0;
    }
    return request < total - consumed ? (DWORD)request : total - consumed;
}

static DWORD sampleWidth(int samples) {
    switch (samples) {
    case Converter::InputU8:
        return 1;
    case Converter::InputS24:
        return 3;
    case Converter::InputS32:
    case Converter::InputF32:
        return 4;
    }
    return 2;
}

// What a chunk of the current input takes, from the flags that
// prepareEncoderConfig set and the MP3's channel mode. Both readers share it.
struct ChunkPlan {
    int samples;
    DWORD width;
    bool convert;
    bool monoOutput;

    // 16-bit samples whose channel count does not change go straight into
    // the encoder's buffer.
    bool direct() const { return samples == Converter::InputS16 && !convert; }
    // n output values take n input samples when the channels stay, 2n to
    // mono, n / 2 to stereo; in 64 bits, so that an absurd n cannot wrap.
    uint64_t request(DWORD n) const {
        return width * (!convert ? (uint64_t)n : monoOutput ? 2 * (uint64_t)n : n / 2);
    }
    bool narrows() const { return width > 2; }
};

static ChunkPlan planOf(const Converter& c, const BE_CONFIG* config) {
    ChunkPlan plan;
    plan.samples = c.inputSamples();
    plan.width = sampleWidth(plan.samples);
    plan.convert = c.convertChannels() != 0;
    plan.monoOutput = config->nMode == BE_MP3_MODE_MONO;
    return plan;
}

// The raw bytes come first in the temporary buffer; wider samples that
// change channels are narrowed after them, aligned, before the change.
static DWORD stagingOffset(DWORD size) {
    return (size + 7) & ~7u;
}

static BYTE* allocateScratch(const ChunkPlan& plan, DWORD size) {
    DWORD bytes = size;
    if (plan.narrows() && plan.convert) {
        bytes = stagingOffset(size) + size / plan.width * 2;
    }
    return (BYTE*)malloc(bytes ? bytes : 1);
}

// Converts `size` raw bytes into `out`; a trailing part sample (or, to mono,
// part frame) is dropped. Returns the number of values. 16-bit samples come
// here only to change channels: otherwise the readers copy them directly.
static DWORD convertChunk(const ChunkPlan& plan, SHORT* out, BYTE* scratch, DWORD size) {
    if (plan.samples == Converter::InputU8) {
        if (!plan.convert) {
            Converter::widen8To16(out, scratch, size);
            return size;
        }
        if (plan.monoOutput) {
            Converter::stereo8ToMono16(out, scratch, size);
            return size / 2;
        }
        Converter::mono8ToStereo16(out, scratch, size);
        return size * 2;
    }

    DWORD count = size / plan.width;
    const SHORT* samples = (const SHORT*)scratch;
    if (plan.narrows()) {
        SHORT* narrowed = plan.convert ? (SHORT*)(scratch + stagingOffset(size)) : out;
        if (plan.samples == Converter::InputS24) {
            Converter::narrow24To16(narrowed, scratch, count);
        } else if (plan.samples == Converter::InputS32) {
            Converter::narrow32To16(narrowed, scratch, count);
        } else {
            Converter::float32To16(narrowed, scratch, count);
        }
        if (!plan.convert) {
            return count;
        }
        samples = narrowed;
    }
    if (plan.monoOutput) {
        Converter::stereoToMono(out, samples, count);
        return count / 2;
    }
    Converter::monoToStereo(out, samples, count);
    return 2 * count;
}

DWORD Converter::readFileChunk(HANDLE file, DWORD* consumed, DWORD total, SHORT* out, DWORD n,
                               const BE_CONFIG* config) {
    if (!consumed || !out || !config) {
        return 0;
    }
    ChunkPlan plan = planOf(*this, config);
    DWORD request = clampRequest(plan.request(n), *consumed, total);
    bool direct = plan.direct();
    BYTE* raw = direct ? (BYTE*)out : allocateScratch(plan, request);
    if (!raw) {
        return 0;
    }
    DWORD got = 0;
    if (!readInput(file, raw, request, &got, nullptr) || got != request) {
        if (!direct) {
            free(raw);
        }
        return 0;
    }
    *consumed += request;
    if (direct) {
        return request / 2;
    }
    DWORD result = convertChunk(plan, out, raw, request);
    free(raw);
    return result;
}

DWORD Converter::readBufferChunk(const BYTE* buffer, DWORD* position, DWORD total, SHORT* out,
                                 DWORD n, const BE_CONFIG* config) {
    if (!buffer || !position || !out || !config) {
        return 0;
    }
    ChunkPlan plan = planOf(*this, config);
    DWORD request = clampRequest(plan.request(n), *position, total);
    if (plan.direct()) {
        memcpy(out, buffer + *position, request);
        *position += request;
        return request / 2;
    }
    // A copy, so that the conversions read aligned samples.
    BYTE* scratch = allocateScratch(plan, request);
    if (!scratch) {
        return 0;
    }
    memcpy(scratch, buffer + *position, request);
    *position += request;
    DWORD result = convertChunk(plan, out, scratch, request);
    free(scratch);
    return result;
}
