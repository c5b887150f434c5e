#include <gtest/gtest.h>

#include <vector>

#include "core/Converter.h"

typedef std::vector<SHORT> Shorts;

// Output buffers start filled with a marker, so that values written past
// the expected count show up.
static const SHORT marker = 0x5A5A;

TEST(SampleConversion, StereoToMonoHalvesEachChannel) {
    const SHORT in[] = {3, 3, -3, -3, 1, 0, -1, 0, 32767, 32767, -32768, -32768, 32767, -32768};
    Shorts out(8, marker);
    Converter::stereoToMono(out.data(), in, 14);
    EXPECT_EQ(out, (Shorts{2, -2, 0, 0, 32766, -32768, -1, marker}));

    // An odd count leaves the lone last value out.
    out.assign(4, marker);
    Converter::stereoToMono(out.data(), in + 8, 5);
    EXPECT_EQ(out, (Shorts{32766, -32768, marker, marker}));

    out.assign(2, marker);
    Converter::stereoToMono(out.data(), in, 0);
    Converter::stereoToMono(out.data(), in, 1);
    EXPECT_EQ(out, (Shorts{marker, marker}));
}

TEST(SampleConversion, MonoToStereoDoublesEachSample) {
    const SHORT in[] = {5, -7, 32767, -32768};
    Shorts out(9, marker);
    Converter::monoToStereo(out.data(), in, 4);
    EXPECT_EQ(out, (Shorts{5, 5, -7, -7, 32767, 32767, -32768, -32768, marker}));
    out.assign(2, marker);
    Converter::monoToStereo(out.data(), in, 0);
    EXPECT_EQ(out, (Shorts{marker, marker}));
}

TEST(SampleConversion, EightBitWidening) {
    const BYTE edges[] = {0, 1, 127, 128, 255};
    Shorts out(6, marker);
    Converter::widen8To16(out.data(), edges, 5);
    EXPECT_EQ(out, (Shorts{-32768, -32512, -256, 0, 32512, marker}));

    const BYTE pair[] = {0, 255};
    out.assign(5, marker);
    Converter::mono8ToStereo16(out.data(), pair, 2);
    EXPECT_EQ(out, (Shorts{-32768, -32768, 32512, 32512, marker}));

    // Every byte: 128 is silence and each step is 256.
    BYTE all[256];
    for (int i = 0; i < 256; i++) {
        all[i] = (BYTE)i;
    }
    Shorts wide(256), doubled(512);
    Converter::widen8To16(wide.data(), all, 256);
    Converter::mono8ToStereo16(doubled.data(), all, 256);
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(wide[i], (i - 128) * 256) << i;
        ASSERT_EQ(doubled[2 * i], wide[i]) << i;
        ASSERT_EQ(doubled[2 * i + 1], wide[i]) << i;
    }

    out.assign(2, marker);
    Converter::widen8To16(out.data(), all, 0);
    Converter::mono8ToStereo16(out.data(), all, 0);
    EXPECT_EQ(out, (Shorts{marker, marker}));
}

TEST(SampleConversion, EightBitStereoToMonoKeepsHalfSteps) {
    const BYTE in[] = {0, 0, 128, 128, 255, 255, 0, 1, 127, 128, 200};
    Shorts out(6, marker);
    Converter::stereo8ToMono16(out.data(), in, 11);
    EXPECT_EQ(out, (Shorts{-32768, 0, 32512, -32640, -128, marker}));

    // Every pair gives the mean of the two bytes, scaled, with no loss.
    std::vector<BYTE> pairs(2 * 65536);
    for (int a = 0; a < 256; a++) {
        for (int b = 0; b < 256; b++) {
            pairs[2 * (a * 256 + b)] = (BYTE)a;
            pairs[2 * (a * 256 + b) + 1] = (BYTE)b;
        }
    }
    Shorts mono(65536);
    Converter::stereo8ToMono16(mono.data(), pairs.data(), (DWORD)pairs.size());
    for (int a = 0; a < 256; a++) {
        for (int b = 0; b < 256; b++) {
            double mean = (a + b) / 2.0;
            ASSERT_EQ(mono[a * 256 + b], (SHORT)((mean - 128.0) * 256.0)) << a << " " << b;
        }
    }

    out.assign(2, marker);
    Converter::stereo8ToMono16(out.data(), in, 1);
    EXPECT_EQ(out, (Shorts{marker, marker}));
}
