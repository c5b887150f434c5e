// What the native fuzz drivers share outside libFuzzer: repeatable damage,
// their seeds written out as the libFuzzer targets' corpus, and the closing
// check that the seeds were read at all.
#pragma once

#include <stdio.h>
#include <string.h>

#include <vector>

typedef std::vector<std::vector<unsigned char>> Seeds;

// xorshift: the same damage on every run.
struct Damage {
    unsigned x = 2463534242u;
    unsigned operator()() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    }
};

// For "--seeds FOLDER", writes the seeds there and returns the exit code;
// otherwise -1.
inline int writeSeedsIfAsked(int argc, char** argv, const Seeds& seeds) {
    if (argc < 3 || strcmp(argv[1], "--seeds") != 0) {
        return -1;
    }
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

// Most damage spares what matters, so most inputs are still accepted: too
// few means that the seeds were not read.
inline int closeRun(const char* what, long rounds, long accepted) {
    printf("%ld damaged %s checked, %ld of them accepted\n", rounds, what, accepted);
    if (accepted < rounds / 20) {
        fprintf(stderr, "too few accepted: the seeds are not being read\n");
        return 1;
    }
    return 0;
}
