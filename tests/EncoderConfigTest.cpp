#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>

#include "core/Converter.h"
#include "tests/WavTestFiles.h"

// The 331-byte record is checked at the library's documented offsets rather
// than through the BE_CONFIG struct.
enum Offset {
    Rate = 12, Resample = 16, Mode = 20, Bitrate = 24, MaxBitrate = 28, Preset = 32, Mpeg = 36,
    Private = 48, Copyright = 56, Original = 60, VbrHeader = 64, Vbr = 68, VbrQuality = 72,
    AbrBps = 76, VbrMethod = 80,
};
typedef std::map<int, uint32_t> Fields;

// Lists the bytes that differ from the default record with `changes`, or
// returns an empty string.
static std::string differences(const BE_CONFIG& config, const Fields& changes = {}) {
    Fields fields = {{0, 256},  {4, 1},        {8, 331},      {Rate, 44100},
                     {Mode, 1}, {Bitrate, 128}, {Mpeg, 1},    {Original, 1},
                     {VbrMethod, (uint32_t)-1}};
    for (const auto& change : changes) {
        fields[change.first] = change.second;
    }
    Bytes expected(331, 0);
    for (const auto& field : fields) {
        poke32(expected, field.first, field.second);
    }
    const uint8_t* actual = (const uint8_t*)&config;
    std::string diff;
    for (size_t i = 0; i < expected.size(); i++) {
        if (actual[i] != expected[i]) {
            diff += "byte " + std::to_string(i) + ": " + std::to_string(actual[i]) +
                    ", expected " + std::to_string(expected[i]) + "; ";
        }
    }
    return diff;
}

static Prepared prepareFile(Converter& c, const char* name) {
    return prepare(c, testDataPath(name));
}

TEST(EncoderConfig, DefaultsWithAStereoFileAndWithCdAudio) {
    Converter c;
    Prepared p = prepareFile(c, "sox-s16-stereo-44100.wav");
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.status, WavUsable);
    EXPECT_EQ(differences(p.config), "");
    EXPECT_EQ(p.dataSize, 17640u);
    EXPECT_EQ(p.position, 44u);
    EXPECT_EQ(c.convertChannels(), 0);
    EXPECT_EQ(c.eightBitInput(), 0);

    // No file is CD audio; the data size is left alone.
    for (HANDLE none : {(HANDLE) nullptr, INVALID_HANDLE_VALUE}) {
        BE_CONFIG config;
        memset(&config, 0xCD, sizeof(config));
        DWORD dataSize = 12345;
        WavStatus status = WavReadFailed;
        EXPECT_EQ(c.prepareEncoderConfig(&config, &dataSize, none, &status), 1);
        EXPECT_EQ(differences(config), "");
        EXPECT_EQ(status, WavUsable);
        EXPECT_EQ(dataSize, 12345u);
        BE_CONFIG withoutSize;
        EXPECT_EQ(c.prepareEncoderConfig(&withoutSize, nullptr, none), 1);
        EXPECT_EQ(memcmp(&withoutSize, &config, sizeof(config)), 0);
    }

    // An 18-byte format chunk gives the same record, from byte 46.
    p = prepareFile(c, "s16-stereo-44100-fmt18.wav");
    EXPECT_EQ(differences(p.config), "");
    EXPECT_EQ(p.position, 46u);
    EXPECT_EQ(p.dataSize, 17640u);

    // Auto mode follows the input; MPEG-2 gets its own default bitrate.
    p = prepareFile(c, "sox-s16-mono-22050.wav");
    EXPECT_EQ(differences(p.config, {{Rate, 22050}, {Mode, 3}, {Mpeg, 0}, {Bitrate, 80}}), "");
    EXPECT_EQ(c.convertChannels(), 0);
}

TEST(EncoderConfig, ChosenChannelModeAgainstTheInput) {
    struct Case {
        int modeIndex;
        const char* file;  // null: CD audio
        int mode, convert;
    };
    const Case cases[] = {
        {1, "sox-s16-mono-22050.wav", 0, 1},   {2, "sox-s16-mono-22050.wav", 1, 1},
        {3, "sox-s16-mono-22050.wav", 2, 1},   {4, "sox-s16-mono-22050.wav", 3, 0},
        {1, "sox-s16-stereo-44100.wav", 0, 0}, {4, "sox-s16-stereo-44100.wav", 3, 1},
        {4, "sox-u8-stereo-11025.wav", 3, 1},  {0, "sox-u8-stereo-11025.wav", 1, 0},
        {4, nullptr, 3, 1},                    {2, nullptr, 1, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.modeIndex) + " " + (k.file ? k.file : "CD"));
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        Prepared p = prepare(c, k.file ? testDataPath(k.file) : "");
        EXPECT_EQ(p.config.nMode, k.mode);
        EXPECT_EQ(c.convertChannels(), k.convert);
    }
}

TEST(EncoderConfig, OutputRateDecidesResamplingAndMpegVersion) {
    Converter c;
    // Choosing the input's own rate does not resample.
    c.setSampleRateIndex(2);
    EXPECT_EQ(differences(prepareFile(c, "sox-s16-stereo-44100.wav").config), "");
    c.setSampleRateIndex(1);
    EXPECT_EQ(differences(prepareFile(c, "sox-s16-stereo-44100.wav").config,
                          {{Resample, 48000}}), "");
    c.setBitrateIndex(13);
    c.setSampleRateIndex(3);
    EXPECT_EQ(differences(prepareFile(c, "sox-s16-stereo-44100.wav").config,
                          {{Resample, 32000}, {Bitrate, 320}}), "");
    c.setSampleRateIndex(4);
    EXPECT_EQ(differences(prepareFile(c, "sox-s16-stereo-44100.wav").config,
                          {{Resample, 24000}, {Mpeg, 0}, {Bitrate, 160}}), "");
    // A 22050 Hz input raised to 44100 Hz is MPEG-1.
    c.setSampleRateIndex(2);
    EXPECT_EQ(differences(prepareFile(c, "sox-s16-mono-22050.wav").config,
                          {{Rate, 22050}, {Resample, 44100}, {Mode, 3}, {Bitrate, 320}}), "");

    // Auto keeps the input's rate: 32000 Hz is MPEG-1, 31999 Hz MPEG-2.
    c.setSampleRateIndex(0);
    Prepared p = prepareFile(c, "ffmpeg-u8-mono-32000-list.wav");
    EXPECT_EQ(differences(p.config, {{Rate, 32000}, {Mode, 3}, {Bitrate, 320}}), "");
    TempFolder folder;
    p = prepare(c, writeBytes(folder, "31999.wav", canonicalWav(1, 31999, 16, Bytes(100))));
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.position, 44u);
    EXPECT_EQ(differences(p.config, {{Rate, 31999}, {Mode, 3}, {Mpeg, 0}, {Bitrate, 160}}), "");
}

static BE_ERR __cdecl writeNoHeader(LPCSTR) {
    return BE_ERR_SUCCESSFUL;
}

// Every VBR method, ABR included, asks for the VBR header, as long as the
// library can write it.
TEST(EncoderConfig, VariableBitrateFields) {
    Converter c;
    c.beWriteVBRHeader = writeNoHeader;
    EXPECT_EQ(differences(prepareFile(c, "sox-s16-stereo-44100.wav").config), "");
    c.setVbrEnabled(1);
    c.setVbrMethodIndex(4);
    c.setAbrBitrate(200);
    c.setVbrQuality(7);
    Prepared p = prepareFile(c, "sox-s16-stereo-44100.wav");
    EXPECT_EQ(differences(p.config, {{Vbr, 1}, {VbrHeader, 1}, {Bitrate, 32}, {MaxBitrate, 320},
                                     {VbrMethod, 4}, {AbrBps, 200000}}), "");

    c.setVbrMethodIndex(2);
    c.setVbrMinBitrateIndex(0);
    c.setVbrMaxBitrateIndex(11);
    c.setQualityIndex(5);
    p = prepareFile(c, "sox-s16-mono-22050.wav");
    EXPECT_EQ(differences(p.config, {{Rate, 22050}, {Mode, 3}, {Mpeg, 0}, {Vbr, 1},
                                     {VbrHeader, 1}, {Bitrate, 8}, {MaxBitrate, 128},
                                     {VbrMethod, 2}, {VbrQuality, 7}, {Preset, 5}}), "");

    c.setVbrMethodIndex(0);
    p = prepare(c, "");
    EXPECT_EQ(p.config.nVbrMethod, 0);
    EXPECT_EQ(p.config.nVBRQuality, 7);
    EXPECT_EQ(p.config.dwVbrAbr_bps, 0u);
    EXPECT_EQ(p.config.bWriteVBRHeader, 1);

    c.beWriteVBRHeader = nullptr;
    EXPECT_EQ(prepare(c, "").config.bWriteVBRHeader, 0);
}

TEST(EncoderConfig, HeaderBitsAndPreset) {
    Converter c;
    c.setPrivateBit(1);
    c.setCopyrightBit(1);
    c.setOriginalBit(0);
    c.setQualityIndex(0);
    c.setBitrateIndex(0);
    Prepared p = prepareFile(c, "ffmpeg-s16-stereo-96000-extensible.wav");
    EXPECT_EQ(differences(p.config, {{Rate, 96000}, {Private, 1}, {Copyright, 1},
                                     {Original, 0}, {Preset, 1}, {Bitrate, 32}}), "");
    EXPECT_EQ(p.position, 102u);
    EXPECT_EQ(p.dataSize, 17640u);
}

TEST(EncoderConfig, UnusableFileOrNullRecord) {
    Converter c;
    prepareFile(c, "sox-u8-mono-8000.wav");
    ASSERT_EQ(c.eightBitInput(), 1);
    Prepared p = prepareFile(c, "sox-alaw-mono-8000.wav");
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.status, WavNotPcm);
    EXPECT_EQ(p.dataSize, 0u);
    EXPECT_EQ(c.eightBitInput(), 0);

    c.setChannelModeIndex(1);
    prepareFile(c, "sox-u8-mono-8000.wav");
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

    p = prepareFile(c, "sox-s16-6ch-44100.wav");
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.status, WavBadChannelCount);
    EXPECT_EQ(c.convertChannels(), 0);
    EXPECT_EQ(c.eightBitInput(), 0);
}
