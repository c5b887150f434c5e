#include <gtest/gtest.h>

#include <vector>

#include "core/Converter.h"
#include "tests/WavTestFiles.h"

typedef std::vector<int64_t> Fields;

TEST(EncoderConfig, ModeRateAndBitrateFollowTheInputAndTheChoices) {
    const char* stereo = "sox-s16-stereo-44100.wav";
    const char* mono = "sox-s16-mono-22050.wav";
    struct Case {
        const char* file;  // null: CD audio
        int modeIndex, rateIndex;
        Fields expected;   // nMode, channel change, resampling, MPEG version, bitrate
    };
    const Case cases[] = {
        {stereo, 0, 0, {BE_MP3_MODE_JSTEREO, 0, 0, 1, 128}},
        {mono, 0, 0, {BE_MP3_MODE_MONO, 0, 0, 0, 80}},
        {mono, 1, 0, {BE_MP3_MODE_STEREO, 1, 0, 0, 80}},
        {mono, 4, 0, {BE_MP3_MODE_MONO, 0, 0, 0, 80}},
        {stereo, 4, 0, {BE_MP3_MODE_MONO, 1, 0, 1, 128}},
        {stereo, 3, 2, {BE_MP3_MODE_DUALCHANNEL, 0, 0, 1, 128}},
        {stereo, 0, 4, {BE_MP3_MODE_JSTEREO, 0, 24000, 0, 80}},
        {mono, 0, 2, {BE_MP3_MODE_MONO, 0, 44100, 1, 128}},
        {"ffmpeg-u8-mono-32000-list.wav", 0, 0, {BE_MP3_MODE_MONO, 0, 0, 1, 128}},
        {nullptr, 4, 0, {BE_MP3_MODE_MONO, 1, 0, 1, 128}},
    };
    for (const Case& k : cases) {
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        c.setSampleRateIndex(k.rateIndex);
        Prepared p = prepare(c, k.file ? testDataPath(k.file) : "");
        const BE_CONFIG& b = p.config;
        EXPECT_EQ(p.result, 1);
        EXPECT_EQ(Fields({b.nMode, c.convertChannels(), b.dwReSampleRate, b.dwMpegVersion, b.dwBitrate}),
                  k.expected) << &k - cases;
    }
}

static BE_ERR __cdecl writeNoHeader(LPCSTR) {
    return BE_ERR_SUCCESSFUL;
}

static int __cdecl freeNothing(HBE_STREAM) {
    return 0;
}

TEST(EncoderConfig, VariableBitrateAndHeaderBits) {
    Converter c;
    c.beWriteVBRHeader = writeNoHeader;
    c.lameClose = freeNothing;
    c.setVbrEnabled(1);
    c.setVbrMethodIndex(4);
    c.setAbrBitrate(200);
    c.setQualityIndex(0);
    c.setCopyrightBit(1);
    c.setPrivateBit(1);
    c.setOriginalBit(0);
    BE_CONFIG b = prepare(c, "").config;
    // VBR, its header, method, ABR rate, bitrate range, preset, copyright, private, original.
    EXPECT_EQ(Fields({b.bEnableVBR, b.bWriteVBRHeader, b.nVbrMethod, b.dwVbrAbr_bps, b.dwBitrate,
                      b.dwMaxBitrate, b.nPreset, b.bCopyright, b.bPrivate, b.bOriginal}),
              Fields({1, 1, 4, 200000, 32, 320, 1, 1, 1, 0}));
    // Other methods take a quality; a library that cannot write the header is not asked to.
    c.beWriteVBRHeader = nullptr;
    c.setVbrMethodIndex(2);
    c.setVbrQuality(7);
    b = prepare(c, "").config;
    EXPECT_EQ(Fields({b.nVbrMethod, b.nVBRQuality, b.dwVbrAbr_bps, b.bWriteVBRHeader}),
              Fields({2, 7, 0, 0}));
}
