#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tests/WavTestFiles.h"

typedef std::vector<SHORT> Shorts;
// Each call of a reader: the bytes it took and the values it gave.
typedef std::vector<std::pair<DWORD, DWORD>> Calls;

// Calls `read` until `total` bytes are taken or it gives nothing; a marker
// after the chunk shows a reader that writes too much.
template <typename Read>
static Calls drain(DWORD total, DWORD n, Shorts* values, Read read) {
    Calls calls;
    Shorts out(n + 1);
    for (DWORD taken = 0; taken < total && calls.size() < 100;) {
        out[n] = 0x5A5A;
        DWORD before = taken, count = read(&taken, out.data());
        EXPECT_EQ(out[n], 0x5A5A);
        calls.push_back({taken - before, count});
        values->insert(values->end(), out.begin(), out.begin() + std::min(count, n));
        if (count == 0) {
            break;
        }
    }
    return calls;
}

// Each file holds `unit` repeated to `size` bytes, which reads as `values`
// repeated: how much each call of the file and memory readers takes, and
// which conversion it makes; the caller may believe in more bytes than the file holds.
TEST(ChunkReader, EachInputTakesWholeSamplesAndConvertsThem) {
    struct Case {
        uint16_t tag, channels, bits, modeIndex;
        DWORD n;
        Bytes unit;
        Shorts values;
        DWORD size, total;
        Calls calls;
    };
    const Case cases[] = {
        {1, 2, 16, 0, 2304, {1, 0, 0xFE, 0xFF}, {1, -2}, 4672, 4672, {{4608, 2304}, {64, 32}}},
        {1, 2, 16, 0, 2304, {1, 0, 0xFE, 0xFF}, {1, -2}, 4608, 9216, {{4608, 2304}, {0, 0}}},
        // To mono, half a frame at the end is read and dropped.
        {1, 2, 16, 4, 1152, {3, 0, 3, 0, 0xFD, 0xFF, 0xFD, 0xFF}, {2, -2}, 4618, 4618,
         {{4608, 1152}, {10, 2}}},
        {1, 1, 16, 1, 2304, {5, 0, 0xFB, 0xFF}, {5, 5, -5, -5}, 2308, 2308, {{2304, 2304}, {4, 4}}},
        {1, 1, 8, 0, 1152, {0, 255, 128}, {-32768, 32512, 0}, 1155, 1155, {{1152, 1152}, {3, 3}}},
        {1, 2, 8, 4, 1152, {0, 1, 255, 254}, {-32640, 32384}, 2308, 2308, {{2304, 1152}, {4, 2}}},
        {1, 1, 8, 2, 2304, {0, 255}, {-32768, -32768, 32512, 32512}, 1154, 1154,
         {{1152, 2304}, {2, 4}}},
        // A part sample at the end is read and dropped.
        {1, 2, 24, 0, 2304, {0x56, 0x34, 0x12, 0xAA, 0xCB, 0xED}, {4660, -4660}, 6920, 6920,
         {{6912, 2304}, {8, 2}}},
        {1, 2, 24, 4, 1152, {0xFF, 0xFF, 0x7F, 0x80, 0x01, 0x00}, {16384}, 6918, 6918,
         {{6912, 1152}, {6, 1}}},
        {1, 1, 32, 3, 2304, {0x78, 0x56, 0x34, 0x12}, {4660, 4660}, 4612, 4612,
         {{4608, 2304}, {4, 2}}},
        {3, 2, 32, 4, 1152, {0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3E}, {20479}, 9224, 9224,
         {{9216, 1152}, {8, 1}}},
        {3, 2, 32, 4, 1152, {0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3E}, {20479}, 9216, 9224,
         {{9216, 1152}, {0, 0}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(&k - cases);
        Bytes data(k.size);
        for (size_t i = 0; i < k.size; i++) {
            data[i] = k.unit[i % k.unit.size()];
        }
        TempFolder folder;
        Converter c;
        c.setChannelModeIndex(k.modeIndex);
        HANDLE file = nullptr;
        Bytes wav = wavOf(formatBody(k.tag, k.channels, 44100, k.bits), data);
        Prepared p = prepare(c, writeBytes(folder, "in.wav", wav), &file);
        ASSERT_EQ(p.result, 1);
        Shorts values;
        EXPECT_EQ(drain(k.total, k.n, &values, [&](DWORD* taken, SHORT* out) {
                      return c.readFileChunk(file, taken, k.total, out, k.n, &p.config);
                  }), k.calls);
        CloseHandle(file);
        for (size_t i = 0; i < values.size(); i++) {
            ASSERT_EQ(values[i], k.values[i % k.values.size()]) << i;
        }
        if (k.total == k.size) {
            Shorts fromMemory;
            EXPECT_EQ(drain(k.total, k.n, &fromMemory, [&](DWORD* at, SHORT* out) {
                          return c.readBufferChunk(data.data(), at, k.total, out, k.n, &p.config);
                      }), k.calls);
            EXPECT_EQ(fromMemory, values);
        }
    }
}
