#include <gtest/gtest.h>

#include <vector>

#include "core/Converter.h"

typedef std::vector<SHORT> Shorts;

// Output buffers start filled with a marker, so that values written past
// the expected count show up.
static const SHORT marker = 0x5A5A;

TEST(SampleConversion, SixteenBitChannelChanges) {
    const SHORT in[] = {3, 3, -3, -3, 1, 0, -1, 0, 32767, 32767, -32768, -32768, 32767, -32768};
    Shorts out(8, marker);
    Converter::stereoToMono(out.data(), in, 14);
    EXPECT_EQ(out, (Shorts{2, -2, 0, 0, 32766, -32768, -1, marker}));
    // An odd count leaves the lone last value out; 0 and 1 write nothing.
    out.assign(4, marker);
    Converter::stereoToMono(out.data(), in + 8, 5);
    Converter::stereoToMono(out.data() + 2, in, 1);
    EXPECT_EQ(out, (Shorts{32766, -32768, marker, marker}));

    out.assign(9, marker);
    Converter::monoToStereo(out.data(), in + 9, 4);
    EXPECT_EQ(out, (Shorts{32767, 32767, -32768, -32768, -32768, -32768, 32767, 32767, marker}));
    Converter::monoToStereo(out.data() + 8, in, 0);
    EXPECT_EQ(out[8], marker);
}

TEST(SampleConversion, EightBitWideningOfEveryByte) {
    // 128 is silence and each step is 256.
    BYTE all[256];
    for (int i = 0; i < 256; i++) {
        all[i] = (BYTE)i;
    }
    Shorts wide(257, marker), doubled(513, marker);
    Converter::widen8To16(wide.data(), all, 256);
    Converter::mono8ToStereo16(doubled.data(), all, 256);
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(wide[i], (i - 128) * 256) << i;
        ASSERT_EQ(doubled[2 * i], wide[i]) << i;
        ASSERT_EQ(doubled[2 * i + 1], wide[i]) << i;
    }
    EXPECT_EQ(wide[256], marker);
    EXPECT_EQ(doubled[512], marker);
    Converter::widen8To16(wide.data() + 256, all, 0);
    Converter::mono8ToStereo16(doubled.data() + 512, all, 0);
    EXPECT_EQ(wide[256], marker);
    EXPECT_EQ(doubled[512], marker);
}

TEST(SampleConversion, EightBitStereoToMonoKeepsHalfSteps) {
    // Every pair gives the mean of the two bytes, scaled, with no loss.
    std::vector<BYTE> pairs(2 * 65536 + 1);
    for (int a = 0; a < 256; a++) {
        for (int b = 0; b < 256; b++) {
            pairs[2 * (a * 256 + b)] = (BYTE)a;
            pairs[2 * (a * 256 + b) + 1] = (BYTE)b;
        }
    }
    // The odd count leaves the lone last byte out.
    Shorts mono(65537, marker);
    Converter::stereo8ToMono16(mono.data(), pairs.data(), (DWORD)pairs.size());
    for (int a = 0; a < 256; a++) {
        for (int b = 0; b < 256; b++) {
            double mean = (a + b) / 2.0;
            ASSERT_EQ(mono[a * 256 + b], (SHORT)((mean - 128.0) * 256.0)) << a << " " << b;
        }
    }
    EXPECT_EQ(mono[65536], marker);
}

// Each value's low `width` bytes, little-endian, one after the other.
static std::vector<BYTE> packed(const std::vector<uint32_t>& values, int width) {
    std::vector<BYTE> bytes;
    for (uint32_t value : values) {
        for (int i = 0; i < width; i++) {
            bytes.push_back((BYTE)(value >> (8 * i)));
        }
    }
    return bytes;
}

// Rounded half up, clamped where rounding reaches 32768, never wrapped.
TEST(SampleConversion, WideSamplesNarrowedTo16Bits) {
    typedef void (*Narrow)(SHORT*, const BYTE*, DWORD);
    struct Case {
        const char* name;
        Narrow narrow;
        int width;
        std::vector<uint32_t> in;
        Shorts expected;
    };
    const Case cases[] = {
        {"24-bit", Converter::narrow24To16, 3,
         {0x7FFFFF, 0x7FFF80, 0x7FFF7F, 0x800000, 0x800080, 0x80007F, 0x00007F, 0x000080,
          0xFFFF80, 0xFFFF7F, 0x000180, 0xFFFE80, 0x123456, 0xEDCBAA, 0x000000},
         {32767, 32767, 32767, -32768, -32767, -32768, 0, 1, 0, -1, 2, -1, 4660, -4660, 0}},
        {"32-bit", Converter::narrow32To16, 4,
         {0x7FFFFFFF, 0x7FFF8000, 0x7FFF7FFF, 0x80000000, 0x80008000, 0x80007FFF, 0x00007FFF,
          0x00008000, 0xFFFF8000, 0xFFFF7FFF, 0x00018000, 0xFFFE8000, 0x12345678, 0xEDCBA988},
         {32767, 32767, 32767, -32768, -32767, -32768, 0, 1, 0, -1, 2, -1, 4660, -4660}},
        // 1.0, -1.0, 1.5, -1.5, 0.5/32768, -0.5/32768, 1.5/32768, -1.5/32768,
        // 0.49999997/32768, 32767/32768, 0.25, the smallest denormal, NaN,
        // negative NaN, infinity, -infinity, 2^100.
        {"float", Converter::float32To16, 4,
         {0x3F800000, 0xBF800000, 0x3FC00000, 0xBFC00000, 0x37800000, 0xB7800000, 0x38400000,
          0xB8400000, 0x377FFFFF, 0x3F7FFE00, 0x3E800000, 0x00000001, 0x7FC00000, 0xFFC00000,
          0x7F800000, 0xFF800000, 0x71800000},
         {32767, -32768, 32767, -32768, 1, 0, 2, -1, 0, 32767, 8192, 0, 0, 0, 32767, -32768,
          32767}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<BYTE> bytes = packed(k.in, k.width);
        Shorts out(k.in.size() + 1, marker);
        k.narrow(out.data(), bytes.data(), (DWORD)k.in.size());
        Shorts expected = k.expected;
        expected.push_back(marker);
        EXPECT_EQ(out, expected);
    }
}
