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

static WavStatus parseGuarded(const Bytes& bytes, size_t size, WavInfo* info) {
    Bytes head(bytes.begin(), bytes.begin() + size);
    GuardedBytes guarded(head);
    return parseWavBytes(guarded.data(), size, info);
}

static WavStatus parseGuarded(const Bytes& bytes, WavInfo* info) {
    return parseGuarded(bytes, bytes.size(), info);
}

// What any accepted header must promise the readers.
static void expectSoundResult(const WavInfo& info, uint64_t size) {
    EXPECT_GE(info.format.channels, 1);
    EXPECT_LE(info.format.channels, 2);
    EXPECT_TRUE(info.format.bitsPerSample == 8 || info.format.bitsPerSample == 16);
    EXPECT_GE(info.format.samplesPerSec, 8000u);
    EXPECT_LE(info.format.samplesPerSec, 192000u);
    EXPECT_LE(info.dataOffset + info.dataSize, size);
    EXPECT_GE(info.dataOffset, 20u);
    EXPECT_EQ(info.dataSize % (info.format.channels * info.format.bitsPerSample / 8), 0u);
}

TEST(WavHeader, TestDataFolderArrivesAsAWindowsPath) {
    std::string folder = CALBRUNE_TEST_DATA;
    EXPECT_EQ(folder.substr(0, 3), "Z:\\");
    EXPECT_EQ(folder.find('/'), std::string::npos);
    DWORD attributes = GetFileAttributesA(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder;
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct SampleFile {
    const char* name;
    WavStatus status;
    uint16_t channels;
    uint32_t rate;
    uint16_t bits;
    uint32_t dataOffset;
};

// Every file holds 4410 frames (scripts/make-test-wavs.sh).
static const SampleFile sampleFiles[] = {
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
    {"sox-s24-stereo-44100.wav", WavBadSampleSize, 0, 0, 0, 0},
    {"sox-alaw-mono-8000.wav", WavNotPcm, 0, 0, 0, 0},
    {"sox-s16-6ch-44100.wav", WavBadChannelCount, 0, 0, 0, 0},
    {"sox-s16-mono-4000.wav", WavBadSampleRate, 0, 0, 0, 0},
    {"ffmpeg-f32-stereo-44100.wav", WavNotPcm, 0, 0, 0, 0},
    {"ffmpeg-f32-stereo-96000-extensible.wav", WavNotPcm, 0, 0, 0, 0},
};

TEST(WavHeader, FilesMadeBySoxAndFfmpeg) {
    for (const SampleFile& s : sampleFiles) {
        SCOPED_TRACE(s.name);
        std::string path = testDataPath(s.name);
        Bytes bytes = readWholeFile(path);
        ASSERT_FALSE(bytes.empty());
        WavInfo info;
        ASSERT_EQ(parseGuarded(bytes, &info), s.status);

        HANDLE file = openForReading(path);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        Converter c;
        BE_CONFIG config;
        DWORD dataSize = 1;
        WavStatus status = WavReadFailed;
        int result = c.prepareEncoderConfig(&config, &dataSize, file, &status);
        DWORD position = filePosition(file);
        CloseHandle(file);
        EXPECT_EQ(status, s.status);
        EXPECT_EQ(result, s.status == WavUsable ? 1 : 0);
        if (s.status != WavUsable) {
            EXPECT_EQ(dataSize, 0u);
            continue;
        }

        uint32_t expectedSize = 4410u * s.channels * (s.bits / 8);
        EXPECT_EQ(info.format.formatTag, 1);
        EXPECT_EQ(info.format.channels, s.channels);
        EXPECT_EQ(info.format.samplesPerSec, s.rate);
        EXPECT_EQ(info.format.bitsPerSample, s.bits);
        EXPECT_EQ(info.dataOffset, s.dataOffset);
        EXPECT_EQ(info.dataSize, expectedSize);
        // The data chunk is the last one in all of them.
        EXPECT_EQ(info.dataOffset + info.dataSize, bytes.size());
        expectSoundResult(info, bytes.size());

        EXPECT_EQ(dataSize, expectedSize);
        EXPECT_EQ(position, s.dataOffset);
        EXPECT_EQ(config.dwSampleRate, s.rate);
        EXPECT_EQ(c.eightBitInput(), s.bits == 8 ? 1 : 0);
    }
}

// The canonical layout, read the plain way: fixed offsets, nothing checked.
TEST(WavHeader, CanonicalFilesReadAsTheFixedLayout) {
    const char* names[] = {"sox-s16-stereo-44100.wav", "sox-s16-mono-22050.wav",
                           "sox-u8-mono-8000.wav", "sox-u8-stereo-11025.wav",
                           "s16-stereo-44100-fmt18.wav", "ffmpeg-s16-mono-48000-plain.wav"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Bytes b = readWholeFile(testDataPath(name));
        ASSERT_GE(b.size(), 46u);
        uint32_t formatSize = b[16] | b[17] << 8;
        ASSERT_TRUE(formatSize == 16 || formatSize == 18);
        size_t sizeAt = formatSize == 16 ? 40 : 42;
        uint32_t fixedDataSize = b[sizeAt] | b[sizeAt + 1] << 8 | b[sizeAt + 2] << 16 |
                                 (uint32_t)b[sizeAt + 3] << 24;
        WavInfo info;
        ASSERT_EQ(parseGuarded(b, &info), WavUsable);
        EXPECT_EQ(info.format.formatTag, b[20] | b[21] << 8);
        EXPECT_EQ(info.format.channels, b[22] | b[23] << 8);
        EXPECT_EQ(info.format.samplesPerSec, (uint32_t)(b[24] | b[25] << 8 | b[26] << 16));
        EXPECT_EQ(info.format.avgBytesPerSec, (uint32_t)(b[28] | b[29] << 8 | b[30] << 16));
        EXPECT_EQ(info.format.blockAlign, b[32] | b[33] << 8);
        EXPECT_EQ(info.format.bitsPerSample, b[34] | b[35] << 8);
        EXPECT_EQ(info.format.extraSize, formatSize == 18 ? (b[36] | b[37] << 8) : 0);
        EXPECT_EQ(info.dataSize, fixedDataSize);
        EXPECT_EQ(info.dataOffset, sizeAt + 4);
    }
}

TEST(WavHeader, TruncatedAtEveryByte) {
    Bytes canonical = canonicalWav(2, 44100, 16, patternBytes(40));
    for (size_t size = 0; size <= canonical.size(); size++) {
        SCOPED_TRACE(size);
        WavInfo info;
        WavStatus status = parseGuarded(canonical, size, &info);
        if (size < 44) {
            EXPECT_NE(status, WavUsable);
        } else {
            ASSERT_EQ(status, WavUsable);
            EXPECT_EQ(info.dataOffset, 44u);
            EXPECT_EQ(info.dataSize, (size - 44) / 4 * 4);
        }
        if (size < 12) {
            EXPECT_EQ(status, WavNotRiffWave);
        }
    }

    // The same on the files with LIST and extensible format chunks.
    const char* names[] = {"ffmpeg-s16-stereo-44100-list.wav",
                           "ffmpeg-u8-mono-96000-extensible.wav", "sox-alaw-mono-8000.wav"};
    for (const char* name : names) {
        Bytes b = readWholeFile(testDataPath(name));
        WavInfo whole;
        WavStatus wholeStatus = parseGuarded(b, &whole);
        for (size_t size = 0; size < 140; size++) {
            SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(size));
            WavInfo info;
            WavStatus status = parseGuarded(b, size, &info);
            if (wholeStatus != WavUsable || size < whole.dataOffset) {
                EXPECT_NE(status, WavUsable);
                continue;
            }
            ASSERT_EQ(status, WavUsable);
            EXPECT_EQ(info.dataOffset, whole.dataOffset);
            EXPECT_LE(info.dataOffset + info.dataSize, size);
            expectSoundResult(info, size);
        }
    }
}

TEST(WavHeader, SizeFieldsThatLie) {
    Bytes data = patternBytes(1001);
    struct Case {
        uint32_t declared;
        uint32_t expected;
    };
    // 16-bit stereo: whole frames of 4 bytes from the 1001 that are there.
    const Case cases[] = {{0xFFFFFFFF, 1000}, {0x7FFFFFFF, 1000}, {1002, 1000}, {1001, 1000},
                          {999, 996},         {4, 4},             {3, 0},       {0, 0}};
    for (const Case& k : cases) {
        Bytes chunks;
        putChunk(chunks, "fmt ", formatBody(1, 2, 44100, 16));
        putTag(chunks, "data");
        put32(chunks, k.declared);
        chunks.insert(chunks.end(), data.begin(), data.end());
        Bytes file = riffWave(chunks);
        WavInfo info;
        ASSERT_EQ(parseGuarded(file, &info), WavUsable) << k.declared;
        EXPECT_EQ(info.dataSize, k.expected) << k.declared;
        EXPECT_EQ(info.dataOffset, 44u);
    }

    // 8-bit mono keeps an odd count; 8-bit stereo rounds to pairs.
    Bytes chunks;
    putChunk(chunks, "fmt ", formatBody(1, 1, 8000, 8));
    putChunk(chunks, "data", patternBytes(7), 0xFFFFFFF0);
    WavInfo info;
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 8u);  // seven bytes and the pad byte
    chunks.clear();
    putChunk(chunks, "fmt ", formatBody(1, 2, 8000, 8));
    putChunk(chunks, "data", patternBytes(7));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.dataSize, 6u);

    // The RIFF size is not trusted either way.
    for (uint32_t riffSize : {0u, 4u, 0xFFFFFFFFu}) {
        Bytes file = canonicalWav(1, 22050, 16, patternBytes(200));
        file[4] = (uint8_t)riffSize;
        file[5] = (uint8_t)(riffSize >> 8);
        file[6] = (uint8_t)(riffSize >> 16);
        file[7] = (uint8_t)(riffSize >> 24);
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
        Bytes file = canonicalWav(2, 44100, 16, patternBytes(64));
        file[16] = (uint8_t)formatSize;
        file[17] = (uint8_t)(formatSize >> 8);
        file[18] = (uint8_t)(formatSize >> 16);
        file[19] = (uint8_t)(formatSize >> 24);
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

    // Zero bytes of data are a file with nothing to encode, not an error.
    ASSERT_EQ(parseGuarded(canonicalWav(2, 44100, 16, Bytes()), &info), WavUsable);
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
        putTag(chunks, "LIST");
        put32(chunks, size);
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
    Bytes notRiff = good;
    memcpy(notRiff.data(), "RIFX", 4);
    EXPECT_EQ(parseGuarded(notRiff, &info), WavNotRiffWave);
    Bytes notWave = good;
    memcpy(notWave.data() + 8, "AVI ", 4);
    EXPECT_EQ(parseGuarded(notWave, &info), WavNotRiffWave);
    EXPECT_EQ(parseWavBytes(nullptr, 100, &info), WavNotRiffWave);
    EXPECT_NE(parseWavBytes(good.data(), good.size(), nullptr), WavUsable);

    struct Case {
        uint16_t tag;
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        WavStatus status;
    };
    const Case cases[] = {
        {3, 2, 44100, 32, WavNotPcm},         {6, 1, 8000, 8, WavNotPcm},
        {0, 2, 44100, 16, WavNotPcm},         {1, 0, 44100, 16, WavBadChannelCount},
        {1, 3, 44100, 16, WavBadChannelCount}, {1, 2, 44100, 24, WavBadSampleSize},
        {1, 2, 44100, 12, WavBadSampleSize},  {1, 2, 44100, 0, WavBadSampleSize},
        {1, 2, 7999, 16, WavBadSampleRate},   {1, 2, 192001, 16, WavBadSampleRate},
        {1, 1, 0, 16, WavBadSampleRate},      {1, 1, 7, 16, WavBadSampleRate},
        {1, 1, 8000, 16, WavUsable},          {1, 2, 192000, 8, WavUsable},
    };
    for (const Case& k : cases) {
        Bytes chunks;
        putChunk(chunks, "fmt ", formatBody(k.tag, k.channels, k.rate, k.bits));
        putChunk(chunks, "data", patternBytes(48));
        EXPECT_EQ(parseGuarded(riffWave(chunks), &info), k.status)
            << k.tag << " " << k.channels << " " << k.rate << " " << k.bits;
    }

    // Extensible: PCM sub-format accepted, anything else refused.
    Bytes chunks;
    putChunk(chunks, "fmt ", extensibleBody(1, 2, 44100, 16));
    putChunk(chunks, "data", patternBytes(48));
    ASSERT_EQ(parseGuarded(riffWave(chunks), &info), WavUsable);
    EXPECT_EQ(info.format.formatTag, 1);
    EXPECT_EQ(info.dataOffset, 12u + 48 + 8);
    chunks.clear();
    putChunk(chunks, "fmt ", extensibleBody(3, 2, 44100, 16));
    putChunk(chunks, "data", patternBytes(48));
    EXPECT_EQ(parseGuarded(riffWave(chunks), &info), WavNotPcm);
    Bytes wrongGuid = extensibleBody(1, 2, 44100, 16);
    wrongGuid[39] ^= 1;
    chunks.clear();
    putChunk(chunks, "fmt ", wrongGuid);
    putChunk(chunks, "data", patternBytes(48));
    EXPECT_EQ(parseGuarded(riffWave(chunks), &info), WavNotPcm);
    Bytes shortExtensible = extensibleBody(1, 2, 44100, 16);
    shortExtensible.resize(18);
    chunks.clear();
    putChunk(chunks, "fmt ", shortExtensible);
    putChunk(chunks, "data", patternBytes(48));
    EXPECT_EQ(parseGuarded(riffWave(chunks), &info), WavNotPcm);
    Bytes shortFormat = formatBody(1, 2, 44100, 16);
    shortFormat.resize(14);
    chunks.clear();
    putChunk(chunks, "fmt ", shortFormat);
    putChunk(chunks, "data", patternBytes(48));
    EXPECT_NE(parseGuarded(riffWave(chunks), &info), WavUsable);
}

// Random damage to the first bytes of real files: whatever the parser
// decides, it stays inside the bytes and promises only what is there.
TEST(WavHeader, RandomlyDamagedHeaders) {
    const char* names[] = {"sox-s16-stereo-44100.wav", "ffmpeg-s16-stereo-44100-list.wav",
                           "ffmpeg-u8-mono-96000-extensible.wav", "sox-alaw-mono-8000.wav"};
    uint32_t x = 2463534242u;
    auto next = [&x]() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    int usable = 0;
    for (const char* name : names) {
        Bytes original = readWholeFile(testDataPath(name));
        ASSERT_GT(original.size(), 200u);
        original.resize(200);
        for (int round = 0; round < 1500; round++) {
            Bytes b = original;
            int changes = 1 + next() % 4;
            for (int i = 0; i < changes; i++) {
                size_t at = next() % 110;
                b[at] = (next() & 1) ? (uint8_t)next() : (uint8_t)(b[at] ^ (1u << (next() % 8)));
            }
            size_t size = (next() % 4 == 0) ? next() % b.size() : b.size();
            WavInfo info;
            if (parseGuarded(b, size, &info) == WavUsable) {
                usable++;
                expectSoundResult(info, size);
            }
            if (HasFailure()) {
                FAIL() << name << " round " << round;
            }
        }
    }
    EXPECT_GT(usable, 100);
}

// The same refusals through a real file, as the WAV job meets them.
TEST(WavHeader, DamagedFilesOnDisk) {
    ScratchFolder scratch;
    Bytes canonical = canonicalWav(2, 44100, 16, patternBytes(400));
    struct Case {
        const char* name;
        Bytes bytes;
        WavStatus status;
        DWORD dataSize;
    };
    Bytes lying = canonical;
    lying[40] = lying[41] = lying[42] = lying[43] = 0xFF;
    Case cases[] = {
        {"empty.wav", Bytes(), WavNotRiffWave, 0},
        {"cut-in-format.wav", Bytes(canonical.begin(), canonical.begin() + 30),
         WavNoFormatChunk, 0},
        {"cut-before-data.wav", Bytes(canonical.begin(), canonical.begin() + 40),
         WavNoDataChunk, 0},
        {"header-only.wav", Bytes(canonical.begin(), canonical.begin() + 44), WavUsable, 0},
        {"cut-in-data.wav", Bytes(canonical.begin(), canonical.begin() + 143), WavUsable, 96},
        {"lying-size.wav", lying, WavUsable, 400},
    };
    for (Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::string path = scratch.write(k.name, k.bytes);
        ASSERT_FALSE(path.empty());
        HANDLE file = openForReading(path);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        Converter c;
        BE_CONFIG config;
        DWORD dataSize = 12345;
        WavStatus status = WavReadFailed;
        int result = c.prepareEncoderConfig(&config, &dataSize, file, &status);
        DWORD position = filePosition(file);
        CloseHandle(file);
        EXPECT_EQ(status, k.status);
        EXPECT_EQ(result, k.status == WavUsable);
        EXPECT_EQ(dataSize, k.dataSize);
        if (k.status == WavUsable) {
            EXPECT_EQ(position, 44u);
        }
    }
}
