// lame_enc.dll called in-process, as the program calls it, with its helper
// running beside it.
#include <windows.h>

#include <math.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/LameApi.h"

namespace {

struct Library {
    HMODULE module;
    BEINITSTREAM init;
    BEENCODECHUNK encode;
    BEDEINITSTREAM deinit;
    BECLOSESTREAM close;
    BEWRITEVBRHEADER writeVbrHeader;
    BEVERSION version;

    explicit Library(const char* path) : module(LoadLibraryA(path)) {
        init = (BEINITSTREAM)entry("beInitStream");
        encode = (BEENCODECHUNK)entry("beEncodeChunk");
        deinit = (BEDEINITSTREAM)entry("beDeinitStream");
        close = (BECLOSESTREAM)entry("beCloseStream");
        writeVbrHeader = (BEWRITEVBRHEADER)entry("beWriteVBRHeader");
        version = (BEVERSION)entry("beVersion");
    }
    ~Library() {
        if (module) {
            FreeLibrary(module);
        }
    }
    void* entry(const char* name) { return module ? (void*)GetProcAddress(module, name) : nullptr; }
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
};

// A tone, or white noise at full scale when loud, in the chunks the DLL asks
// for, then the flush; `between` runs before each chunk.
Encoded encodeTone(Library& lame, BE_CONFIG config, int chunks, bool loud = false,
                   std::function<void()> between = nullptr) {
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
        for (SHORT& s : samples) {
            seed = seed * 1103515245 + 12345;
            s = loud ? (SHORT)(seed >> 16) : (SHORT)(8000 * sin(at++ * 0.05));
        }
        if (between && chunk < chunks) {
            between();
        }
        EXPECT_EQ(BE_ERR_SUCCESSFUL,
                  chunk < chunks ? lame.encode(stream, (DWORD)samples.size(), samples.data(),
                                               buffer.data(), &bytes)
                                 : lame.deinit(stream, buffer.data(), &bytes))
            << "chunk " << chunk;
        EXPECT_LE(bytes, result.bufferSize) << "chunk " << chunk;
        result.callBytes.push_back(bytes);
        result.mp3.insert(result.mp3.end(), buffer.begin(), buffer.begin() + bytes);
    }
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(stream));
    return result;
}

struct FrameHeader {
    int mpeg1, crc, rate, privateBit, mode, copyright, original, length;
};

// Walks the stream frame by frame; every byte must belong to a frame.
std::vector<FrameHeader> frames(const std::vector<BYTE>& mp3) {
    static const int rates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int kbps[2][16] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
    std::vector<FrameHeader> found;
    size_t at = 0;
    while (at + 4 <= mp3.size() && mp3[at] == 0xFF && (mp3[at + 1] & 0xE6) == 0xE2) {
        const BYTE* h = mp3.data() + at;
        int version = (h[1] >> 3) & 3, rateIndex = (h[2] >> 2) & 3, bitrateIndex = h[2] >> 4;
        if (version == 1 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15) {
            break;
        }
        FrameHeader f;
        f.mpeg1 = version == 3;
        f.crc = !(h[1] & 1);
        f.rate = rates[f.mpeg1][rateIndex] / (version == 0 ? 2 : 1);
        f.privateBit = h[2] & 1;
        f.mode = h[3] >> 6;
        f.copyright = (h[3] >> 3) & 1;
        f.original = (h[3] >> 2) & 1;
        f.length = (f.mpeg1 ? 144 : 72) * kbps[f.mpeg1][bitrateIndex] * 1000 / f.rate + ((h[2] >> 1) & 1);
        found.push_back(f);
        at += f.length;
    }
    EXPECT_EQ(mp3.size(), at) << "stream ends in a broken frame";
    return found;
}

class LameEnc : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lame.complete()); }
    Library lame{"lame_enc.dll"};
};

TEST_F(LameEnc, ChunkSizesModesAndHeaderBitsFollowTheRecord) {
    struct {
        DWORD rate, resample;
        LONG mode;
        DWORD samplesPerChunk;
        int frameMode, mpeg1, outRate;
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
        std::vector<FrameHeader> found = frames(out.mp3);
        ASSERT_FALSE(found.empty());
        for (const FrameHeader& f : found) {
            EXPECT_TRUE(f.mode == c.frameMode && f.mpeg1 == c.mpeg1 && f.rate == c.outRate);
            EXPECT_TRUE(f.original == 1 && f.privateBit + f.copyright + f.crc == 0);
        }
        // Every input sample is in the stream, and not much more.
        double seconds = (double)chunks * out.samplesPerChunk / (c.mode == BE_MP3_MODE_MONO ? 1 : 2) / c.rate;
        double frameSeconds = (c.mpeg1 ? 1152.0 : 576.0) / c.outRate;
        EXPECT_GE(found.size() * frameSeconds, seconds);
        EXPECT_LE(found.size() * frameSeconds, seconds + 4 * frameSeconds);
    }

    BE_CONFIG flags = record(44100, BE_MP3_MODE_DUALCHANNEL, 128);
    flags.bPrivate = flags.bCopyright = flags.bCRC = TRUE;
    flags.bOriginal = FALSE;
    Encoded out = encodeTone(lame, flags, 10);
    std::vector<FrameHeader> found = frames(out.mp3);
    ASSERT_FALSE(found.empty());
    // Dual channel is written as plain stereo, as LAME has no dual channel mode.
    EXPECT_EQ(0, found[0].mode);
    EXPECT_TRUE(found[0].privateBit && found[0].copyright && found[0].crc && !found[0].original);
}

TEST_F(LameEnc, ReportedBufferHoldsTheLargestOutputs) {
    // Upsampled noise at the highest bitrate makes the most bytes per call.
    BE_CONFIG config = record(8000, BE_MP3_MODE_STEREO, 320);
    config.dwReSampleRate = 48000;
    config.nPreset = 5;
    Encoded out = encodeTone(lame, config, 20, true);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
    // Six output frames of 960 bytes per input chunk.
    DWORD largest = 0;
    for (DWORD bytes : out.callBytes) {
        largest = bytes > largest ? bytes : largest;
    }
    EXPECT_GE(largest, 5000u);
    EXPECT_EQ(out.mp3.size(), frames(out.mp3).size() * 960);
}

TEST_F(LameEnc, RefusesBadRecordsAndCallsAndKeepsWorking) {
    struct {
        const char* name;
        void (*change)(BE_CONFIG*);
        BE_ERR expected;
    } cases[] = {
        {"mode 7", [](BE_CONFIG* c) { c->nMode = 7; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"mode -1", [](BE_CONFIG* c) { c->nMode = -1; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 0", [](BE_CONFIG* c) { c->dwSampleRate = 0; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
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
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 128);
        c.change(&config);
        DWORD samples = 77, size = 77;
        HBE_STREAM stream = 12345;
        EXPECT_EQ(c.expected, lame.init(&config, &samples, &size, &stream)) << c.name;
        EXPECT_EQ(0u, stream) << c.name;
    }

    // More samples than a chunk, or half a stereo frame, are refused.
    for (LONG mode : {BE_MP3_MODE_MONO, BE_MP3_MODE_STEREO}) {
        BE_CONFIG config = record(44100, mode, 128);
        DWORD samples = 0, size = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.init(&config, &samples, &size, &stream));
        std::vector<SHORT> pcm(samples * 2);
        std::vector<BYTE> mp3(size);
        DWORD bytes = 0;
        DWORD bad = mode == BE_MP3_MODE_MONO ? samples * 2 : 101;
        DWORD good = mode == BE_MP3_MODE_MONO ? samples : 100;
        EXPECT_NE(BE_ERR_SUCCESSFUL, lame.encode(stream, bad, pcm.data(), mp3.data(), &bytes));
        EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.encode(stream, good, pcm.data(), mp3.data(), &bytes));
        EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(stream));
        // A closed stream is no longer there.
        EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.encode(stream, good, pcm.data(), mp3.data(), &bytes));
        EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.deinit(stream, mp3.data(), &bytes));
        EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.close(stream));
    }
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, lame.close(0));

    Encoded out = encodeTone(lame, record(44100, BE_MP3_MODE_JSTEREO, 128), 20);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, out.initResult);
    EXPECT_GT(frames(out.mp3).size(), 15u);
    // The first calls may return nothing yet; the flush returns the rest.
    EXPECT_GT(out.callBytes.back(), 0u);
}

TEST_F(LameEnc, InterleavedStreamsStayApart) {
    Encoded alone = encodeTone(lame, record(44100, BE_MP3_MODE_JSTEREO, 128), 12);
    ASSERT_EQ(BE_ERR_SUCCESSFUL, alone.initResult);
    // The same tone again, while a second stream encodes steady samples.
    BE_CONFIG other = record(22050, BE_MP3_MODE_MONO, 32);
    DWORD samples = 0, size = 0;
    HBE_STREAM otherStream = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, lame.init(&other, &samples, &size, &otherStream));
    std::vector<SHORT> steady(samples, 1000);
    std::vector<BYTE> buffer(size);
    Encoded beside = encodeTone(lame, record(44100, BE_MP3_MODE_JSTEREO, 128), 12, false, [&] {
        DWORD bytes = 0;
        EXPECT_EQ(BE_ERR_SUCCESSFUL,
                  lame.encode(otherStream, samples, steady.data(), buffer.data(), &bytes));
    });
    EXPECT_EQ(BE_ERR_SUCCESSFUL, lame.close(otherStream));
    EXPECT_TRUE(alone.mp3 == beside.mp3);
}

// Named after the process: CTest runs tests side by side.
std::string tempPath(const char* name) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + std::to_string(GetCurrentProcessId()) + name;
}

std::vector<BYTE> fileBytes(const std::string& path, const std::vector<BYTE>* write = nullptr) {
    std::vector<BYTE> bytes = write ? *write : std::vector<BYTE>(1 << 20);
    HANDLE file = CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                              write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    write ? WriteFile(file, bytes.data(), (DWORD)bytes.size(), &done, nullptr)
          : ReadFile(file, bytes.data(), (DWORD)bytes.size(), &done, nullptr);
    CloseHandle(file);
    bytes.resize(done);
    return bytes;
}

TEST_F(LameEnc, VbrHeaderOnlyWhenAskedFor) {
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
        fileBytes(path, &out.mp3);
        BE_ERR result = lame.writeVbrHeader(path.c_str());
        std::vector<BYTE> written = fileBytes(path);
        if (!asked) {
            EXPECT_NE(BE_ERR_SUCCESSFUL, result);
            EXPECT_TRUE(written == out.mp3);
            continue;
        }
        EXPECT_EQ(BE_ERR_SUCCESSFUL, result);
        EXPECT_FALSE(written == out.mp3);
        size_t tag = std::string((const char*)written.data(), 400).find("Xing");
        ASSERT_NE(std::string::npos, tag);
        // The frame count: all frames but the tag frame itself.
        DWORD count = (DWORD)written[tag + 8] << 24 | (DWORD)written[tag + 9] << 16 |
                      (DWORD)written[tag + 10] << 8 | written[tag + 11];
        EXPECT_EQ(frames(written).size() - 1, count);
        // Once written, it is not written again.
        EXPECT_NE(BE_ERR_SUCCESSFUL, lame.writeVbrHeader(path.c_str()));
    }
    DeleteFileA(path.c_str());
}

TEST_F(LameEnc, FailsWithoutItsHelper) {
    std::string copy = tempPath("lamedll-alone.dll");
    char original[MAX_PATH];
    GetModuleFileNameA(lame.module, original, sizeof original);
    ASSERT_TRUE(CopyFileA(original, copy.c_str(), FALSE));
    {
        Library alone(copy.c_str());
        ASSERT_TRUE(alone.complete());
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 128);
        DWORD samples = 0, size = 0;
        HBE_STREAM stream = 0;
        EXPECT_NE(BE_ERR_SUCCESSFUL, alone.init(&config, &samples, &size, &stream));
        EXPECT_EQ(0u, stream);
        // The version needs no helper.
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
