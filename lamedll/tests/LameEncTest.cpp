// lame_enc.dll called in-process, as the program calls it, with its helper
// running beside it.
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/LameApi.h"

namespace {

struct Library {
    HMODULE module = nullptr;
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
    BEWRITEVBRHEADER writeVbrHeader = nullptr;
    BEVERSION version = nullptr;

    explicit Library(const char* path) {
        module = LoadLibraryA(path);
        if (!module) {
            return;
        }
        init = (BEINITSTREAM)(void*)GetProcAddress(module, "beInitStream");
        encode = (BEENCODECHUNK)(void*)GetProcAddress(module, "beEncodeChunk");
        deinit = (BEDEINITSTREAM)(void*)GetProcAddress(module, "beDeinitStream");
        close = (BECLOSESTREAM)(void*)GetProcAddress(module, "beCloseStream");
        writeVbrHeader = (BEWRITEVBRHEADER)(void*)GetProcAddress(module, "beWriteVBRHeader");
        version = (BEVERSION)(void*)GetProcAddress(module, "beVersion");
    }
    ~Library() {
        if (module) {
            FreeLibrary(module);
        }
    }
    bool complete() const { return init && encode && deinit && close && writeVbrHeader && version; }
};

BE_CONFIG record(DWORD rate, LONG mode, DWORD bitrate) {
    BE_CONFIG config = {};
    config.dwConfig = BE_CONFIG_LAME;
    config.dwStructVersion = 1;
    config.dwStructSize = sizeof config;
    config.dwSampleRate = rate;
    config.nMode = mode;
    config.dwBitrate = bitrate;
    config.dwMpegVersion = rate > 31999 ? 1 : 0;
    config.bOriginal = TRUE;
    config.nVbrMethod = -1;
    return config;
}

struct Encoded {
    BE_ERR initResult = 0;
    DWORD samplesPerChunk = 0;
    DWORD bufferSize = 0;
    std::vector<BYTE> mp3;
    std::vector<DWORD> callBytes;
    bool overran = false;
};

// A tone, or white noise at full scale when loud, in the chunks the DLL asks for.
Encoded encodeTone(Library& lame, BE_CONFIG config, int chunks, bool loud = false) {
    Encoded result;
    HBE_STREAM stream = 0;
    result.initResult = lame.init(&config, &result.samplesPerChunk, &result.bufferSize, &stream);
    if (result.initResult != BE_ERR_SUCCESSFUL) {
        return result;
    }
    std::vector<SHORT> samples(result.samplesPerChunk);
    std::vector<BYTE> buffer(result.bufferSize + 64);
    unsigned seed = 1;
    size_t at = 0;
    for (int chunk = 0; chunk <= chunks; chunk++) {
        DWORD bytes = 0;
        BE_ERR status;
        if (chunk < chunks) {
            for (SHORT& s : samples) {
                seed = seed * 1103515245 + 12345;
                s = loud ? (SHORT)(seed >> 16) : (SHORT)(8000 * sin(at++ * 0.05));
            }
            status = lame.encode(stream, (DWORD)samples.size(), samples.data(), buffer.data(), &bytes);
        } else {
            status = lame.deinit(stream, buffer.data(), &bytes);
        }
        EXPECT_EQ(BE_ERR_SUCCESSFUL, status) << "chunk " << chunk;
        result.overran = result.overran || bytes > result.bufferSize;
        result.callBytes.push_back(bytes);
        result.mp3.insert(result.mp3.end(), buffer.begin(), buffer.begin() + bytes);
    }
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(stream));
    return result;
}

struct FrameHeader {
    int mpeg1;
    int crc;
    int rate;
    int privateBit;
    int mode;
    int copyright;
    int original;
    int length;
};

int parseFrame(const BYTE* at, size_t left, FrameHeader* frame) {
    static const int rates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int kbps[2][16] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
    if (left < 4 || at[0] != 0xFF || (at[1] & 0xE6) != 0xE2) {
        return 0;
    }
    int version = (at[1] >> 3) & 3;
    int rateIndex = (at[2] >> 2) & 3;
    int bitrateIndex = at[2] >> 4;
    if (version == 1 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15) {
        return 0;
    }
    frame->mpeg1 = version == 3;
    frame->crc = !(at[1] & 1);
    frame->rate = rates[frame->mpeg1][rateIndex] / (version == 0 ? 2 : 1);
    frame->privateBit = at[2] & 1;
    frame->mode = at[3] >> 6;
    frame->copyright = (at[3] >> 3) & 1;
    frame->original = (at[3] >> 2) & 1;
    int padding = (at[2] >> 1) & 1;
    frame->length = (frame->mpeg1 ? 144 : 72) * kbps[frame->mpeg1][bitrateIndex] * 1000 / frame->rate + padding;
    return 1;
}

// Walks the stream frame by frame; every byte must belong to a frame.
std::vector<FrameHeader> frames(const std::vector<BYTE>& mp3) {
    std::vector<FrameHeader> found;
    size_t at = 0;
    FrameHeader frame;
    while (at < mp3.size() && parseFrame(mp3.data() + at, mp3.size() - at, &frame)) {
        found.push_back(frame);
        at += frame.length;
    }
    EXPECT_EQ(mp3.size(), at) << "stream ends in a broken frame";
    return found;
}

TEST(LameEnc, ChunkSizesModesAndHeaderBitsFollowTheRecord) {
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    struct {
        DWORD rate;
        DWORD resample;
        LONG mode;
        DWORD samplesPerChunk;
        int frameMode;
        int mpeg1;
        int outRate;
    } cases[] = {
        {44100, 0, BE_MP3_MODE_JSTEREO, 2304, 1, 1, 44100},
        {48000, 0, BE_MP3_MODE_STEREO, 2304, 0, 1, 48000},
        {44100, 0, BE_MP3_MODE_MONO, 1152, 3, 1, 44100},
        {22050, 0, BE_MP3_MODE_JSTEREO, 1152, 1, 0, 22050},
        {22050, 0, BE_MP3_MODE_MONO, 576, 3, 0, 22050},
        {44100, 16000, BE_MP3_MODE_STEREO, 1152, 0, 0, 16000},
        {16000, 32000, BE_MP3_MODE_MONO, 1152, 3, 1, 32000},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " -> " << c.resample << " mode " << c.mode);
        // Below 128 kbps LAME picks a lower rate of its own for MPEG-1 inputs.
        BE_CONFIG config = record(c.rate, c.mode, c.mpeg1 ? 128 : 64);
        config.dwReSampleRate = c.resample;
        const int chunks = 30;
        Encoded out = encodeTone(lame, config, chunks);
        ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
        EXPECT_EQ(c.samplesPerChunk, out.samplesPerChunk);
        EXPECT_FALSE(out.overran);
        std::vector<FrameHeader> found = frames(out.mp3);
        ASSERT_FALSE(found.empty());
        for (const FrameHeader& frame : found) {
            EXPECT_EQ(c.frameMode, frame.mode);
            EXPECT_EQ(c.mpeg1, frame.mpeg1);
            EXPECT_EQ(c.outRate, frame.rate);
            EXPECT_EQ(1, frame.original);
            EXPECT_EQ(0, frame.privateBit | frame.copyright | frame.crc);
        }
        // Every input sample is in the stream, and not much more.
        double seconds = (double)chunks * out.samplesPerChunk / (c.mode == BE_MP3_MODE_MONO ? 1 : 2) / c.rate;
        double frameSeconds = (c.mpeg1 ? 1152.0 : 576.0) / c.outRate;
        EXPECT_GE(found.size() * frameSeconds, seconds);
        EXPECT_LE(found.size() * frameSeconds, seconds + 4 * frameSeconds);
    }

    BE_CONFIG flags = record(44100, BE_MP3_MODE_DUALCHANNEL, 128);
    flags.bPrivate = TRUE;
    flags.bCopyright = TRUE;
    flags.bCRC = TRUE;
    flags.bOriginal = FALSE;
    Encoded out = encodeTone(lame, flags, 10);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
    std::vector<FrameHeader> found = frames(out.mp3);
    ASSERT_FALSE(found.empty());
    // Dual channel is written as plain stereo, as LAME has no dual channel mode.
    EXPECT_EQ(0, found[0].mode);
    EXPECT_EQ(1, found[0].privateBit);
    EXPECT_EQ(1, found[0].copyright);
    EXPECT_EQ(1, found[0].crc);
    EXPECT_EQ(0, found[0].original);
}

TEST(LameEnc, ReportedBufferHoldsTheLargestOutputs) {
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    // Upsampled noise at the highest bitrate makes the most bytes per call.
    BE_CONFIG config = record(8000, BE_MP3_MODE_STEREO, 320);
    config.dwReSampleRate = 48000;
    config.nPreset = 5;
    Encoded out = encodeTone(lame, config, 20, true);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
    EXPECT_FALSE(out.overran);
    DWORD largest = 0;
    for (DWORD bytes : out.callBytes) {
        largest = bytes > largest ? bytes : largest;
    }
    // Six output frames of 960 bytes per input chunk.
    EXPECT_GE(largest, 5000u);
    EXPECT_EQ(out.mp3.size(), frames(out.mp3).size() * 960);
}

TEST(LameEnc, RefusesBadRecordsAndKeepsWorking) {
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    struct {
        const char* name;
        void (*change)(BE_CONFIG*);
        BE_ERR expected;
    } cases[] = {
        {"mode 7", [](BE_CONFIG* c) { c->nMode = 7; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"mode -1", [](BE_CONFIG* c) { c->nMode = -1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 0", [](BE_CONFIG* c) { c->dwSampleRate = 0; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 7", [](BE_CONFIG* c) { c->dwSampleRate = 7; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 7999", [](BE_CONFIG* c) { c->dwSampleRate = 7999; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"resample 12345", [](BE_CONFIG* c) { c->dwReSampleRate = 12345; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"resample 96000", [](BE_CONFIG* c) { c->dwReSampleRate = 96000; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"size 330", [](BE_CONFIG* c) { c->dwStructSize = 330; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"size 332", [](BE_CONFIG* c) { c->dwStructSize = 332; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"old record kind", [](BE_CONFIG* c) { c->dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
        {"vbr method 5", [](BE_CONFIG* c) { c->bEnableVBR = TRUE; c->nVbrMethod = 5; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 128);
        c.change(&config);
        DWORD samples = 77;
        DWORD size = 77;
        HBE_STREAM stream = 12345;
        EXPECT_EQ(c.expected, lame.init(&config, &samples, &size, &stream));
        EXPECT_EQ(0u, stream);
    }
    Encoded out = encodeTone(lame, record(44100, BE_MP3_MODE_JSTEREO, 128), 20);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
    EXPECT_GT(frames(out.mp3).size(), 15u);
    // The first calls may return nothing yet; the flush returns the rest.
    EXPECT_GT(out.callBytes.back(), 0u);
}

TEST(LameEnc, RefusesCallsOnStreamsItDoesNotHold) {
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    BE_CONFIG config = record(44100, BE_MP3_MODE_MONO, 64);
    DWORD samples = 0;
    DWORD size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.init(&config, &samples, &size, &stream));
    std::vector<SHORT> pcm(samples * 2);
    std::vector<BYTE> mp3(size);
    DWORD bytes = 0;
    EXPECT_NE(BE_ERR_SUCCESSFUL, lame.encode(stream, samples * 2, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.encode(stream, samples, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(stream));

    config = record(44100, BE_MP3_MODE_STEREO, 128);
    HBE_STREAM stereo = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.init(&config, &samples, &size, &stereo));
    mp3.resize(size);
    EXPECT_NE(BE_ERR_SUCCESSFUL, lame.encode(stereo, 101, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.encode(stereo, 100, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(stereo));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.encode(stream, samples, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.deinit(stream, mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.close(stream));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.close(0));
}

TEST(LameEnc, InterleavedStreamsStayApart) {
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    Encoded alone = encodeTone(lame, record(44100, BE_MP3_MODE_JSTEREO, 128), 12);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, alone.initResult);

    BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 128);
    BE_CONFIG other = record(22050, BE_MP3_MODE_MONO, 32);
    DWORD samples = 0, size = 0, otherSamples = 0, otherSize = 0;
    HBE_STREAM stream = 0, otherStream = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.init(&config, &samples, &size, &stream));
    ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.init(&other, &otherSamples, &otherSize, &otherStream));
    std::vector<SHORT> pcm(samples);
    std::vector<SHORT> noise(otherSamples, 1000);
    std::vector<BYTE> buffer(size);
    std::vector<BYTE> otherBuffer(otherSize);
    std::vector<BYTE> mp3;
    size_t at = 0;
    for (int chunk = 0; chunk <= 12; chunk++) {
        DWORD bytes = 0;
        DWORD otherBytes = 0;
        if (chunk < 12) {
            for (SHORT& s : pcm) {
                s = (SHORT)(8000 * sin(at++ * 0.05));
            }
            ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.encode(stream, samples, pcm.data(), buffer.data(), &bytes));
            ASSERT_EQ(BE_ERR_SUCCESSFUL,
                      lame.encode(otherStream, otherSamples, noise.data(), otherBuffer.data(), &otherBytes));
        } else {
            ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.deinit(stream, buffer.data(), &bytes));
        }
        mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
    }
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(otherStream));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(stream));
    EXPECT_TRUE(alone.mp3 == mp3);
}

// Named after the process: CTest runs tests side by side.
std::string tempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + std::to_string(GetCurrentProcessId()) + name;
}

TEST(LameEnc, VbrHeaderOnlyWhenAskedFor) {
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    std::string path = tempPath("lamedll-vbr.mp3");
    for (int asked : {0, 1}) {
        SCOPED_TRACE(asked ? "asked" : "not asked");
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 32);
        config.bEnableVBR = TRUE;
        config.nVbrMethod = 2;
        config.nVBRQuality = 4;
        config.dwMaxBitrate = 320;
        config.bWriteVBRHeader = asked;
        Encoded out = encodeTone(lame, config, 40);
        ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD put = 0;
        WriteFile(file, out.mp3.data(), (DWORD)out.mp3.size(), &put, nullptr);
        CloseHandle(file);
        BE_ERR result = lame.writeVbrHeader(path.c_str());
        file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        std::vector<BYTE> written(out.mp3.size());
        DWORD got = 0;
        ReadFile(file, written.data(), (DWORD)written.size(), &got, nullptr);
        CloseHandle(file);
        DeleteFileA(path.c_str());
        std::string first((const char*)written.data(), 400);
        if (!asked) {
            EXPECT_NE(BE_ERR_SUCCESSFUL, result);
            EXPECT_TRUE(written == out.mp3);
            continue;
        }
        EXPECT_EQ(BE_ERR_SUCCESSFUL, result);
        size_t tag = first.find("Xing");
        ASSERT_NE(std::string::npos, tag);
        // The frame count: all frames but the tag frame itself.
        DWORD count = (DWORD)written[tag + 8] << 24 | (DWORD)written[tag + 9] << 16 |
                      (DWORD)written[tag + 10] << 8 | written[tag + 11];
        EXPECT_EQ(frames(written).size() - 1, count);
        EXPECT_FALSE(written == out.mp3);
        EXPECT_NE(BE_ERR_SUCCESSFUL, lame.writeVbrHeader(path.c_str()));
    }
}

TEST(LameEnc, FailsAtOnceWithoutItsHelper) {
    std::string copy = tempPath("lamedll-alone.dll");
    char original[MAX_PATH];
    Library lame("lame_enc.dll");
    ASSERT_TRUE(lame.complete());
    GetModuleFileNameA(lame.module, original, sizeof original);
    ASSERT_TRUE(CopyFileA(original, copy.c_str(), FALSE));
    {
        Library alone(copy.c_str());
        ASSERT_TRUE(alone.complete());
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 128);
        DWORD samples = 0, size = 0;
        HBE_STREAM stream = 0;
        DWORD started = GetTickCount();
        EXPECT_NE(BE_ERR_SUCCESSFUL, alone.init(&config, &samples, &size, &stream));
        EXPECT_LT(GetTickCount() - started, 1000u);
        EXPECT_EQ(0u, stream);

        BE_VERSION version;
        memset(&version, 0xCC, sizeof version);
        alone.version(&version);
        EXPECT_EQ(3, version.byMajorVersion);
        EXPECT_LT(strlen(version.zHomepage), (size_t)BE_MAX_HOMEPAGE);
        EXPECT_EQ(0, version.btReserved[0]);
    }
    DeleteFileA(copy.c_str());
}

} // namespace
