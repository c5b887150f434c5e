// The check of a drive's table-of-contents answer fed with damaged copies of
// real answers.
#include "cdrom/TocCheck.h"
#include "tests/native/FuzzRun.h"

// What an accepted answer promises the CD job: tracks whose sectors it can
// take from consecutive entries without a check of its own.
static bool checkOne(const unsigned char* data, size_t size) {
    if (!tocAnswerUsable(data, size)) {
        return false;
    }
    int count = data[3] - data[2] + 1;
    if (count < 1 || count > tocMaxTracks || size < tocHeadBytes + (count + 1) * tocEntryBytes) {
        fprintf(stderr, "accepted %zu bytes with %d tracks\n", size, count);
        abort();
    }
    for (int k = 0; k < count; k++) {
        if (tocEntrySector(data, k) < 0 || tocEntrySector(data, k + 1) <= tocEntrySector(data, k)) {
            fprintf(stderr, "accepted track %d with no sectors\n", k);
            abort();
        }
    }
    return true;
}
FUZZ_ENTRY(checkOne)

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
        answer(3, {300, 200}), answer(1, std::vector<long>(99, 3000)), answer(1, {359999})};
    return fuzzRun(argc, argv, "answers", seeds, tocAnswerBytes, checkOne);
}
#endif
