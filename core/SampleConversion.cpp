#include "core/Converter.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

void Converter::monoToStereo(SHORT* out, const SHORT* in, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        out[2 * i] = in[i];
        out[2 * i + 1] = in[i];
    }
}

// Each channel is halved (truncating toward zero) before the sum, so the
// result can never leave the 16-bit range.
void Converter::stereoToMono(SHORT* out, const SHORT* in, DWORD count) {
    for (DWORD k = 0; k < count / 2; k++) {
        out[k] = (SHORT)(in[2 * k] / 2 + in[2 * k + 1] / 2);
    }
}

static SHORT widen(BYTE sample) {
    return (SHORT)((sample - 128) * 256);
}

void Converter::widen8To16(SHORT* out, const BYTE* in, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        out[i] = widen(in[i]);
    }
}

void Converter::mono8ToStereo16(SHORT* out, const BYTE* in, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        SHORT value = widen(in[i]);
        out[2 * i] = value;
        out[2 * i + 1] = value;
    }
}

// The exact mean of the two bytes, scaled to 16 bits: half steps survive.
void Converter::stereo8ToMono16(SHORT* out, const BYTE* in, DWORD count) {
    for (DWORD k = 0; k < count / 2; k++) {
        out[k] = (SHORT)((in[2 * k] + in[2 * k + 1]) * 128 - 32768);
    }
}

static uint32_t le24(const BYTE* p) {
    return p[0] | p[1] << 8 | (uint32_t)p[2] << 16;
}

static uint32_t le32(const BYTE* p) {
    return le24(p) | (uint32_t)p[3] << 24;
}

// `offset` is the sample with its sign bit flipped, that is moved up by half
// its range: never negative, so the shift is a plain floor. Adding half a
// 16-bit step first rounds half up; only the top values go past 32767.
static SHORT topSixteenBits(uint64_t offset, int shift) {
    int64_t value = (int64_t)((offset + ((uint64_t)1 << (shift - 1))) >> shift) - 32768;
    return (SHORT)(value > 32767 ? 32767 : value);
}

void Converter::narrow24To16(SHORT* out, const BYTE* in, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        out[i] = topSixteenBits(le24(in + 3 * i) ^ 0x800000u, 8);
    }
}

void Converter::narrow32To16(SHORT* out, const BYTE* in, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        out[i] = topSixteenBits(le32(in + 4 * i) ^ 0x80000000u, 16);
    }
}

// Full scale is 1.0; half up like the integers. In double precision the
// scaled float plus one half is exact wherever it matters, which in single
// precision it is not (0.49999997 + 0.5 gives 1).
static SHORT fromFloat(uint32_t bits) {
    float sample;
    memcpy(&sample, &bits, sizeof(sample));
    double scaled = (double)sample * 32768.0;
    if (scaled != scaled) {
        return 0;
    }
    if (scaled >= 32767.0) {
        return 32767;
    }
    if (scaled <= -32768.0) {
        return -32768;
    }
    return (SHORT)floor(scaled + 0.5);
}

void Converter::float32To16(SHORT* out, const BYTE* in, DWORD count) {
    for (DWORD i = 0; i < count; i++) {
        out[i] = fromFloat(le32(in + 4 * i));
    }
}
