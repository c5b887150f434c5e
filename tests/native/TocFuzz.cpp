// The check of a drive's table-of-contents answer fed with damaged copies of
// real answers, under the sanitizers. Built as a libFuzzer target too when
// the compiler offers it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "cdrom/TocCheck.h"
#include "tests/native/FuzzRun.h"

// What an accepted answer promises the CD job: tracks whose sectors it can
// take from consecutive entries without a check of its own.
static bool checkOne(const unsigned char* data, size_t size) {
    // A buffer of exactly this size, so that the sanitizer sees any overread.
    unsigned char* copy = (unsigned char*)malloc(size ? size : 1);
    if (size) {
        memcpy(copy, data, size);
    }
    bool usable = tocAnswerUsable(copy, size) != 0;
    if (usable) {
        int count = copy[3] - copy[2] + 1;
        if (count < 1 || count > tocMaxTracks || size < tocHeadBytes + (count + 1) * tocEntryBytes) {
            fprintf(stderr, "accepted %zu bytes with %d tracks\n", size, count);
            abort();
        }
        for (int k = 0; k < count; k++) {
            if (tocEntrySector(copy, k) < 0 || tocEntrySector(copy, k + 1) <= tocEntrySector(copy, k)) {
                fprintf(stderr, "accepted track %d with no sectors\n", k);
                abort();
            }
        }
    }
    free(copy);
    return usable;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    checkOne(data, size);
    return 0;
}

#ifndef CALBRUNE_LIBFUZZER
// The answer for a disc whose tracks have these lengths in sectors.
static std::vector<unsigned char> answer(int firstTrack, const std::vector<long>& lengths) {
    std::vector<unsigned char> bytes(tocHeadBytes + (lengths.size() + 1) * tocEntryBytes);
    bytes[2] = (unsigned char)firstTrack;
    bytes[3] = (unsigned char)(firstTrack + lengths.size() - 1);
    long sector = 0;
    for (size_t k = 0; k <= lengths.size(); k++) {
        unsigned char* entry = &bytes[tocHeadBytes + k * tocEntryBytes];
        entry[2] = (unsigned char)(k < lengths.size() ? firstTrack + k : 0xAA);
        long frames = sector + 150;
        entry[5] = (unsigned char)(frames / 4500);
        entry[6] = (unsigned char)(frames / 75 % 60);
        entry[7] = (unsigned char)(frames % 75);
        sector += k < lengths.size() ? lengths[k] : 0;
    }
    return bytes;
}

int main(int argc, char** argv) {
    Seeds seeds = {
        answer(1, {16000, 22000, 18500, 30000, 12000, 9000, 26000, 21000, 17000, 15000, 24000}),
        answer(3, {300, 200}),
        answer(1, std::vector<long>(99, 3000)),
        answer(1, {359999}),
    };
    int written = writeSeedsIfAsked(argc, argv, seeds);
    if (written >= 0) {
        return written;
    }
    long rounds = argc > 1 ? atol(argv[1]) : 200000;
    Damage next;
    long usable = 0;
    for (long round = 0; round < rounds; round++) {
        std::vector<unsigned char> b = seeds[next() % seeds.size()];
        for (int i = 0, changes = 1 + next() % 4; i < changes; i++) {
            size_t at = next() % b.size();
            switch (next() % 3) {
            case 0: b[at] = (unsigned char)next(); break;
            case 1: b[at] ^= (unsigned char)(1u << (next() % 8)); break;
            default: b[at] = (next() & 1) ? 0xFF : 0x00; break;
            }
        }
        size_t size = next() % 4 == 0 ? next() % (tocAnswerBytes + 1) : b.size();
        if (size > b.size()) {
            b.resize(size, (unsigned char)next());
        }
        usable += checkOne(b.data(), size);
    }
    return closeRun("answers", rounds, usable);
}
#endif
