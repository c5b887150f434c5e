// The readers of outside input, built natively under the sanitizers: the WAV
// header parser (FUZZ_WAV) or the check of a drive's table of contents. Each
// accepted input is checked against what the rest of the program takes for
// granted. Outside libFuzzer: repeatable damage to real inputs, each checked
// from a buffer of exactly its size, so that the sanitizers see any overread;
// "--seeds FOLDER" writes the seeds out as the libFuzzer target's corpus.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdrom/TocCheck.h"
#include "core/WavHeader.h"

typedef std::vector<unsigned char> Bytes;

static bool broken(const char* what, size_t size) {
    fprintf(stderr, "accepted an input of %zu bytes with %s\n", size, what);
    abort();
}

#ifdef FUZZ_WAV
static bool checkOne(const unsigned char* data, size_t size) {
    WavInfo info;
    if (parseWavBytes(data, size, &info) != WavUsable) {
        return false;
    }
    const WavFormat& f = info.format;
    uint16_t bits = f.bitsPerSample;
    return ((f.formatTag == wavFormatPcm || f.formatTag == wavFormatFloat) || broken("an encoding", size)) &&
           ((f.channels >= 1 && f.channels <= 2) || broken("a channel count", size)) &&
           ((bits == 8 || bits == 16 || bits == 24 || bits == 32) || broken("a sample size", size)) &&
           ((f.formatTag != wavFormatFloat || bits == 32) || broken("a float size", size)) &&
           ((bits <= 16 || f.blockAlign == f.channels * bits / 8) || broken("a block size", size)) &&
           ((f.samplesPerSec >= 8000 && f.samplesPerSec <= 192000) || broken("a sample rate", size)) &&
           ((info.dataOffset >= 20 && info.dataOffset + info.dataSize <= size) || broken("a data range", size)) &&
           (info.dataSize % (f.channels * bits / 8) == 0 || broken("a partial frame", size));
}

// The first 256 bytes of each WAV file of the test data.
static std::vector<Bytes> seeds() {
    std::vector<Bytes> found;
    DIR* dir = opendir(CALBRUNE_TEST_DATA);
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        std::string name = entry->d_name;
        FILE* file = name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0
            ? fopen((CALBRUNE_TEST_DATA "/" + name).c_str(), "rb") : nullptr;
        if (file) {
            found.emplace_back(256);
            found.back().resize(fread(found.back().data(), 1, 256, file));
            fclose(file);
        }
    }
    dir ? closedir(dir) : 0;
    return found;
}
static const size_t span = 120;  // how far into an input the damage reaches
#else
// An accepted answer gives the CD job tracks whose sectors it can take from
// consecutive entries without a check of its own.
static bool checkOne(const unsigned char* data, size_t size) {
    if (!tocAnswerUsable(data, size)) {
        return false;
    }
    int count = data[3] - data[2] + 1;
    if (count < 1 || count > tocMaxTracks || size < tocHeadBytes + (count + 1) * tocEntryBytes) {
        broken("too few entries", size);
    }
    for (int k = 0; k < count; k++) {
        (tocEntrySector(data, k) >= 0 && tocEntrySector(data, k + 1) > tocEntrySector(data, k)) ||
            broken("a track of no sectors", size);
    }
    return true;
}

// Answers for discs whose tracks have these lengths in sectors.
static std::vector<Bytes> seeds() {
    std::vector<Bytes> found;
    for (std::vector<long> lengths : {std::vector<long>{16000, 22000, 18500, 30000, 9000, 26000, 21000},
                                      std::vector<long>(99, 3000), std::vector<long>{300, 200}, std::vector<long>{359999}}) {
        Bytes b(tocHeadBytes + (lengths.size() + 1) * tocEntryBytes);
        int first = lengths.size() == 2 ? 3 : 1;
        b[2] = (unsigned char)first;
        b[3] = (unsigned char)(first + lengths.size() - 1);
        for (size_t k = 0, frames = 150; k <= lengths.size(); frames += k < lengths.size() ? lengths[k] : 0, k++) {
            unsigned char* entry = &b[tocHeadBytes + k * tocEntryBytes];
            entry[2] = (unsigned char)(k < lengths.size() ? first + k : 0xAA);
            entry[5] = (unsigned char)(frames / 4500), entry[6] = (unsigned char)(frames / 75 % 60);
            entry[7] = (unsigned char)(frames % 75);
        }
        found.push_back(b);
    }
    return found;
}
static const size_t span = tocAnswerBytes;
#endif

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    checkOne(data, size);
    return 0;
}

#ifndef CALBRUNE_LIBFUZZER
int main(int argc, char** argv) {
    std::vector<Bytes> inputs = seeds();
    if (argc > 2 && strcmp(argv[1], "--seeds") == 0) {
        for (size_t i = 0; i < inputs.size(); i++) {
            FILE* file = fopen((std::string(argv[2]) + "/seed" + std::to_string(i)).c_str(), "wb");
            if (!file || fwrite(inputs[i].data(), 1, inputs[i].size(), file) != inputs[i].size() || fclose(file)) {
                return 1;
            }
        }
        return 0;
    }
    long rounds = argc > 1 ? atol(argv[1]) : 200000, accepted = 0;
    unsigned x = 2463534242u;  // xorshift: the same damage on every run
    auto next = [&x] { return x ^= x << 13, x ^= x >> 17, x ^= x << 5; };
    for (long round = 0; round < rounds && !inputs.empty(); round++) {
        Bytes b = inputs[next() % inputs.size()];
        for (int i = 0, changes = 1 + next() % 4; i < changes && !b.empty(); i++) {
            size_t at = next() % (b.size() < span ? b.size() : span);
            switch (next() % 4) {
            case 0: b[at] = (unsigned char)next(); break;
            case 1: b[at] ^= (unsigned char)(1u << next() % 8); break;
            case 2: b[at] = next() & 1 ? 0xFF : 0; break;
            default: b.erase(b.begin() + at); break;
            }
        }
        if (next() % 4 == 0) {  // cut short, or run on into garbage
            b.resize(next() % (b.size() + 64), (unsigned char)next());
        }
        unsigned char* exact = (unsigned char*)malloc(b.size() + !b.size());
        memcpy(exact, b.data(), b.size());
        accepted += checkOne(exact, b.size());
        free(exact);
    }
    // Most damage spares what matters: too few accepted means the seeds were not read.
    printf("%ld damaged inputs checked, %ld of them accepted\n", rounds, accepted);
    return accepted < rounds / 20 ? fprintf(stderr, "too few accepted\n"), 1 : 0;
}
#endif
