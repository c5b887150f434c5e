#include <gtest/gtest.h>

#include <vector>

#include "core/Converter.h"

typedef std::vector<SHORT> Shorts;

// Runs `convert` over `count` inputs into a buffer one value longer than
// `outSize`, filled with a marker first so that values written past it show.
template <typename In, typename Convert>
static Shorts converted(Convert convert, const std::vector<In>& in, size_t count, size_t outSize) {
    Shorts out(outSize + 1, 0x5A5A);
    convert(out.data(), in.data(), (DWORD)count);
    return Shorts(out.begin(), out.end() - (out.back() == 0x5A5A));
}

TEST(SampleConversion, ChannelChangesAndEightBitSamples) {
    // Halves added, never out of range; an odd count leaves the lone last value out.
    Shorts in = {3, 3, -3, -3, 1, 0, -1, 0, 32767, 32767, -32768, -32768, 7};
    EXPECT_EQ(converted(Converter::stereoToMono, in, 13, 6), Shorts({2, -2, 0, 0, 32766, -32768}));
    EXPECT_EQ(converted(Converter::monoToStereo, Shorts({32767, -5}), 2, 4),
              Shorts({32767, 32767, -5, -5}));
    // 128 is silence and each step 256; the mean of two bytes keeps its half step.
    std::vector<BYTE> bytes = {0, 1, 127, 128, 129, 255, 254};
    EXPECT_EQ(converted(Converter::widen8To16, bytes, 7, 7),
              Shorts({-32768, -32512, -256, 0, 256, 32512, 32256}));
    EXPECT_EQ(converted(Converter::mono8ToStereo16, bytes, 2, 4),
              Shorts({-32768, -32768, -32512, -32512}));
    EXPECT_EQ(converted(Converter::stereo8ToMono16, bytes, 7, 3), Shorts({-32640, -128, 16384}));
}

// Rounded half up, clamped where rounding reaches 32768, never wrapped.
TEST(SampleConversion, WideSamplesNarrowedTo16Bits) {
    struct Case {
        void (*narrow)(SHORT*, const BYTE*, DWORD);
        int width;
        std::vector<uint32_t> in;
        Shorts expected;
    };
    const Case cases[] = {
        {Converter::narrow24To16, 3,
         {0x7FFFFF, 0x7FFF7F, 0x800000, 0x80007F, 0x000080, 0xFFFF80, 0xFFFF7F, 0x123456},
         {32767, 32767, -32768, -32768, 1, 0, -1, 4660}},
        {Converter::narrow32To16, 4, {0x7FFFFFFF, 0x80000000, 0x00008000, 0xFFFF7FFF, 0xEDCBA988},
         {32767, -32768, 1, -1, -4660}},
        // 1.0, -1.0, 1.5, -1.5, ±0.5/32768, ±1.5/32768, 0.49999997/32768,
        // 32767/32768, 0.25, the smallest denormal, ±NaN, ±infinity, 2^100.
        {Converter::float32To16, 4,
         {0x3F800000, 0xBF800000, 0x3FC00000, 0xBFC00000, 0x37800000, 0xB7800000, 0x38400000,
          0xB8400000, 0x377FFFFF, 0x3F7FFE00, 0x3E800000, 0x00000001, 0x7FC00000, 0xFFC00000,
          0x7F800000, 0xFF800000, 0x71800000},
         {32767, -32768, 32767, -32768, 1, 0, 2, -1, 0, 32767, 8192, 0, 0, 0, 32767, -32768, 32767}},
    };
    for (const Case& k : cases) {
        std::vector<BYTE> bytes;
        for (uint32_t value : k.in) {
            for (int i = 0; i < k.width; i++) {
                bytes.push_back((BYTE)(value >> (8 * i)));
            }
        }
        EXPECT_EQ(converted(k.narrow, bytes, k.in.size(), k.in.size()), k.expected);
    }
}
