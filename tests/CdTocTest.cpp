#include <gtest/gtest.h>

#include <vector>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "tests/sim/SimMachine.h"

// Reads the TOC of `disc` in drive D as the job does, the answer's last
// `cut` bytes left out.
static int readDiscToc(const SimDisc& disc, CDROM_TOC* toc, DWORD cut = 0) {
    simReset();
    simAddDrive('D')->tocCut = cut;
    simInsertDisc('D', disc);
    HANDLE volume = cdOpenVolume("\\\\.\\D:");
    int result = readToc(volume, toc);
    cdCloseVolume(volume);
    return result;
}

TEST(CdToc, AnswersThatCannotBeTrustedAreRefused) {
    auto withEntry = [](SimDisc disc, int k, SimEntry entry) {
        disc.entries[k] = entry;
        return disc;
    };
    auto withLast = [](SimDisc disc, int lastTrack) {
        disc.lastTrack = lastTrack;
        return disc;
    };
    // Entries at 0:02:00, 0:03:25 and 0:04:50.
    SimDisc two = simDisc(1, {100, 100}), ninetyNine = simDisc(1, std::vector<DWORD>(99, 10));
    struct Case {
        const char* what;
        SimDisc disc;
        DWORD cut;
        int usable;
    };
    const Case cases[] = {
        {"no disc", SimDisc(), 0, 0},
        {"addresses go backwards", withEntry(two, 2, {0, 3, 0}), 0, 0},
        {"60 seconds", withEntry(two, 2, {0, 60, 0}), 0, 0},
        {"75 frames", withEntry(two, 2, {0, 4, 75}), 0, 0},
        {"no track", withLast(two, 0), 0, 0},
        {"100 tracks", withLast(ninetyNine, 100), 0, 0},
        {"lead-out not in the answer", two, 8, 0},
        {"99 tracks", ninetyNine, 0, 1},
        {"two tracks", two, 0, 1},
    };
    for (const Case& k : cases) {
        CDROM_TOC toc;
        EXPECT_EQ(readDiscToc(k.disc, &toc, k.cut), k.usable) << k.what;
    }
}
