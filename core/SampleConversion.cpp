#include "core/Converter.h"

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
