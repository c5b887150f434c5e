// The native fuzz drivers' shared run outside libFuzzer: repeatable damage to
// the seeds, each damaged input checked from a buffer of exactly its size (so
// that the sanitizers see any overread), and "--seeds FOLDER" writing the
// seeds out as the libFuzzer targets' corpus.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

typedef std::vector<std::vector<unsigned char>> Seeds;

// `span`: how far into an input the damage reaches.
inline int fuzzRun(int argc, char** argv, const char* what, const Seeds& seeds, size_t span,
                   bool (*check)(const unsigned char*, size_t)) {
    if (argc > 2 && strcmp(argv[1], "--seeds") == 0) {
        for (size_t i = 0; i < seeds.size(); i++) {
            char path[4096];
            snprintf(path, sizeof path, "%s/seed%zu", argv[2], i);
            FILE* file = fopen(path, "wb");
            if (!file || fwrite(seeds[i].data(), 1, seeds[i].size(), file) != seeds[i].size()) {
                return 1;
            }
            fclose(file);
        }
        return 0;
    }
    long rounds = argc > 1 ? atol(argv[1]) : 200000, accepted = 0;
    unsigned x = 2463534242u;  // xorshift: the same damage on every run
    auto next = [&x] { return x ^= x << 13, x ^= x >> 17, x ^= x << 5; };
    for (long round = 0; round < rounds && !seeds.empty(); round++) {
        std::vector<unsigned char> b = seeds[next() % seeds.size()];
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
        accepted += check(exact, b.size());
        free(exact);
    }
    // Most damage spares what matters: too few accepted means the seeds were not read.
    printf("%ld damaged %s checked, %ld of them accepted\n", rounds, what, accepted);
    return accepted < rounds / 20 ? fprintf(stderr, "too few accepted\n"), 1 : 0;
}

#define FUZZ_ENTRY(check)                                                         \
    extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) { \
        check(data, size);                                                       \
        return 0;                                                                \
    }
