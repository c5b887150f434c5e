// lame_enc.dll called in-process, as the program calls it, with its helper
// running beside it.
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/LameApi.h"

extern "C" {
BE_ERR __cdecl beInitStream(BE_CONFIG*, DWORD*, DWORD*, PHBE_STREAM);
BE_ERR __cdecl beEncodeChunk(HBE_STREAM, DWORD, SHORT*, BYTE*, DWORD*);
BE_ERR __cdecl beDeinitStream(HBE_STREAM, BYTE*, DWORD*);
BE_ERR __cdecl beCloseStream(HBE_STREAM);
BE_ERR __cdecl beWriteVBRHeader(LPCSTR);
}

namespace {

BE_CONFIG record(DWORD rate, LONG mode, DWORD bitrate) {
    BE_CONFIG config = {};
    config.dwConfig = BE_CONFIG_LAME;
    config.dwStructVersion = 1;
    config.dwStructSize = sizeof config;
    config.dwSampleRate = rate;
    config.nMode = mode;
    config.dwBitrate = bitrate;
    config.dwMpegVersion = rate > 31999;
    config.nVbrMethod = -1;
    return config;
}

// White noise at full scale in `chunks` whole chunks, then the flush; no call
// may return more than the buffer size the stream reported.
std::string encode(BE_CONFIG config, int chunks) {
    DWORD samples = 0, size = 0;
    HBE_STREAM stream = 0;
    EXPECT_EQ(BE_ERR_SUCCESSFUL, beInitStream(&config, &samples, &size, &stream));
    std::vector<SHORT> pcm(samples);
    std::vector<BYTE> buffer(size + 64);
    std::string mp3;
    unsigned seed = 1;
    for (int chunk = 0; stream && chunk <= chunks; chunk++) {
        for (SHORT& s : pcm) {
            s = (SHORT)((seed = seed * 1103515245 + 12345) >> 16);
        }
        DWORD bytes = 0;
        EXPECT_EQ(BE_ERR_SUCCESSFUL, chunk < chunks ? beEncodeChunk(stream, samples, pcm.data(), buffer.data(), &bytes)
                                                    : beDeinitStream(stream, buffer.data(), &bytes));
        EXPECT_LE(bytes, size) << "chunk " << chunk;
        mp3.append((const char*)buffer.data(), bytes);
    }
    EXPECT_EQ(BE_ERR_SUCCESSFUL, beCloseStream(stream));
    return mp3;
}

TEST(LameEnc, RefusesBadRecordsAndCalls) {
    struct {
        const char* name;
        void (*change)(BE_CONFIG*);
        BE_ERR expected;
    } cases[] = {
        // A named preset makes the encoder ignore the mode: the library must check it.
        {"mode 7", [](BE_CONFIG* c) { c->nMode = 7, c->nPreset = 6; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"rate 7999", [](BE_CONFIG* c) { c->dwSampleRate = 7999; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"resample 12345", [](BE_CONFIG* c) { c->dwReSampleRate = 12345; }, BE_ERR_INVALID_FORMAT_PARAMETERS},
        {"old record kind", [](BE_CONFIG* c) { c->dwConfig = 0; }, BE_ERR_INVALID_FORMAT},
        {"vbr method 5", [](BE_CONFIG* c) { c->bEnableVBR = TRUE, c->nVbrMethod = 5; },
         BE_ERR_INVALID_FORMAT_PARAMETERS},
    };
    for (auto& c : cases) {
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 128);
        c.change(&config);
        DWORD samples = 77, size = 77;
        HBE_STREAM stream = 12345;
        EXPECT_EQ(c.expected, beInitStream(&config, &samples, &size, &stream)) << c.name;
        EXPECT_EQ(0u, stream) << c.name;
    }

    // More samples than a chunk, or half a stereo frame, are refused; a
    // closed stream is gone.
    BE_CONFIG config = record(44100, BE_MP3_MODE_STEREO, 128);
    DWORD samples = 0, size = 0, bytes = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, beInitStream(&config, &samples, &size, &stream));
    std::vector<SHORT> pcm(samples * 2);
    std::vector<BYTE> mp3(size);
    EXPECT_NE(BE_ERR_SUCCESSFUL, beEncodeChunk(stream, samples + 2, pcm.data(), mp3.data(), &bytes));
    EXPECT_NE(BE_ERR_SUCCESSFUL, beEncodeChunk(stream, 101, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, beEncodeChunk(stream, 100, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, beCloseStream(stream));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, beEncodeChunk(stream, 100, pcm.data(), mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, beDeinitStream(stream, mp3.data(), &bytes));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, beCloseStream(stream));
}

// The tag goes only into the file of the last stream closed that asked for
// it, and only over the placeholder frame the encoder left at its start.
TEST(LameEnc, VbrTagOnlyWhenAskedAndOnlyOverItsPlaceholder) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string path = folder + std::to_string(GetCurrentProcessId()) + "lamedll-vbr.mp3";
    struct {
        int asked, ownFile;
    } cases[] = {{0, 1}, {1, 0}, {1, 1}};
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "asked " << c.asked << " own file " << c.ownFile);
        BE_CONFIG config = record(44100, BE_MP3_MODE_JSTEREO, 32);
        config.bEnableVBR = TRUE;
        config.nVbrMethod = 2;
        config.dwMaxBitrate = 320;
        config.bWriteVBRHeader = c.asked;
        std::string mp3 = encode(config, 40);
        // A stream closed later that asked for no tag changes nothing.
        std::string other = encode(record(44100, BE_MP3_MODE_MONO, 160), 10);
        // The placeholder: a frame header, then zeros.
        EXPECT_EQ(c.asked != 0, mp3.find_first_not_of('\0', 4) > 36);
        std::string file = c.ownFile ? mp3 : other;
        std::ofstream(path, std::ios::binary) << file;
        int written = c.asked && c.ownFile;
        EXPECT_EQ(written, beWriteVBRHeader(path.c_str()) == BE_ERR_SUCCESSFUL);
        std::ifstream in(path, std::ios::binary);
        std::string after(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(written, after != file);
        EXPECT_EQ(written, after.substr(0, 400).find("Xing") != std::string::npos);
    }
    DeleteFileA(path.c_str());
}

}  // namespace
