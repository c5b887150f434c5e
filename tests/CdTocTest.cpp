#include <gtest/gtest.h>

#include <string>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "tests/sim/SimMachine.h"

namespace {

// Inserts the disc in drive D and reads its TOC as the job does.
int readDiscToc(const SimDisc& disc, CDROM_TOC* toc) {
    simInsertDisc('D', disc);
    HANDLE drive = cdOpenVolume("\\\\.\\D:");
    int result = readToc(drive, toc);
    cdCloseVolume(drive);
    return result;
}

}  // namespace

TEST(CdToc, TracksAreNumberedByTheirPositionWhateverTheDiscCallsThem) {
    simReset();
    simAddDrive('D');
    CDROM_TOC toc;
    ASSERT_EQ(readDiscToc(simDisc(3, {300, 28, 1000}, 33), &toc), 1);
    EXPECT_EQ(toc.FirstTrack, 3);
    EXPECT_EQ(tocTrackCount(&toc), 3);
    const DWORD expected[3][2] = {{33, 333}, {333, 361}, {361, 1361}};
    for (int k = 0; k < 3; k++) {
        DWORD start = 0, end = 0;
        ASSERT_EQ(trackSectors(&toc, k, &start, &end), 1);
        EXPECT_EQ(start, expected[k][0]);
        EXPECT_EQ(end, expected[k][1]);
    }
    // Index 3 is the lead-out; neither it nor a negative index is a track.
    DWORD start, end;
    EXPECT_EQ(trackSectors(&toc, 3, &start, &end), 0);
    EXPECT_EQ(trackSectors(&toc, -1, &start, &end), 0);
    EXPECT_EQ(simOpenVolumes(), 0);
}

TEST(CdToc, MsfAddressesBecomeSectorsFromTheTwoSecondOffset) {
    const int cases[][4] = {{0, 2, 0, 0}, {0, 2, 74, 74}, {3, 27, 0, 15375}, {99, 59, 74, 449849}};
    for (const auto& k : cases) {
        TRACK_DATA entry = {};
        entry.Address[1] = (UCHAR)k[0];
        entry.Address[2] = (UCHAR)k[1];
        entry.Address[3] = (UCHAR)k[2];
        EXPECT_EQ(msfToSector(&entry), k[3]) << k[0] << ":" << k[1] << ":" << k[2];
    }
}

TEST(CdToc, AnswersThatCannotBeTrustedAreFailedTocs) {
    simReset();
    SimDrive* drive = simAddDrive('D');
    CDROM_TOC toc;
    HANDLE volume = cdOpenVolume("\\\\.\\D:");
    EXPECT_EQ(readToc(volume, &toc), 0) << "no disc";
    cdCloseVolume(volume);

    drive->tocFails = true;
    EXPECT_EQ(readDiscToc(simDisc(1, {100, 100}), &toc), 0) << "request refused";
    drive->tocFails = false;

    SimDisc backwards = simDisc(1, {100, 100, 100});
    simSetEntry(&backwards, 2, 0, 3, 0);
    SimDisc noTrack = simDisc(5, {100, 100});
    noTrack.lastTrack = 4;
    SimDisc lastBelowFirst = noTrack;
    lastBelowFirst.lastTrack = 2;
    std::vector<DWORD> lengths(99, 10);
    SimDisc hundred = simDisc(1, lengths);
    hundred.lastTrack = 100;
    SimDisc many = hundred;
    many.lastTrack = 255;
    SimDisc sixtySeconds = simDisc(1, {100, 100});
    simSetEntry(&sixtySeconds, 1, 0, 60, 0);
    SimDisc frames75 = simDisc(1, {100, 100});
    simSetEntry(&frames75, 1, 0, 3, 75);
    // Entries promised by the counts but missing from the answer.
    SimDisc cut = simDisc(1, {100, 100, 100});
    cut.entries.pop_back();
    const std::pair<const char*, SimDisc> bad[] = {
        {"addresses go backwards", backwards}, {"no track", noTrack},
        {"LastTrack below FirstTrack", lastBelowFirst}, {"100 tracks", hundred},
        {"255 tracks", many}, {"60 seconds", sixtySeconds}, {"75 frames", frames75},
        {"lead-out missing", cut},
    };
    for (const auto& k : bad) {
        EXPECT_EQ(readDiscToc(k.second, &toc), 0) << k.first;
    }

    ASSERT_EQ(readDiscToc(simDisc(1, lengths), &toc), 1) << "99 tracks fill the record";
    EXPECT_EQ(tocTrackCount(&toc), 99);
    DWORD start, end;
    EXPECT_EQ(trackSectors(&toc, 98, &start, &end), 1);
    EXPECT_EQ(end - start, 10u);
    EXPECT_EQ(simOpenVolumes(), 0);
}
