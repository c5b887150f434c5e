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
