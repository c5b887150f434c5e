#include <gtest/gtest.h>

#include <vector>

#include "core/WavHeader.h"
#include "tests/WavTestFiles.h"

typedef std::vector<uint64_t> Values;

// Files made by sox and ffmpeg, read in memory and as the WAV job reads them.
TEST(WavHeader, FilesMadeBySoxAndFfmpeg) {
    struct SampleFile {
        const char* name;
        WavStatus status;
        uint16_t tag = 0, channels = 0, bits = 0;
        uint32_t rate = 0, dataOffset = 0;
    };
    const SampleFile files[] = {
        {"sox-s16-stereo-44100.wav", WavUsable, 1, 2, 16, 44100, 44},
        {"sox-s16-mono-22050.wav", WavUsable, 1, 1, 16, 22050, 44},
        {"sox-u8-mono-8000.wav", WavUsable, 1, 1, 8, 8000, 44},
        {"sox-u8-stereo-11025.wav", WavUsable, 1, 2, 8, 11025, 44},
        {"s16-stereo-44100-fmt18.wav", WavUsable, 1, 2, 16, 44100, 46},
        {"ffmpeg-s16-mono-48000-plain.wav", WavUsable, 1, 1, 16, 48000, 44},
        {"ffmpeg-s16-stereo-44100-list.wav", WavUsable, 1, 2, 16, 44100, 78},
        {"ffmpeg-u8-mono-32000-list.wav", WavUsable, 1, 1, 8, 32000, 78},
        {"ffmpeg-s16-stereo-96000-extensible.wav", WavUsable, 1, 2, 16, 96000, 102},
        {"ffmpeg-u8-mono-96000-extensible.wav", WavUsable, 1, 1, 8, 96000, 102},
        {"sox-s24-stereo-44100.wav", WavUsable, 1, 2, 24, 44100, 80},
        {"ffmpeg-f32-stereo-44100.wav", WavUsable, 3, 2, 32, 44100, 114},
        {"ffmpeg-f32-stereo-96000-extensible.wav", WavUsable, 3, 2, 32, 96000, 114},
        {"sox-alaw-mono-8000.wav", WavNotPcm},
        {"sox-s16-6ch-44100.wav", WavBadChannelCount},
        {"sox-s16-mono-4000.wav", WavBadSampleRate},
    };
    for (const SampleFile& s : files) {
        SCOPED_TRACE(s.name);
        Bytes bytes = readWholeFile(testDataPath(s.name));
        WavInfo info;
        EXPECT_EQ(parseWavBytes(bytes.data(), bytes.size(), &info), s.status);
        Converter c;
        Prepared p = prepare(c, testDataPath(s.name));
        // Each holds 4410 frames, its data chunk last.
        uint32_t dataSize = 4410u * s.channels * s.bits / 8;
        EXPECT_EQ(Values({p.status, (uint64_t)p.result, p.dataSize}),
                  Values({s.status, s.status == WavUsable, dataSize}));
        if (s.status == WavUsable) {
            WavFormat f = info.format;
            EXPECT_EQ(Values({f.formatTag, f.channels, f.bitsPerSample, f.samplesPerSec,
                              info.dataOffset, info.dataSize, p.position, p.config.dwSampleRate}),
                      Values({s.tag, s.channels, s.bits, s.rate, s.dataOffset, dataSize,
                              s.dataOffset, s.rate}));
        }
    }
}

struct Chunk {
    const char* tag;
    Bytes body;
    int64_t declared = -1;
};

static Bytes riffOf(std::initializer_list<Chunk> chunks) {
    Bytes b;
    for (const Chunk& chunk : chunks) {
        putChunk(b, chunk.tag, chunk.body, chunk.declared);
    }
    return riffWave(b);
}

TEST(WavHeader, BuiltAndDamagedFiles) {
    Bytes format = formatBody(1, 2, 44100, 16);
    Bytes stereo = canonicalWav(2, 44100, 16, patternBytes(1001));
    stereo.pop_back();  // 1001 bytes of data, no pad byte
    Bytes extensible = readWholeFile(testDataPath("ffmpeg-s16-stereo-96000-extensible.wav"));
    Bytes many;
    putChunk(many, "fmt ", format);
    for (int i = 0; i < 6000; i++) {
        putChunk(many, "pad ", Bytes());
    }
    putChunk(many, "data", patternBytes(40));
    struct Case {
        Bytes file;
        WavStatus status;
        uint32_t dataOffset = 0, dataSize = 0;
    };
    const Case cases[] = {
        // Data sizes that lie give the whole frames that the file holds; 0,
        // as a recorder stopped early leaves it, the rest of the file.
        {edited(stereo, 40, 0xFFFFFFFF), WavUsable, 44, 1000},
        {edited(stereo, 40, 999), WavUsable, 44, 996},
        {edited(stereo, 40, 0), WavUsable, 44, 1000},
        {edited(stereo, 4, 0), WavUsable, 44, 1000},
        {canonicalWav(2, 44100, 24, patternBytes(47)), WavUsable, 44, 42},
        // Odd chunks are padded; a data chunk followed by another, even
        // empty, keeps its size.
        {riffOf({{"junk", Bytes(5)}, {"fmt ", format}, {"LIST", Bytes(3)}, {"data", Bytes(20)},
                 {"LIST", Bytes(8)}}), WavUsable, 70, 20},
        {riffOf({{"fmt ", format}, {"data", {}}, {"LIST", Bytes(30)}}), WavUsable, 44, 0},
        {riffOf({{"data", Bytes(100)}, {"fmt ", format}}), WavUsable, 20, 100},
        // The walk stops after 4096 chunks, and at a size that runs past the end.
        {riffWave(many), WavNoDataChunk},
        {riffOf({{"fmt ", format}, {"LIST", {}, 0xFFFFFFF7}, {"data", Bytes(40)}}), WavNoDataChunk},
        {riffOf({{"fmt ", format}}), WavNoDataChunk},
        {riffOf({{"data", Bytes(40)}}), WavNoFormatChunk},
        {Bytes(stereo.begin(), stereo.begin() + 30), WavNoFormatChunk},
        {Bytes(stereo.begin(), stereo.begin() + 11), WavNotRiffWave},
        {edited(stereo, 8, 0x20495641), WavNotRiffWave},  // "AVI "
        {edited(stereo, 20, 0, 2), WavNotPcm},
        {edited(extensible, 59, 0), WavNotPcm},   // the sub-format's GUID
        {edited(extensible, 16, 18), WavNotPcm},  // an extensible format cut short
        {edited(stereo, 34, 20, 2), WavBadSampleSize},
        {edited(edited(stereo, 20, 3, 2), 34, 64, 2), WavBadFloatSize},
        // 24 bits padded to 4 bytes, said only by the block size, would be
        // read as noise; 16-bit files are read packed, as they always were.
        {edited(canonicalWav(2, 44100, 24, Bytes(48)), 32, 8, 2), WavBadBlockAlign},
        {edited(stereo, 32, 8, 2), WavUsable, 44, 1000},
        {edited(stereo, 24, 7999), WavBadSampleRate},
        {edited(stereo, 24, 192001), WavBadSampleRate},
        {edited(stereo, 24, 192000), WavUsable, 44, 1000},
    };
    for (const Case& k : cases) {
        WavInfo info = {};
        WavStatus status = parseWavBytes(k.file.data(), k.file.size(), &info);
        EXPECT_EQ(Values({status, status == WavUsable ? info.dataOffset : 0, info.dataSize}),
                  Values({k.status, k.dataOffset, k.dataSize})) << &k - cases;
    }
}
