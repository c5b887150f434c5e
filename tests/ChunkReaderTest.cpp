#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/Converter.h"
#include "tests/WavTestFiles.h"

struct Call {
    DWORD bytes;  // how far the position moved
    DWORD count;  // the result
    bool operator==(const Call& other) const {
        return bytes == other.bytes && count == other.count;
    }
};

static std::ostream& operator<<(std::ostream& out, const Call& call) {
    return out << "{" << call.bytes << " bytes, " << call.count << " values}";
}

// `times` calls of `each`, then the tail.
static std::vector<Call> series(size_t times, Call each, std::initializer_list<Call> tail = {}) {
    std::vector<Call> calls(times, each);
    calls.insert(calls.end(), tail);
    return calls;
}

struct Reads {
    int prepared = 1;
    BE_CONFIG config;
    DWORD total = 0;
    DWORD consumed = 0;
    std::vector<Call> calls;
    std::vector<SHORT> values;
};

// Calls read(&consumed, out) to the end, recording every call and value;
// one value of slack after the chunk shows a reader that writes too much.
template <typename Read>
static void drain(Reads& run, DWORD n, Read read) {
    std::vector<SHORT> out(n + 1);
    while (run.consumed < run.total && run.calls.size() < 100000) {
        out[n] = 0x5A5A;
        DWORD before = run.consumed;
        DWORD count = read(&run.consumed, out.data());
        EXPECT_EQ(out[n], 0x5A5A) << "wrote past the chunk";
        EXPECT_LE(count, n);
        run.calls.push_back({run.consumed - before, count});
        run.values.insert(run.values.end(), out.begin(), out.begin() + count);
        if (count == 0) {
            break;
        }
    }
}

// Writes a WAV file, prepares it as the WAV job does and reads it to the end.
static Reads readWholeWav(Converter& c, const Bytes& wav, DWORD n, DWORD totalOverride = 0) {
    TempFolder folder;
    HANDLE file = nullptr;
    Prepared p = prepare(c, writeBytes(folder, "input.wav", wav), &file);
    Reads run;
    run.prepared = p.result;
    run.config = p.config;
    run.total = totalOverride ? totalOverride : p.dataSize;
    drain(run, n, [&](DWORD* consumed, SHORT* out) {
        return c.readFileChunk(file, consumed, run.total, out, n, &p.config);
    });
    CloseHandle(file);
    return run;
}

static SHORT sample16(const Bytes& b, size_t i) {
    return (SHORT)(b[2 * i] | b[2 * i + 1] << 8);
}

// Stereo 16-bit values to mono: each channel halved, then added.
static void expectMonoMix(const std::vector<SHORT>& values, const Bytes& stereo) {
    for (size_t k = 0; k < values.size(); k++) {
        ASSERT_EQ(values[k], sample16(stereo, 2 * k) / 2 + sample16(stereo, 2 * k + 1) / 2) << k;
    }
}

TEST(ReadFileChunk, SixteenBitFiles) {
    // Stereo in Auto mode goes straight through.
    Converter c;
    Bytes data = patternBytes(1000000);
    Reads run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304);
    ASSERT_EQ(run.prepared, 1);
    ASSERT_EQ(run.total, 1000000u);
    EXPECT_EQ(run.calls, series(217, {4608, 2304}, {{64, 32}}));
    EXPECT_EQ(run.consumed, 1000000u);
    ASSERT_EQ(run.values.size(), 500000u);
    EXPECT_EQ(memcmp(run.values.data(), data.data(), data.size()), 0);

    // Stereo to mono, n = 1152: 4608 bytes a call, 1152 values.
    Converter toMono;
    toMono.setChannelModeIndex(4);
    data = patternBytes(4608 * 5 + 4 * 100 + 2, 7);
    run = readWholeWav(toMono, canonicalWav(2, 44100, 16, data), 1152);
    ASSERT_EQ(toMono.convertChannels(), 1);
    EXPECT_EQ(run.calls, series(5, {4608, 1152}, {{400, 100}}));
    ASSERT_EQ(run.values.size(), 5 * 1152u + 100);
    expectMonoMix(run.values, data);

    // Mono to stereo, n = 2304: n bytes a call, n values, each sample twice.
    for (int mode : {1, 2, 3}) {
        Converter m;
        m.setChannelModeIndex(mode);
        Bytes mono = patternBytes(2304 * 3 + 10, mode);
        run = readWholeWav(m, canonicalWav(1, 22050, 16, mono), 2304);
        ASSERT_EQ(m.convertChannels(), 1);
        EXPECT_EQ(run.calls, series(3, {2304, 2304}, {{10, 10}})) << mode;
        ASSERT_EQ(run.values.size(), mono.size());
        for (size_t i = 0; i < mono.size() / 2; i++) {
            ASSERT_EQ(run.values[2 * i], sample16(mono, i)) << i;
            ASSERT_EQ(run.values[2 * i + 1], sample16(mono, i)) << i;
        }
    }

    // Mono in, mono out: no conversion.
    Bytes mono = patternBytes(3000, 3);
    run = readWholeWav(toMono, canonicalWav(1, 22050, 16, mono), 1152);
    EXPECT_EQ(toMono.convertChannels(), 0);
    EXPECT_EQ(run.calls, series(1, {2304, 1152}, {{696, 348}}));
    EXPECT_EQ(memcmp(run.values.data(), mono.data(), mono.size()), 0);
}

TEST(ReadFileChunk, EightBitFiles) {
    Bytes bytes = patternBytes(5000, 11);
    auto widened = [&bytes](size_t i) { return (SHORT)((bytes[i] - 128) * 256); };
    struct Case {
        uint16_t channels;
        int modeIndex;
        DWORD n;
        Call each, last;
        size_t values;
    };
    const Case cases[] = {
        {1, 0, 1152, {1152, 1152}, {392, 392}, 5000},   // n bytes, n values
        {2, 0, 2304, {2304, 2304}, {392, 392}, 5000},   // channels kept in place
        {1, 1, 2304, {1152, 2304}, {392, 784}, 10000},  // to " Stéreo": n / 2 bytes
        {2, 4, 1152, {2304, 1152}, {392, 196}, 2500},   // to " Mono": 2n bytes
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.channels) + " channels, mode " + std::to_string(k.modeIndex));
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        Reads run = readWholeWav(c, canonicalWav(k.channels, 8000, 8, bytes), k.n);
        ASSERT_EQ(c.eightBitInput(), 1);
        EXPECT_EQ(run.calls, series(4608 / k.each.bytes, k.each, {k.last}));
        ASSERT_EQ(run.values.size(), k.values);
        for (size_t i = 0; i < k.values; i++) {
            SHORT expected = k.values == 10000 ? widened(i / 2) : widened(i);
            if (k.values == 2500) {  // the exact mean of each pair
                double mean = (bytes[2 * i] + bytes[2 * i + 1]) / 2.0;
                expected = (SHORT)((mean - 128) * 256);
            }
            ASSERT_EQ(run.values[i], expected) << i;
        }
    }
}

enum WideKind { Int24, Int32, Float32 };

// The 16-bit samples of `source` stored wider, with low bits below half a
// 16-bit step: read back, they must give the 16-bit samples exactly.
static Bytes widened(const Bytes& source, WideKind kind) {
    Bytes wide;
    for (size_t i = 0; i < source.size() / 2; i++) {
        SHORT s = sample16(source, i);
        uint8_t low = (uint8_t)(i * 37 % 128);
        if (kind == Float32) {
            float f = (float)(s + low / 256.0) / 32768.0f;
            uint32_t bits;
            memcpy(&bits, &f, 4);
            put32(wide, bits);
            continue;
        }
        if (kind == Int32) {
            wide.push_back((uint8_t)(i * 91));
        }
        wide.insert(wide.end(), {low, source[2 * i], source[2 * i + 1]});
    }
    return wide;
}

// 2000 whole frames and all but the last byte of one more: the tail is read,
// and only its whole samples (to mono, whole frames) are encoded. The CD
// reader gives the same from memory.
TEST(ReadFileChunk, WideFiles) {
    struct Case {
        WideKind kind;
        uint16_t channels;
        int modeIndex;
        DWORD n;
        Call each, last;
    };
    const Case cases[] = {
        {Int24, 2, 4, 1152, {6912, 1152}, {5093, 848}},
        {Int24, 1, 1, 2304, {3456, 2304}, {2546, 1696}},
        {Int24, 2, 0, 2304, {6912, 2304}, {5093, 1697}},
        {Int32, 2, 4, 1152, {9216, 1152}, {6791, 848}},
        {Int32, 1, 2, 2304, {4608, 2304}, {3395, 1696}},
        {Int32, 2, 0, 2304, {9216, 2304}, {6791, 1697}},
        {Float32, 2, 4, 1152, {9216, 1152}, {6791, 848}},
        {Float32, 1, 3, 2304, {4608, 2304}, {3395, 1696}},
        {Float32, 2, 0, 2304, {9216, 2304}, {6791, 1697}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.kind) + ", " + std::to_string(k.channels) +
                     " channels, mode " + std::to_string(k.modeIndex));
        Bytes source = patternBytes(2001 * k.channels * 2, k.kind * 3 + k.channels);
        Bytes wide = widened(source, k.kind);
        wide.pop_back();
        uint16_t tag = k.kind == Float32 ? 3 : 1;
        uint16_t bits = k.kind == Int24 ? 24 : 32;
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        Reads run = readWholeWav(c, wavOf(formatBody(tag, k.channels, 44100, bits), wide), k.n,
                                 (DWORD)wide.size());
        ASSERT_EQ(run.prepared, 1);
        EXPECT_EQ(run.calls, series(1, k.each, {k.last}));
        EXPECT_EQ(run.consumed, wide.size());
        if (k.channels == 2 && k.modeIndex == 4) {
            expectMonoMix(run.values, source);
        } else if (k.channels == 1) {
            for (size_t i = 0; i < run.values.size(); i++) {
                ASSERT_EQ(run.values[i], sample16(source, i / 2)) << i;
            }
        } else {
            for (size_t i = 0; i < run.values.size(); i++) {
                ASSERT_EQ(run.values[i], sample16(source, i)) << i;
            }
        }

        Reads fromMemory;
        fromMemory.total = (DWORD)wide.size();
        drain(fromMemory, k.n, [&](DWORD* position, SHORT* out) {
            return c.readBufferChunk(wide.data(), position, fromMemory.total, out, k.n,
                                     &run.config);
        });
        EXPECT_EQ(fromMemory.calls, run.calls);
        EXPECT_EQ(fromMemory.values, run.values);
    }

    // Less than one sample left: it is read, and nothing is encoded.
    Converter toStereo;
    toStereo.setChannelModeIndex(1);
    Reads run = readWholeWav(toStereo, canonicalWav(1, 44100, 24, patternBytes(3458)), 2304, 3458);
    EXPECT_EQ(run.calls, series(1, {3456, 2304}, {{2, 0}}));
    EXPECT_EQ(run.consumed, 3458u);
}

TEST(ReadFileChunk, ShortFilesAndPartSamples) {
    // The caller believes in 20000 bytes; the file holds 10000.
    Converter c;
    Bytes data = patternBytes(10000);
    Reads run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304, 20000);
    EXPECT_EQ(run.calls, series(2, {4608, 2304}, {{0, 0}}));
    EXPECT_EQ(run.consumed, 9216u);
    // Through a conversion, the temporary buffer is dropped the same way.
    Converter toMono;
    toMono.setChannelModeIndex(4);
    run = readWholeWav(toMono, canonicalWav(2, 11025, 8, data), 1152, 20000);
    EXPECT_EQ(run.calls, series(4, {2304, 1152}, {{0, 0}}));
    EXPECT_EQ(run.consumed, 9216u);

    // 16-bit data of odd size: the last call reads the odd byte and returns 0.
    data = patternBytes(4609);
    run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304, 4609);
    EXPECT_EQ(run.calls, series(1, {4608, 2304}, {{1, 0}}));
    EXPECT_EQ(run.consumed, 4609u);
    // The header itself offers whole frames only.
    run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304);
    EXPECT_EQ(run.total, 4608u);
    EXPECT_EQ(run.calls, series(1, {4608, 2304}));

    // Stereo to mono with half a frame left: it is read, not encoded.
    run = readWholeWav(toMono, canonicalWav(2, 44100, 16, patternBytes(4614)), 1152, 4614);
    EXPECT_EQ(run.calls, series(1, {4608, 1152}, {{6, 1}}));
    run = readWholeWav(toMono, canonicalWav(2, 44100, 16, patternBytes(4610)), 1152, 4610);
    EXPECT_EQ(run.calls, series(1, {4608, 1152}, {{2, 0}}));
    EXPECT_EQ(run.consumed, 4610u);

    // A reader called again after the end reads nothing.
    TempFolder folder;
    HANDLE file = nullptr;
    Prepared p = prepare(c, writeBytes(folder, "a.wav", canonicalWav(2, 44100, 16, data)), &file);
    SHORT out[8];
    DWORD consumed = p.dataSize;
    EXPECT_EQ(c.readFileChunk(file, &consumed, p.dataSize, out, 4, &p.config), 0u);
    EXPECT_EQ(consumed, p.dataSize);
    EXPECT_EQ(filePosition(file), 44u);
    CloseHandle(file);
}

TEST(ReadBufferChunk, CdAudioInMemory) {
    Bytes audio = patternBytes(176400, 5);
    for (int mono : {0, 1}) {
        SCOPED_TRACE(mono ? "mono" : "stereo");
        Converter c;
        c.setChannelModeIndex(mono ? 4 : 0);
        BE_CONFIG config;
        ASSERT_EQ(c.prepareEncoderConfig(&config, nullptr, nullptr), 1);
        ASSERT_EQ(c.convertChannels(), mono);
        DWORD n = mono ? 1152 : 2304;
        Reads run;
        run.total = (DWORD)audio.size();
        auto read = [&](DWORD* position, SHORT* out) {
            return c.readBufferChunk(audio.data(), position, run.total, out, n, &config);
        };
        drain(run, n, read);
        // A mono MP3 takes 4n bytes a call, the halves of each frame added.
        EXPECT_EQ(run.calls, series(38, {4608, n}, {{1296, mono ? 324u : 648u}}));
        ASSERT_EQ(run.values.size(), mono ? 44100u : 88200u);
        if (mono) {
            expectMonoMix(run.values, audio);
        } else {
            EXPECT_EQ(memcmp(run.values.data(), audio.data(), audio.size()), 0);
        }
        SHORT out[2304];
        EXPECT_EQ(read(&run.consumed, out), 0u);
        EXPECT_EQ(run.consumed, 176400u);
    }
}
