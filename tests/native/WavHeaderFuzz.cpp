// The WAV header parser fed with damaged copies of the test files, under the
// sanitizers. Built as a libFuzzer target too when the compiler offers it.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/WavHeader.h"
#include "tests/native/FuzzRun.h"

static void fail(const char* what, size_t size) {
    fprintf(stderr, "WAV header of %zu bytes: %s\n", size, what);
    abort();
}

// What an accepted header promises the chunk readers.
static bool checkOne(const uint8_t* data, size_t size) {
    // A buffer of exactly this size, so that the sanitizer sees any overread.
    uint8_t* copy = (uint8_t*)malloc(size ? size : 1);
    if (size) {
        memcpy(copy, data, size);
    }
    WavInfo info;
    WavStatus status = parseWavBytes(copy, size, &info);
    free(copy);
    if (status != WavUsable) {
        return false;
    }
    const WavFormat& f = info.format;
    uint16_t bits = f.bitsPerSample;
    if (f.formatTag != wavFormatPcm && f.formatTag != wavFormatFloat) fail("encoding", size);
    if (f.channels < 1 || f.channels > 2) fail("channel count", size);
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) fail("sample size", size);
    if (f.formatTag == wavFormatFloat && bits != 32) fail("float size", size);
    if (bits > 16 && f.blockAlign != f.channels * bits / 8) fail("block size", size);
    if (f.samplesPerSec < 8000 || f.samplesPerSec > 192000) fail("sample rate", size);
    if (info.dataOffset < 20 || info.dataOffset + info.dataSize > size) fail("data range", size);
    if (info.dataSize % (f.channels * f.bitsPerSample / 8)) fail("partial frame", size);
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkOne(data, size);
    return 0;
}

#ifndef CALBRUNE_LIBFUZZER
static Seeds loadSeeds(const char* folder) {
    Seeds seeds;
    DIR* dir = opendir(folder);
    if (!dir) {
        return seeds;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".wav") != 0) {
            continue;
        }
        FILE* file = fopen((std::string(folder) + "/" + name).c_str(), "rb");
        if (!file) {
            continue;
        }
        std::vector<uint8_t> bytes(256);
        bytes.resize(fread(bytes.data(), 1, bytes.size(), file));
        fclose(file);
        seeds.push_back(bytes);
    }
    closedir(dir);
    return seeds;
}

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : CALBRUNE_TEST_DATA;
    long rounds = argc > 2 ? atol(argv[2]) : 200000;
    Seeds seeds = loadSeeds(folder);
    if (seeds.empty()) {
        fprintf(stderr, "no WAV files in %s\n", folder);
        return 1;
    }
    Damage next;
    long usable = 0;
    for (long round = 0; round < rounds; round++) {
        std::vector<uint8_t> b = seeds[next() % seeds.size()];
        int changes = 1 + next() % 6;
        for (int i = 0; i < changes && !b.empty(); i++) {
            size_t at = next() % (b.size() < 120 ? b.size() : 120);
            switch (next() % 4) {
            case 0: b[at] = (uint8_t)next(); break;
            case 1: b[at] ^= (uint8_t)(1u << (next() % 8)); break;
            case 2: b[at] = (next() & 1) ? 0xFF : 0x00; break;
            default: b.erase(b.begin() + at); break;
            }
        }
        size_t size = next() % 3 == 0 ? next() % (b.size() + 1) : b.size();
        usable += checkOne(b.data(), size);
    }
    return closeRun("headers", rounds, usable);
}
#endif
