#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/Converter.h"
#include "tests/WavTestFiles.h"

// What each field of the 331-byte record should hold, laid out below at the
// library's documented offsets rather than through the BE_CONFIG struct.
struct Fields {
    uint32_t sampleRate = 44100;
    uint32_t reSampleRate = 0;
    int32_t mode = 1;
    uint32_t bitrate = 128;
    uint32_t maxBitrate = 0;
    int32_t preset = 0;
    uint32_t mpegVersion = 1;
    uint32_t privateBit = 0;
    uint32_t copyrightBit = 0;
    uint32_t originalBit = 1;
    uint32_t enableVbr = 0;
    int32_t vbrQuality = 0;
    uint32_t abrBps = 0;
    int32_t vbrMethod = -1;
};

static Bytes expectedRecord(const Fields& f) {
    Bytes b(331, 0);
    auto set = [&b](size_t offset, uint32_t v) {
        for (int i = 0; i < 4; i++) {
            b[offset + i] = (uint8_t)(v >> (8 * i));
        }
    };
    set(0, 256);
    set(4, 1);
    set(8, 331);
    set(12, f.sampleRate);
    set(16, f.reSampleRate);
    set(20, (uint32_t)f.mode);
    set(24, f.bitrate);
    set(28, f.maxBitrate);
    set(32, (uint32_t)f.preset);
    set(36, f.mpegVersion);
    set(48, f.privateBit);
    set(56, f.copyrightBit);
    set(60, f.originalBit);
    set(68, f.enableVbr);
    set(72, (uint32_t)f.vbrQuality);
    set(76, f.abrBps);
    set(80, (uint32_t)f.vbrMethod);
    return b;
}

// Lists the bytes that differ, by offset, or returns an empty string.
static std::string recordDifferences(const BE_CONFIG& config, const Fields& fields) {
    Bytes expected = expectedRecord(fields);
    const uint8_t* actual = (const uint8_t*)&config;
    std::string diff;
    for (size_t i = 0; i < expected.size(); i++) {
        if (actual[i] != expected[i]) {
            char line[64];
            wsprintfA(line, "byte %u: %u, expected %u; ", (unsigned)i, actual[i], expected[i]);
            diff += line;
        }
    }
    return diff;
}

// Prepares a record for one sample file (or for CD audio when name is null),
// over a record and a data size filled with garbage first.
struct Prepared {
    int result;
    BE_CONFIG config;
    DWORD dataSize;
    DWORD position;
    WavStatus status;
};

static Prepared prepare(Converter& c, const char* name) {
    Prepared p;
    memset(&p.config, 0xCD, sizeof(p.config));
    p.dataSize = 0xDEADBEEF;
    p.position = 0;
    p.status = WavReadFailed;
    HANDLE file = nullptr;
    if (name) {
        file = openForReading(testDataPath(name));
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << name;
    }
    p.result = c.prepareEncoderConfig(&p.config, &p.dataSize, file, &p.status);
    if (file) {
        p.position = filePosition(file);
        CloseHandle(file);
    }
    return p;
}

TEST(EncoderConfig, DefaultsWithAStereoFileAndWithCdAudio) {
    Converter c;
    Prepared p = prepare(c, "sox-s16-stereo-44100.wav");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.status, WavUsable);
    EXPECT_EQ(recordDifferences(p.config, Fields()), "");
    EXPECT_EQ(p.dataSize, 17640u);
    EXPECT_EQ(p.position, 44u);
    EXPECT_EQ(c.convertChannels(), 0);
    EXPECT_EQ(c.eightBitInput(), 0);

    for (HANDLE none : {(HANDLE) nullptr, INVALID_HANDLE_VALUE}) {
        BE_CONFIG config;
        memset(&config, 0xCD, sizeof(config));
        DWORD dataSize = 12345;
        WavStatus status = WavReadFailed;
        EXPECT_EQ(c.prepareEncoderConfig(&config, &dataSize, none, &status), 1);
        EXPECT_EQ(recordDifferences(config, Fields()), "");
        EXPECT_EQ(status, WavUsable);
        EXPECT_EQ(dataSize, 12345u);
        BE_CONFIG withoutSize;
        EXPECT_EQ(c.prepareEncoderConfig(&withoutSize, nullptr, none), 1);
        EXPECT_EQ(memcmp(&withoutSize, &config, sizeof(config)), 0);
    }

    // An 18-byte format chunk gives the same record, from byte 46.
    p = prepare(c, "s16-stereo-44100-fmt18.wav");
    EXPECT_EQ(recordDifferences(p.config, Fields()), "");
    EXPECT_EQ(p.position, 46u);
    EXPECT_EQ(p.dataSize, 17640u);
}

TEST(EncoderConfig, AutoModeFollowsTheInput) {
    Converter c;
    Prepared p = prepare(c, "sox-s16-mono-22050.wav");
    Fields mono;
    mono.sampleRate = 22050;
    mono.mode = 3;
    mono.mpegVersion = 0;
    mono.bitrate = 80;
    EXPECT_EQ(recordDifferences(p.config, mono), "");
    EXPECT_EQ(c.convertChannels(), 0);
    EXPECT_EQ(c.eightBitInput(), 0);

    p = prepare(c, "sox-u8-mono-8000.wav");
    Fields eightBit;
    eightBit.sampleRate = 8000;
    eightBit.mode = 3;
    eightBit.mpegVersion = 0;
    eightBit.bitrate = 80;
    EXPECT_EQ(recordDifferences(p.config, eightBit), "");
    EXPECT_EQ(c.eightBitInput(), 1);
    EXPECT_EQ(p.dataSize, 4410u);

    // The flags belong to one input: the next file starts again from 0.
    p = prepare(c, "ffmpeg-s16-stereo-44100-list.wav");
    EXPECT_EQ(recordDifferences(p.config, Fields()), "");
    EXPECT_EQ(c.eightBitInput(), 0);
    EXPECT_EQ(p.position, 78u);
}

TEST(EncoderConfig, ChosenChannelModeAgainstTheInput) {
    struct Case {
        int modeIndex;
        const char* file;
        int mode;
        int convert;
    };
    const Case cases[] = {
        {1, "sox-s16-mono-22050.wav", 0, 1},     {2, "sox-s16-mono-22050.wav", 1, 1},
        {3, "sox-s16-mono-22050.wav", 2, 1},     {4, "sox-s16-mono-22050.wav", 3, 0},
        {1, "sox-s16-stereo-44100.wav", 0, 0},   {2, "sox-s16-stereo-44100.wav", 1, 0},
        {3, "sox-s16-stereo-44100.wav", 2, 0},   {4, "sox-s16-stereo-44100.wav", 3, 1},
        {4, "sox-u8-stereo-11025.wav", 3, 1},    {1, "sox-u8-mono-8000.wav", 0, 1},
        {0, "sox-u8-stereo-11025.wav", 1, 0},    {4, nullptr, 3, 1},
        {2, nullptr, 1, 0},
    };
    for (const Case& k : cases) {
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        Prepared p = prepare(c, k.file);
        EXPECT_EQ(p.config.nMode, k.mode) << k.modeIndex << " " << (k.file ? k.file : "CD");
        EXPECT_EQ(c.convertChannels(), k.convert)
            << k.modeIndex << " " << (k.file ? k.file : "CD");
    }
}

TEST(EncoderConfig, OutputRateDecidesResamplingAndMpegVersion) {
    Converter c;
    // Choosing the input's own rate does not resample.
    c.setSampleRateIndex(2);
    Prepared p = prepare(c, "sox-s16-stereo-44100.wav");
    EXPECT_EQ(recordDifferences(p.config, Fields()), "");

    c.setSampleRateIndex(1);
    p = prepare(c, "sox-s16-stereo-44100.wav");
    Fields up;
    up.reSampleRate = 48000;
    EXPECT_EQ(recordDifferences(p.config, up), "");

    c.setBitrateIndex(13);
    c.setSampleRateIndex(3);
    p = prepare(c, "sox-s16-stereo-44100.wav");
    Fields at32k;
    at32k.reSampleRate = 32000;
    at32k.bitrate = 320;
    EXPECT_EQ(recordDifferences(p.config, at32k), "");

    c.setSampleRateIndex(4);
    p = prepare(c, "sox-s16-stereo-44100.wav");
    Fields at24k;
    at24k.reSampleRate = 24000;
    at24k.mpegVersion = 0;
    at24k.bitrate = 160;
    EXPECT_EQ(recordDifferences(p.config, at24k), "");

    // A 22050 Hz input raised to 44100 Hz is MPEG-1.
    c.setSampleRateIndex(2);
    p = prepare(c, "sox-s16-mono-22050.wav");
    Fields raised;
    raised.sampleRate = 22050;
    raised.reSampleRate = 44100;
    raised.mode = 3;
    raised.bitrate = 320;
    EXPECT_EQ(recordDifferences(p.config, raised), "");

    // Auto keeps the input's rate: 32000 Hz is MPEG-1, 31999 Hz MPEG-2.
    c.setSampleRateIndex(0);
    p = prepare(c, "ffmpeg-u8-mono-32000-list.wav");
    EXPECT_EQ(p.config.dwSampleRate, 32000u);
    EXPECT_EQ(p.config.dwReSampleRate, 0u);
    EXPECT_EQ(p.config.dwMpegVersion, 1u);
    EXPECT_EQ(p.config.dwBitrate, 320u);

    ScratchFolder scratch;
    std::string path = scratch.write("31999.wav", canonicalWav(1, 31999, 16, Bytes(100)));
    HANDLE file = openForReading(path);
    BE_CONFIG config;
    ASSERT_EQ(c.prepareEncoderConfig(&config, nullptr, file), 1);
    EXPECT_EQ(filePosition(file), 44u);
    CloseHandle(file);
    EXPECT_EQ(config.dwMpegVersion, 0u);
    EXPECT_EQ(config.dwBitrate, 160u);
}

TEST(EncoderConfig, VariableBitrateFields) {
    Converter c;
    c.setVbrEnabled(1);
    c.setVbrMethodIndex(4);
    c.setAbrBitrate(200);
    c.setVbrQuality(7);
    Prepared p = prepare(c, "sox-s16-stereo-44100.wav");
    Fields abr;
    abr.enableVbr = 1;
    abr.bitrate = 32;
    abr.maxBitrate = 320;
    abr.vbrMethod = 4;
    abr.abrBps = 200000;
    EXPECT_EQ(recordDifferences(p.config, abr), "");

    c.setVbrMethodIndex(2);
    c.setVbrMinBitrateIndex(0);
    c.setVbrMaxBitrateIndex(11);
    c.setQualityIndex(5);
    p = prepare(c, "sox-s16-mono-22050.wav");
    Fields vbrNew;
    vbrNew.sampleRate = 22050;
    vbrNew.mode = 3;
    vbrNew.mpegVersion = 0;
    vbrNew.enableVbr = 1;
    vbrNew.bitrate = 8;
    vbrNew.maxBitrate = 128;
    vbrNew.vbrMethod = 2;
    vbrNew.vbrQuality = 7;
    vbrNew.preset = 5;
    EXPECT_EQ(recordDifferences(p.config, vbrNew), "");

    c.setVbrMethodIndex(0);
    p = prepare(c, nullptr);
    EXPECT_EQ(p.config.nVbrMethod, 0);
    EXPECT_EQ(p.config.nVBRQuality, 7);
    EXPECT_EQ(p.config.dwVbrAbr_bps, 0u);
}

TEST(EncoderConfig, HeaderBitsAndPreset) {
    Converter c;
    c.setPrivateBit(1);
    c.setCopyrightBit(1);
    c.setOriginalBit(0);
    c.setQualityIndex(0);
    c.setBitrateIndex(0);
    Prepared p = prepare(c, "ffmpeg-s16-stereo-96000-extensible.wav");
    Fields f;
    f.sampleRate = 96000;
    f.privateBit = 1;
    f.copyrightBit = 1;
    f.originalBit = 0;
    f.preset = 1;
    f.bitrate = 32;
    EXPECT_EQ(recordDifferences(p.config, f), "");
    EXPECT_EQ(p.position, 94u + 8u);
    EXPECT_EQ(p.dataSize, 17640u);
}

TEST(EncoderConfig, UnusableFileOrNullRecord) {
    Converter c;
    Prepared p = prepare(c, "sox-u8-mono-8000.wav");
    ASSERT_EQ(c.eightBitInput(), 1);

    p = prepare(c, "sox-s24-stereo-44100.wav");
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.status, WavBadSampleSize);
    EXPECT_EQ(p.dataSize, 0u);
    EXPECT_EQ(c.eightBitInput(), 0);

    c.setChannelModeIndex(1);
    prepare(c, "sox-u8-mono-8000.wav");
    ASSERT_EQ(c.convertChannels(), 1);
    ASSERT_EQ(c.eightBitInput(), 1);

    // A null record changes nothing at all, not even the file position.
    HANDLE file = openForReading(testDataPath("sox-s16-stereo-44100.wav"));
    DWORD dataSize = 77;
    WavStatus status = WavNotPcm;
    EXPECT_EQ(c.prepareEncoderConfig(nullptr, &dataSize, file, &status), 0);
    EXPECT_EQ(filePosition(file), 0u);
    CloseHandle(file);
    EXPECT_EQ(dataSize, 77u);
    EXPECT_EQ(status, WavNotPcm);
    EXPECT_EQ(c.convertChannels(), 1);
    EXPECT_EQ(c.eightBitInput(), 1);

    p = prepare(c, "ffmpeg-f32-stereo-44100.wav");
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.status, WavNotPcm);
    EXPECT_EQ(c.convertChannels(), 0);
    EXPECT_EQ(c.eightBitInput(), 0);
}
