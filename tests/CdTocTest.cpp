#include <gtest/gtest.h>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "tests/sim/SimMachine.h"

namespace {

// Reads the TOC of the disc in drive D as the job does.
int readDiscToc(CDROM_TOC* toc) {
    HANDLE drive = cdOpenVolume("\\\\.\\D:");
    if (drive == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int result = readToc(drive, toc);
    cdCloseVolume(drive);
    return result;
}

}  // namespace

TEST(CdToc, TracksAreNumberedByTheirPositionWhateverTheDiscCallsThem) {
    simReset();
    simAddDrive('D');
    simInsertDisc('D', simDisc(3, {300, 28, 1000}, 33));
    CDROM_TOC toc;
    ASSERT_EQ(readDiscToc(&toc), 1);
    EXPECT_EQ(simOpenVolumes(), 0);
    EXPECT_EQ(toc.FirstTrack, 3);
    EXPECT_EQ(tocTrackCount(&toc), 3);

    DWORD start = 0, end = 0;
    ASSERT_EQ(trackSectors(&toc, 0, &start, &end), 1);
    EXPECT_EQ(start, 33u);
    EXPECT_EQ(end, 333u);
    ASSERT_EQ(trackSectors(&toc, 1, &start, &end), 1);
    EXPECT_EQ(end - start, 28u);
    ASSERT_EQ(trackSectors(&toc, 2, &start, &end), 1);
    EXPECT_EQ(start, 361u);
    EXPECT_EQ(end, 1361u);
    // Index 3 is the lead-out; neither it nor a negative index is a track.
    EXPECT_EQ(trackSectors(&toc, 3, &start, &end), 0);
    EXPECT_EQ(trackSectors(&toc, -1, &start, &end), 0);
}

TEST(CdToc, MsfAddressesBecomeSectorsFromTheTwoSecondOffset) {
    TRACK_DATA entry = {};
    entry.Address[1] = 0;
    entry.Address[2] = 2;
    entry.Address[3] = 0;
    EXPECT_EQ(msfToSector(&entry), 0);
    entry.Address[2] = 2;
    entry.Address[3] = 74;
    EXPECT_EQ(msfToSector(&entry), 74);
    entry.Address[1] = 3;
    entry.Address[2] = 27;
    entry.Address[3] = 0;
    EXPECT_EQ(msfToSector(&entry), 15375);
    entry.Address[1] = 99;
    entry.Address[2] = 59;
    entry.Address[3] = 74;
    EXPECT_EQ(msfToSector(&entry), 449849);
}

TEST(CdToc, AnswersThatCannotBeTrustedAreFailedTocs) {
    simReset();
    simAddDrive('D');
    CDROM_TOC toc;
    EXPECT_EQ(readDiscToc(&toc), 0) << "no disc";

    simInsertDisc('D', simDisc(1, {100, 100}));
    simDrive('D')->tocFails = true;
    EXPECT_EQ(readDiscToc(&toc), 0) << "request refused";
    simDrive('D')->tocFails = false;
    ASSERT_EQ(readDiscToc(&toc), 1);

    SimDisc backwards = simDisc(1, {100, 100, 100});
    simSetEntry(&backwards, 2, 0, 3, 0);
    simInsertDisc('D', backwards);
    EXPECT_EQ(readDiscToc(&toc), 0) << "addresses go backwards";

    SimDisc lastBelowFirst = simDisc(5, {100, 100});
    lastBelowFirst.lastTrack = 4;
    simInsertDisc('D', lastBelowFirst);
    EXPECT_EQ(readDiscToc(&toc), 0) << "no track";
    lastBelowFirst.lastTrack = 2;
    simInsertDisc('D', lastBelowFirst);
    EXPECT_EQ(readDiscToc(&toc), 0) << "LastTrack below FirstTrack";
    EXPECT_EQ(tocTrackCount(&toc), 0);

    std::vector<DWORD> lengths(99, 10);
    simInsertDisc('D', simDisc(1, lengths));
    ASSERT_EQ(readDiscToc(&toc), 1) << "99 tracks fill the record";
    EXPECT_EQ(tocTrackCount(&toc), 99);
    DWORD start, end;
    EXPECT_EQ(trackSectors(&toc, 98, &start, &end), 1);
    EXPECT_EQ(end - start, 10u);

    SimDisc tooMany = simDisc(1, lengths);
    tooMany.lastTrack = 100;
    simInsertDisc('D', tooMany);
    EXPECT_EQ(readDiscToc(&toc), 0) << "100 tracks";
    tooMany.firstTrack = 1;
    tooMany.lastTrack = 255;
    simInsertDisc('D', tooMany);
    EXPECT_EQ(readDiscToc(&toc), 0) << "255 tracks";

    SimDisc notMsf = simDisc(1, {100, 100});
    simSetEntry(&notMsf, 1, 0, 60, 0);
    simInsertDisc('D', notMsf);
    EXPECT_EQ(readDiscToc(&toc), 0) << "60 seconds";
    simSetEntry(&notMsf, 1, 0, 3, 75);
    simInsertDisc('D', notMsf);
    EXPECT_EQ(readDiscToc(&toc), 0) << "75 frames";

    // Entries promised by the counts but missing from the answer.
    SimDisc cut = simDisc(1, {100, 100, 100});
    cut.entries.pop_back();
    simInsertDisc('D', cut);
    EXPECT_EQ(readDiscToc(&toc), 0) << "lead-out missing";
    EXPECT_EQ(simOpenVolumes(), 0);
}
