#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/Converter.h"
#include "tests/WavTestFiles.h"

struct Call {
    DWORD bytes;  // how far `consumed` moved
    DWORD count;  // the result
    bool operator==(const Call& other) const {
        return bytes == other.bytes && count == other.count;
    }
};

static std::ostream& operator<<(std::ostream& out, const Call& call) {
    return out << "{" << call.bytes << " bytes, " << call.count << " values}";
}

// Writes a WAV file, prepares it the way the WAV job does and reads it to the
// end, recording every call and every value handed to the encoder.
struct FileRun {
    int prepared = 0;
    DWORD total = 0;
    DWORD consumed = 0;
    std::vector<Call> calls;
    std::vector<SHORT> values;
    BE_CONFIG config;
};

static FileRun readWholeWav(Converter& c, const Bytes& wav, DWORD n, DWORD totalOverride = 0) {
    FileRun run;
    ScratchFolder scratch;
    std::string path = scratch.write("input.wav", wav);
    HANDLE file = openForReading(path);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    run.prepared = c.prepareEncoderConfig(&run.config, &run.total, file);
    if (totalOverride) {
        run.total = totalOverride;
    }
    // One value of slack after the chunk shows a reader that writes too much.
    std::vector<SHORT> out(n + 1);
    while (run.consumed < run.total && run.calls.size() < 100000) {
        out[n] = 0x5A5A;
        DWORD before = run.consumed;
        DWORD count = c.readFileChunk(file, &run.consumed, run.total, out.data(), n, &run.config);
        EXPECT_EQ(out[n], 0x5A5A) << "wrote past the chunk";
        EXPECT_LE(count, n);
        run.calls.push_back({run.consumed - before, count});
        run.values.insert(run.values.end(), out.begin(), out.begin() + count);
        if (count == 0) {
            break;
        }
    }
    CloseHandle(file);
    return run;
}

static std::vector<Call> expectedCalls(DWORD total, DWORD request, DWORD count) {
    std::vector<Call> calls(total / request, Call{request, count});
    return calls;
}

static SHORT sample16(const Bytes& b, size_t i) {
    return (SHORT)(b[2 * i] | b[2 * i + 1] << 8);
}

TEST(ReadFileChunk, StereoFileInAutoModeGoesStraightThrough) {
    Converter c;
    Bytes data = patternBytes(1000000);
    FileRun run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304);
    ASSERT_EQ(run.prepared, 1);
    ASSERT_EQ(run.total, 1000000u);
    std::vector<Call> expected = expectedCalls(1000000, 4608, 2304);
    ASSERT_EQ(expected.size(), 217u);
    expected.push_back({64, 32});
    EXPECT_EQ(run.calls, expected);
    EXPECT_EQ(run.consumed, 1000000u);
    ASSERT_EQ(run.values.size(), 500000u);
    EXPECT_EQ(memcmp(run.values.data(), data.data(), data.size()), 0);
}

TEST(ReadFileChunk, SixteenBitChannelChanges) {
    // Stereo to mono, n = 1152: 4608 bytes a call, 1152 values.
    Converter c;
    c.setChannelModeIndex(4);
    Bytes data = patternBytes(4608 * 5 + 4 * 100 + 2, 7);
    FileRun run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 1152);
    ASSERT_EQ(run.prepared, 1);
    ASSERT_EQ(c.convertChannels(), 1);
    std::vector<Call> expected = expectedCalls(4608 * 5, 4608, 1152);
    expected.push_back({400, 100});
    EXPECT_EQ(run.calls, expected);
    ASSERT_EQ(run.values.size(), 5 * 1152u + 100);
    for (size_t k = 0; k < run.values.size(); k++) {
        int left = sample16(data, 2 * k), right = sample16(data, 2 * k + 1);
        ASSERT_EQ(run.values[k], left / 2 + right / 2) << k;
    }

    // Mono to stereo, n = 2304: n bytes a call, n values, each sample twice.
    for (int mode : {1, 2, 3}) {
        Converter m;
        m.setChannelModeIndex(mode);
        Bytes mono = patternBytes(2304 * 3 + 10, mode);
        run = readWholeWav(m, canonicalWav(1, 22050, 16, mono), 2304);
        ASSERT_EQ(m.convertChannels(), 1);
        expected = expectedCalls(2304 * 3, 2304, 2304);
        expected.push_back({10, 10});
        EXPECT_EQ(run.calls, expected) << mode;
        ASSERT_EQ(run.values.size(), mono.size());
        for (size_t i = 0; i < mono.size() / 2; i++) {
            ASSERT_EQ(run.values[2 * i], sample16(mono, i)) << i;
            ASSERT_EQ(run.values[2 * i + 1], sample16(mono, i)) << i;
        }
    }

    // Mono in, mono out, and stereo kept stereo: no conversion.
    Converter same;
    same.setChannelModeIndex(4);
    Bytes mono = patternBytes(3000, 3);
    run = readWholeWav(same, canonicalWav(1, 22050, 16, mono), 1152);
    EXPECT_EQ(same.convertChannels(), 0);
    expected = expectedCalls(3000, 2304, 1152);
    expected.push_back({696, 348});
    EXPECT_EQ(run.calls, expected);
    EXPECT_EQ(memcmp(run.values.data(), mono.data(), mono.size()), 0);
}

TEST(ReadFileChunk, EightBitInput) {
    Bytes bytes = patternBytes(5000, 11);
    auto widened = [&bytes](size_t i) { return (SHORT)((bytes[i] - 128) * 256); };

    // Mono in Auto mode: n bytes, n values.
    Converter autoMono;
    FileRun run = readWholeWav(autoMono, canonicalWav(1, 8000, 8, bytes), 1152);
    ASSERT_EQ(autoMono.eightBitInput(), 1);
    ASSERT_EQ(autoMono.convertChannels(), 0);
    std::vector<Call> expected = expectedCalls(5000, 1152, 1152);
    expected.push_back({392, 392});
    EXPECT_EQ(run.calls, expected);
    ASSERT_EQ(run.values.size(), 5000u);
    for (size_t i = 0; i < 5000; i++) {
        ASSERT_EQ(run.values[i], widened(i)) << i;
    }

    // Stereo in Auto mode: n bytes, n values, channels kept in place.
    Converter autoStereo;
    run = readWholeWav(autoStereo, canonicalWav(2, 11025, 8, bytes), 2304);
    expected = expectedCalls(5000, 2304, 2304);
    expected.push_back({392, 392});
    EXPECT_EQ(run.calls, expected);
    ASSERT_EQ(run.values.size(), 5000u);
    EXPECT_EQ(run.values[4999], widened(4999));

    // Mono to " Stéreo": n / 2 bytes, n values.
    Converter toStereo;
    toStereo.setChannelModeIndex(1);
    run = readWholeWav(toStereo, canonicalWav(1, 8000, 8, bytes), 2304);
    ASSERT_EQ(toStereo.convertChannels(), 1);
    expected = expectedCalls(5000, 1152, 2304);
    expected.push_back({392, 784});
    EXPECT_EQ(run.calls, expected);
    ASSERT_EQ(run.values.size(), 10000u);
    for (size_t i = 0; i < 5000; i++) {
        ASSERT_EQ(run.values[2 * i], widened(i)) << i;
        ASSERT_EQ(run.values[2 * i + 1], widened(i)) << i;
    }

    // Stereo to " Mono": 2n bytes, n values, the exact mean of each pair.
    Converter toMono;
    toMono.setChannelModeIndex(4);
    run = readWholeWav(toMono, canonicalWav(2, 11025, 8, bytes), 1152);
    ASSERT_EQ(toMono.convertChannels(), 1);
    expected = expectedCalls(5000, 2304, 1152);
    expected.push_back({392, 196});
    EXPECT_EQ(run.calls, expected);
    ASSERT_EQ(run.values.size(), 2500u);
    for (size_t k = 0; k < 2500; k++) {
        double mean = (bytes[2 * k] + bytes[2 * k + 1]) / 2.0;
        ASSERT_EQ(run.values[k], (SHORT)((mean - 128) * 256)) << k;
    }
}

TEST(ReadFileChunk, FileShorterThanItsDataSize) {
    Converter c;
    Bytes data = patternBytes(10000);
    // The caller believes in 20000 bytes; the file holds 10000.
    FileRun run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304, 20000);
    std::vector<Call> expected = expectedCalls(9216, 4608, 2304);
    expected.push_back({0, 0});
    EXPECT_EQ(run.calls, expected);
    EXPECT_EQ(run.consumed, 9216u);

    // Through a conversion, the temporary buffer is dropped the same way.
    Converter toMono;
    toMono.setChannelModeIndex(4);
    run = readWholeWav(toMono, canonicalWav(2, 11025, 8, data), 1152, 20000);
    expected = expectedCalls(9216, 2304, 1152);
    expected.push_back({0, 0});
    EXPECT_EQ(run.calls, expected);
    EXPECT_EQ(run.consumed, 9216u);
}

TEST(ReadFileChunk, BytesThatDoNotMakeAWholeSample) {
    // 16-bit data of odd size: the last call reads the odd byte and returns 0.
    Converter c;
    Bytes data = patternBytes(4609);
    FileRun run = readWholeWav(c, canonicalWav(2, 44100, 16, data), 2304, 4609);
    EXPECT_EQ(run.calls, (std::vector<Call>{{4608, 2304}, {1, 0}}));
    EXPECT_EQ(run.consumed, 4609u);

    // The header itself offers whole frames only.
    Converter fromHeader;
    run = readWholeWav(fromHeader, canonicalWav(2, 44100, 16, data), 2304);
    EXPECT_EQ(run.total, 4608u);
    EXPECT_EQ(run.calls, (std::vector<Call>{{4608, 2304}}));

    // Stereo to mono with half a frame left: it is read, not encoded.
    Converter toMono;
    toMono.setChannelModeIndex(4);
    run = readWholeWav(toMono, canonicalWav(2, 44100, 16, patternBytes(4608 + 6)), 1152,
                       4608 + 6);
    EXPECT_EQ(run.calls, (std::vector<Call>{{4608, 1152}, {6, 1}}));
    run = readWholeWav(toMono, canonicalWav(2, 44100, 16, patternBytes(4608 + 2)), 1152,
                       4608 + 2);
    EXPECT_EQ(run.calls, (std::vector<Call>{{4608, 1152}, {2, 0}}));
    EXPECT_EQ(run.consumed, 4610u);

    // A reader called again after the end reads nothing.
    Converter done;
    ScratchFolder scratch;
    HANDLE file = openForReading(scratch.write("a.wav", canonicalWav(2, 44100, 16, data)));
    BE_CONFIG config;
    DWORD total = 0;
    ASSERT_EQ(done.prepareEncoderConfig(&config, &total, file), 1);
    SHORT out[8];
    DWORD consumed = total;
    EXPECT_EQ(done.readFileChunk(file, &consumed, total, out, 4, &config), 0u);
    EXPECT_EQ(consumed, total);
    EXPECT_EQ(filePosition(file), 44u);
    CloseHandle(file);
}

TEST(ReadFileChunk, RealFilesReadToTheirEnd) {
    struct Case {
        const char* name;
        int modeIndex;
        DWORD values;
    };
    const Case cases[] = {
        {"sox-s16-stereo-44100.wav", 0, 8820},     {"sox-s16-stereo-44100.wav", 4, 4410},
        {"ffmpeg-s16-stereo-44100-list.wav", 0, 8820},
        {"ffmpeg-u8-mono-32000-list.wav", 1, 8820}, {"sox-u8-stereo-11025.wav", 4, 4410},
        {"ffmpeg-s16-stereo-96000-extensible.wav", 0, 8820},
        {"s16-stereo-44100-fmt18.wav", 0, 8820},
    };
    for (const Case& k : cases) {
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        FileRun run = readWholeWav(c, readWholeFile(testDataPath(k.name)), 1152);
        ASSERT_EQ(run.prepared, 1) << k.name;
        EXPECT_EQ(run.consumed, run.total) << k.name;
        EXPECT_EQ(run.values.size(), k.values) << k.name;
        EXPECT_NE(run.calls.back().count, 0u) << k.name;
    }

    // The first values handed over are the first samples of the data chunk.
    Bytes b = readWholeFile(testDataPath("ffmpeg-s16-stereo-44100-list.wav"));
    Converter c;
    FileRun run = readWholeWav(c, b, 1152);
    ASSERT_GE(run.values.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(run.values[i], (SHORT)(b[78 + 2 * i] | b[79 + 2 * i] << 8));
    }
}

TEST(ReadBufferChunk, CdAudioInMemory) {
    Bytes audio = patternBytes(176400, 5);
    Converter c;
    BE_CONFIG config;
    ASSERT_EQ(c.prepareEncoderConfig(&config, nullptr, nullptr), 1);
    std::vector<SHORT> out(2305);
    DWORD position = 0;
    std::vector<Call> calls;
    std::vector<SHORT> values;
    while (position < audio.size() && calls.size() < 1000) {
        out[2304] = 0x5A5A;
        DWORD before = position;
        DWORD count =
            c.readBufferChunk(audio.data(), &position, (DWORD)audio.size(), out.data(), 2304,
                              &config);
        EXPECT_EQ(out[2304], 0x5A5A);
        calls.push_back({position - before, count});
        values.insert(values.end(), out.begin(), out.begin() + count);
    }
    std::vector<Call> expected = expectedCalls(38 * 4608, 4608, 2304);
    expected.push_back({1296, 648});
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(position, 176400u);
    ASSERT_EQ(values.size(), 88200u);
    EXPECT_EQ(memcmp(values.data(), audio.data(), audio.size()), 0);
    EXPECT_EQ(c.readBufferChunk(audio.data(), &position, (DWORD)audio.size(), out.data(), 2304,
                                &config),
              0u);
    EXPECT_EQ(position, 176400u);

    // A mono MP3: 4n bytes a call, the halves of each frame added.
    Converter mono;
    mono.setChannelModeIndex(4);
    ASSERT_EQ(mono.prepareEncoderConfig(&config, nullptr, nullptr), 1);
    ASSERT_EQ(mono.convertChannels(), 1);
    position = 0;
    calls.clear();
    values.clear();
    while (position < audio.size() && calls.size() < 1000) {
        out[1152] = 0x5A5A;
        DWORD before = position;
        DWORD count = mono.readBufferChunk(audio.data(), &position, (DWORD)audio.size(),
                                           out.data(), 1152, &config);
        EXPECT_EQ(out[1152], 0x5A5A);
        calls.push_back({position - before, count});
        values.insert(values.end(), out.begin(), out.begin() + count);
    }
    expected = expectedCalls(38 * 4608, 4608, 1152);
    expected.push_back({1296, 324});
    EXPECT_EQ(calls, expected);
    ASSERT_EQ(values.size(), 44100u);
    for (size_t k = 0; k < values.size(); k++) {
        ASSERT_EQ(values[k], sample16(audio, 2 * k) / 2 + sample16(audio, 2 * k + 1) / 2) << k;
    }
}
