// The WAV header parser fed with damaged copies of the test files' headers.
#include <dirent.h>

#include <string>

#include "core/WavHeader.h"
#include "tests/native/FuzzRun.h"

static void fail(const char* what, size_t size) {
    fprintf(stderr, "WAV header of %zu bytes: %s\n", size, what);
    abort();
}

// What an accepted header promises the chunk readers.
static bool checkOne(const unsigned char* data, size_t size) {
    WavInfo info;
    if (parseWavBytes(data, size, &info) != WavUsable) {
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
    if (info.dataSize % (f.channels * bits / 8)) fail("partial frame", size);
    return true;
}
FUZZ_ENTRY(checkOne)

#ifndef CALBRUNE_LIBFUZZER
// The first 256 bytes of each WAV file of the test data.
int main(int argc, char** argv) {
    Seeds seeds;
    DIR* dir = opendir(CALBRUNE_TEST_DATA);
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        std::string name = entry->d_name;
        FILE* file = name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0
            ? fopen((CALBRUNE_TEST_DATA "/" + name).c_str(), "rb") : nullptr;
        if (file) {
            seeds.emplace_back(256);
            seeds.back().resize(fread(seeds.back().data(), 1, 256, file));
            fclose(file);
        }
    }
    if (dir) {
        closedir(dir);
    }
    return fuzzRun(argc, argv, "headers", seeds, 120, checkOne);
}
#endif
