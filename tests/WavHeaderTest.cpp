#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/Converter.h"
#include "core/WavHeader.h"
#include "tests/WavTestFiles.h"

// Holds bytes so that the last one ends right before a page that cannot be
// touched: a read past the end stops the test with an access violation.
class GuardedBytes {
public:
    explicit GuardedBytes(const Bytes& bytes) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        DWORD page = system.dwPageSize;
        size_t dataPages = (bytes.size() + page - 1) / page;
        base = (uint8_t*)VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
        DWORD old;
        EXPECT_TRUE(base && VirtualProtect(base + dataPages * page, page, PAGE_NOACCESS, &old));
        start = base + dataPages * page - bytes.size();
        if (!bytes.empty()) {
            memcpy(start, bytes.data(), bytes.size());
        }
    }
    ~GuardedBytes() { VirtualFree(base, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    const uint8_t* data() const { return start; }

private:
    uint8_t* base;
    uint8_t* start;
};

// Parses the first `size` bytes (all by default) with the guard page after them.
static WavStatus parseGuarded(const Bytes& bytes, WavInfo* info, size_t size = SIZE_MAX) {
    size = size < bytes.size() ? size : bytes.size();
    GuardedBytes guarded(Bytes(bytes.begin(), bytes.begin() + size));
    return parseWavBytes(guarded.data(), size, info);
}

// In memory and through the file, as the WAV job reads it.
TEST(WavHeader, FilesMadeBySoxAndFfmpeg) {
    struct SampleFile {
        const char* name;
        WavStatus status;
        uint16_t channels = 0;
        uint32_t rate = 0;
        uint16_t bits = 0;
        uint32_t dataOffset = 0;
        uint16_t tag = 1;
    };
    // Every file holds 4410 frames (scripts/make-test-wavs.sh).
    const SampleFile files[] = {
        {"sox-s16-stereo-44100.wav", WavUsable, 2, 44100, 16, 44},
        {"sox-s16-mono-22050.wav", WavUsable, 1, 22050, 16, 44},
        {"sox-u8-mono-8000.wav", WavUsable, 1, 8000, 8, 44},
        {"sox-u8-stereo-11025.wav", WavUsable, 2, 11025, 8, 44},
        {"s16-stereo-44100-fmt18.wav", WavUsable, 2, 44100, 16, 46},
        {"ffmpeg-s16-mono-48000-plain.wav", WavUsable, 1, 48000, 16, 44},
        {"ffmpeg-s16-stereo-44100-list.wav", WavUsable, 2, 44100, 16, 78},
        {"ffmpeg-u8-mono-32000-list.wav", WavUsable, 1, 32000, 8, 78},
        {"ffmpeg-s16-stereo-96000-extensible.wav", WavUsable, 2, 96000, 16, 102},
        {"ffmpeg-u8-mono-96000-extensible.wav", WavUsable, 1, 96000, 8, 102},
        {"sox-s24-stereo-44100.wav", WavUsable, 2, 44100, 24, 80},
        {"ffmpeg-f32-stereo-44100.wav", WavUsable, 2, 44100, 32, 114, 3},
        {"ffmpeg-f32-stereo-96000-extensible.wav", WavUsable, 2, 96000, 32, 114, 3},
        {"sox-alaw-mono-8000.wav", WavNotPcm},
        {"sox-s16-6ch-44100.wav", WavBadChannelCount}, {"sox-s16-mono-4000.wav", WavBadSampleRate},
    };
    for (const SampleFile& s : files) {
        SCOPED_TRACE(s.name);
        Bytes bytes = readWholeFile(testDataPath(s.name));
        ASSERT_FALSE(bytes.empty());
        WavInfo info;
        ASSERT_EQ(parseGuarded(bytes, &info), s.status);
        Converter c;
        Prepared p = prepare(c, testDataPath(s.name));
        EXPECT_EQ(p.status, s.status);
        EXPECT_EQ(p.result, s.status == WavUsable ? 1 : 0);
        if (s.status != WavUsable) {
            EXPECT_EQ(p.dataSize, 0u);
            continue;
        }
        uint16_t align = (uint16_t)(s.channels * s.bits / 8);
        EXPECT_EQ(info.format.formatTag, s.tag);
        EXPECT_EQ(info.format.channels, s.channels);
        EXPECT_EQ(info.format.samplesPerSec, s.rate);
        EXPECT_EQ(info.format.avgBytesPerSec, s.rate * align);
        EXPECT_EQ(info.format.blockAlign, align);
        EXPECT_EQ(info.format.bitsPerSample, s.bits);
        // Those past 48 kHz or 16 bits are extensible.
        EXPECT_EQ(info.format.extraSize, s.rate > 48000 || s.bits > 16 ? 22 : 0);
        EXPECT_EQ(info.dataOffset, s.dataOffset);
        // The data chunk is the last one in all of them.
        EXPECT_EQ(info.dataSize, 4410u * align);
        EXPECT_EQ(info.dataOffset + info.dataSize, bytes.size());
        EXPECT_EQ(p.dataSize, 4410u * align);
        EXPECT_EQ(p.position, s.dataOffset);
        EXPECT_EQ(p.config.dwSampleRate, s.rate);
        EXPECT_EQ(c.eightBitInput(), s.bits == 8 ? 1 : 0);
        int samples = s.tag == 3     ? Converter::InputF32
                      : s.bits == 24 ? Converter::InputS24
                      : s.bits == 8  ? Converter::InputU8
                                     : Converter::InputS16;
        EXPECT_EQ(c.inputSamples(), samples);
    }
}

TEST(WavHeader, TruncatedAtEveryByte) {
    Bytes canonical = canonicalWav(2, 44100, 16, patternBytes(40));
    for (size_t size = 0; size <= canonical.size(); size++) {
        SCOPED_TRACE(size);
        WavInfo info;
        WavStatus status = parseGuarded(canonical, &info, size);
        if (size < 12) {
            EXPECT_EQ(status, WavNotRiffWave);
        } else if (size < 44) {
            EXPECT_NE(status, WavUsable);
        } else {
            ASSERT_EQ(status, WavUsable);
            EXPECT_EQ(info.dataOffset, 44u);
            EXPECT_EQ(info.dataSize, (size - 44) / 4 * 4);
        }
    }

    // The same on files with LIST and extensible format chunks.
    for (const char* name : {"ffmpeg-s16-stereo-44100-list.wav",
                             "ffmpeg-u8-mono-96000-extensible.wav", "sox-alaw-mono-8000.wav"}) {
        Bytes b = readWholeFile(testDataPath(name));
        WavInfo whole;
        WavStatus wholeStatus = parseGuarded(b, &whole);
        for (size_t size = 0; size < 140; size++) {
            SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(size));
            WavInfo info;
            WavStatus status = parseGuarded(b, &info, size);
            if (wholeStatus != WavUsable || size < whole.dataOffset) {
                EXPECT_NE(status, WavUsable);
                continue;
            }
            ASSERT_EQ(status, WavUsable);
            EXPECT_EQ(info.dataOffset, whole.dataOffset);
            EXPECT_EQ(info.format.samplesPerSec, whole.format.samplesPerSec);
            EXPECT_EQ(info.dataSize, (size - whole.dataOffset) / whole.format.blockAlign *
                                         whole.format.blockAlign);
        }
    }
}

TEST(WavHeader, SizeFieldsThatLie) {
    WavInfo info;
    // 16-bit stereo: whole frames of 4 bytes from the 1001 that are there.
    Bytes file = canonicalWav(2, 44100, 16, patternBytes(1001));
    file.pop_back();  // no pad byte
    // 0 is what a recorder stopped before writing the sizes leaves.
    const uint32_t cases[][2] = {{0xFFFFFFFF, 1000}, {0x7FFFFFFF, 1000}, {1002, 1000}, {999, 996},
                                 {4, 4},             {3, 0},             {0, 1000}};
    for (const auto& k : cases) {
        poke32(file, 40, k[0]);
        ASSERT_EQ(parseGuarded(file, &info), WavUsable) << k[0];
        EXPECT_EQ(info.dataSize, k[1]) << k[0];
        EXPECT_EQ(info.dataOffset, 44u);
    }

    // 8-bit mono keeps an odd count; 8-bit stereo rounds to pairs.
    Bytes chunks;
    putChunk(chunks, "fmt ", formatBody(1, 1, 8000, 8));
    putChunk(chunks, "data", patternBytes(7), 0xFFFFFFF0);
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 8u);  // seven bytes and the pad byte
    ASSERT_EQ(parseGuarded(canonicalWav(2, 8000, 8, patternBytes(7)), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 6u);

    // The RIFF size is not trusted either way.
    for (uint32_t riffSize : {0u, 4u, 0xFFFFFFFFu}) {
        file = canonicalWav(1, 22050, 16, patternBytes(200));
        poke32(file, 4, riffSize);
        ASSERT_EQ(parseGuarded(file, &info), WavUsable) << riffSize;
        EXPECT_EQ(info.dataSize, 200u);
    }

    // A data chunk followed by another chunk keeps its declared size.
    chunks.clear();
    putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
    putChunk(chunks, "data", patternBytes(400));
    putChunk(chunks, "LIST", patternBytes(60));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 400u);

    // A format chunk that claims to run past the end of the file.
    for (uint32_t formatSize : {0xFFFFFFF0u, 0xFFFFFFFFu, 1000u, 41u}) {
        file = canonicalWav(2, 44100, 16, patternBytes(64));
        poke32(file, 16, formatSize);
        EXPECT_NE(parseGuarded(file, &info), WavUsable) << formatSize;
    }
}

TEST(WavHeader, ChunkWalk) {
    WavInfo info;
    // A LIST chunk, an odd-sized chunk with its pad byte, data last.
    Bytes chunks;
    putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
    putChunk(chunks, "LIST", patternBytes(26));
    putChunk(chunks, "junk", Bytes(3, 'd'));
    putChunk(chunks, "data", patternBytes(400));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataOffset, 12u + 24 + 34 + 12 + 8);
    EXPECT_EQ(info.dataSize, 400u);

    // Without the pad byte the walk would land on "\0dat".
    chunks.clear();
    putChunk(chunks, "junk", Bytes(5, 'd'));
    putChunk(chunks, "fmt ", formatBody(1, 1, 16000, 16));
    putChunk(chunks, "data", patternBytes(20));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.format.samplesPerSec, 16000u);
    EXPECT_EQ(info.dataOffset, 12u + 14 + 24 + 8);

    // Data before the format chunk.
    chunks.clear();
    putChunk(chunks, "data", patternBytes(100));
    putChunk(chunks, "fmt ", formatBody(1, 2, 48000, 8));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataOffset, 20u);
    EXPECT_EQ(info.dataSize, 100u);
    EXPECT_EQ(info.format.samplesPerSec, 48000u);

    // Zero bytes of data are a file with nothing to encode, not an error,
    // also when another chunk follows.
    ASSERT_EQ(parseGuarded(canonicalWav(2, 44100, 16, Bytes()), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 0u);
    chunks.clear();
    putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
    putChunk(chunks, "data", Bytes());
    putChunk(chunks, "LIST", patternBytes(30));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 0u);

    // Thousands of empty chunks: the walk ends, and never on a wrong chunk.
    chunks.clear();
    putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
    for (int i = 0; i < 6000; i++) {
        putChunk(chunks, "pad ", Bytes());
    }
    putChunk(chunks, "data", patternBytes(40));
    Bytes many = riffWave(chunks);
    WavStatus status = parseGuarded(many, &info);
    if (status == WavUsable) {
        EXPECT_EQ(info.dataOffset, many.size() - 40);
    } else {
        EXPECT_EQ(status, WavNoDataChunk);
    }

    // Sizes that would wrap a 32-bit position.
    for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF7u, 0xFFFFFFF4u, 0x80000000u}) {
        chunks.clear();
        putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
        putChunk(chunks, "LIST", Bytes(), size);
        putChunk(chunks, "data", patternBytes(40));
        EXPECT_EQ(parseGuarded(riffWave(chunks), &info), WavNoDataChunk) << size;
    }

    // Missing chunks.
    chunks.clear();
    putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
    EXPECT_EQ(parseGuarded(riffWave(chunks), &info), WavNoDataChunk);
    chunks.clear();
    putChunk(chunks, "data", patternBytes(40));
    EXPECT_EQ(parseGuarded(riffWave(chunks), &info), WavNoFormatChunk);
    EXPECT_EQ(parseGuarded(riffWave(Bytes()), &info), WavNoFormatChunk);
}

TEST(WavHeader, RefusesWhatCannotBeReadCorrectly) {
    WavInfo info;
    Bytes good = canonicalWav(2, 44100, 16, patternBytes(40));
    Bytes notRiff = good, notWave = good;
    memcpy(notRiff.data(), "RIFX", 4);
    memcpy(notWave.data() + 8, "AVI ", 4);
    EXPECT_EQ(parseGuarded(notRiff, &info), WavNotRiffWave);
    EXPECT_EQ(parseGuarded(notWave, &info), WavNotRiffWave);
    EXPECT_EQ(parseWavBytes(nullptr, 100, &info), WavNotRiffWave);
    EXPECT_NE(parseWavBytes(good.data(), good.size(), nullptr), WavUsable);

    struct Case {
        uint16_t tag, channels;
        uint32_t rate;
        uint16_t bits;
        WavStatus status;
        uint16_t align = 0;  // 0: channels times bytes per sample
    };
    const Case cases[] = {
        {0, 2, 44100, 16, WavNotPcm},          {6, 1, 8000, 8, WavNotPcm},
        {1, 0, 44100, 16, WavBadChannelCount}, {1, 3, 44100, 16, WavBadChannelCount},
        {3, 3, 44100, 32, WavBadChannelCount}, {1, 2, 44100, 0, WavBadSampleSize},
        {1, 2, 44100, 12, WavBadSampleSize},   {1, 2, 44100, 20, WavBadSampleSize},
        {1, 2, 44100, 64, WavBadSampleSize},   {3, 2, 44100, 64, WavBadFloatSize},
        {3, 1, 44100, 16, WavBadFloatSize},    {3, 2, 44100, 24, WavBadFloatSize},
        {1, 2, 7999, 16, WavBadSampleRate},    {1, 2, 192001, 16, WavBadSampleRate},
        {1, 1, 0, 16, WavBadSampleRate},       {3, 2, 4000, 32, WavBadSampleRate},
        {1, 1, 8000, 16, WavUsable},           {1, 2, 192000, 8, WavUsable},
        {1, 2, 44100, 24, WavUsable},          {1, 1, 48000, 32, WavUsable},
        {3, 2, 44100, 32, WavUsable},          {3, 1, 192000, 32, WavUsable},
        // 24 bits padded to 4 bytes, said only by the block size, would be
        // read as noise; 8 and 16-bit files are read packed as they always were.
        {1, 2, 44100, 24, WavBadBlockAlign, 8}, {1, 1, 44100, 32, WavBadBlockAlign, 3},
        {3, 2, 44100, 32, WavBadBlockAlign, 4}, {1, 2, 44100, 16, WavUsable, 8},
    };
    for (const Case& k : cases) {
        Bytes format = formatBody(k.tag, k.channels, k.rate, k.bits);
        if (k.align) {
            format[12] = (uint8_t)k.align;
        }
        EXPECT_EQ(parseGuarded(wavOf(format, patternBytes(48)), &info), k.status)
            << k.tag << " " << k.channels << " " << k.rate << " " << k.bits << " " << k.align;
    }

    // Extensible: PCM and float sub-formats accepted, anything else refused.
    ASSERT_EQ(parseGuarded(wavOf(extensibleBody(1, 2, 44100, 16), patternBytes(48)), &info),
              WavUsable);
    EXPECT_EQ(info.format.formatTag, 1);
    EXPECT_EQ(info.dataOffset, 12u + 48 + 8);
    ASSERT_EQ(parseGuarded(wavOf(extensibleBody(3, 1, 96000, 32), patternBytes(48)), &info),
              WavUsable);
    EXPECT_EQ(info.format.formatTag, 3);
    EXPECT_EQ(info.dataSize, 48u);
    EXPECT_EQ(parseGuarded(wavOf(extensibleBody(3, 2, 96000, 64), patternBytes(48)), &info),
              WavBadFloatSize);
    EXPECT_EQ(parseGuarded(wavOf(extensibleBody(1, 2, 96000, 20), patternBytes(48)), &info),
              WavBadSampleSize);
    Bytes wrongGuid = extensibleBody(1, 2, 44100, 16);
    wrongGuid[39] ^= 1;
    Bytes shortExtensible = extensibleBody(1, 2, 44100, 16);
    shortExtensible.resize(18);
    Bytes shortFormat = formatBody(1, 2, 44100, 16);
    shortFormat.resize(14);
    for (const Bytes& format :
         {extensibleBody(6, 1, 8000, 8), wrongGuid, shortExtensible, shortFormat}) {
        EXPECT_EQ(parseGuarded(wavOf(format, patternBytes(48)), &info), WavNotPcm)
            << format.size();
    }

    // 24-bit data is cut to whole frames of 6 bytes.
    ASSERT_EQ(parseGuarded(canonicalWav(2, 44100, 24, patternBytes(47)), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 42u);
}

// Damaged files as the WAV job meets them, through the file.
TEST(WavHeader, DamagedFilesOnDisk) {
    TempFolder folder;
    Bytes canonical = canonicalWav(2, 44100, 16, patternBytes(400));
    Bytes lying = canonical;
    poke32(lying, 40, 0xFFFFFFFF);
    struct Case {
        Bytes bytes;
        WavStatus status;
        DWORD dataSize;
    };
    const Case cases[] = {
        {Bytes(), WavNotRiffWave, 0},
        {Bytes(canonical.begin(), canonical.begin() + 30), WavNoFormatChunk, 0},
        {Bytes(canonical.begin(), canonical.begin() + 40), WavNoDataChunk, 0},
        {Bytes(canonical.begin(), canonical.begin() + 44), WavUsable, 0},
        {Bytes(canonical.begin(), canonical.begin() + 143), WavUsable, 96},
        {lying, WavUsable, 400},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bytes.size());
        Converter c;
        Prepared p = prepare(c, writeBytes(folder, "damaged.wav", k.bytes));
        EXPECT_EQ(p.status, k.status);
        EXPECT_EQ(p.result, k.status == WavUsable);
        EXPECT_EQ(p.dataSize, k.dataSize);
        if (k.status == WavUsable) {
            EXPECT_EQ(p.position, 44u);
        }
    }
}
