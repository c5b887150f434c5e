#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/Converter.h"
#include "tests/sim/SimMachine.h"

namespace {

typedef std::vector<DWORD> Sizes;

// What the progress callback saw: R after each request, and the flags.
struct Progress {
    Sizes bytes;
    int firstFlags = 0;
    int lastFlags = 0;
    bool firstWasFirst = false;
};

void onProgress(void* context, DWORD bytesRead, bool firstRequest, bool lastRequest) {
    Progress* p = (Progress*)context;
    if (firstRequest) {
        p->firstFlags++;
        p->firstWasFirst = p->bytes.empty();
    }
    p->lastFlags += lastRequest;
    p->bytes.push_back(bytesRead);
}

class CdRead : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        drive = simAddDrive('D');
        c.setJobRunning(1);
    }
    void TearDown() override { EXPECT_EQ(simTrackBuffers(), 0); }

    // Reads track k of the disc in D after its TOC, as the job does.
    int read(int k, TrackAudio* audio, Progress* progress = nullptr) {
        HANDLE volume = cdOpenVolume("\\\\.\\D:");
        CDROM_TOC toc;
        EXPECT_EQ(readToc(volume, &toc), 1);
        drive->reads.clear();
        int ok = readTrackAudio(volume, &toc, k, &c, audio, progress ? onProgress : nullptr,
                                progress);
        cdCloseVolume(volume);
        return ok;
    }

    // Checks the request sizes, the outcome, and that the buffer holds the
    // track's first `sectors` sectors; then releases it.
    void expectRead(int k, TrackReadResult result, const Sizes& requests, DWORD sectors,
                    Progress* progress = nullptr) {
        TrackAudio audio;
        int ok = read(k, &audio, progress);
        EXPECT_EQ(ok, result == TrackReadComplete);
        EXPECT_EQ(audio.result, result);
        Sizes sizes;
        for (const SimRawRead& r : drive->reads) {
            sizes.push_back(r.sectorCount);
            EXPECT_EQ(r.trackMode, (DWORD)CDDA);
            EXPECT_EQ(r.outputSize, r.sectorCount * 2352);
        }
        EXPECT_EQ(sizes, requests);
        EXPECT_EQ(audio.bytesRead, sectors * 2352);
        if (result != TrackReadNoMemory) {
            EXPECT_EQ(audio.stopSector, audio.startSector + sectors);
            std::vector<BYTE> expected = simTrackAudio(drive->disc, k);
            EXPECT_TRUE(audio.bytesRead <= expected.size() &&
                        memcmp(audio.buffer, expected.data(), audio.bytesRead) == 0);
        } else {
            EXPECT_EQ(audio.buffer, nullptr);
        }
        releaseTrackAudio(&audio);
    }

    Converter c;
    SimDrive* drive;
};

void cancelAfterRead(SimDrive* drive, Converter* c, int count) {
    drive->afterRead = [c, count](int done) {
        if (done == count) {
            c->setJobRunning(0);
        }
    };
}

}  // namespace

TEST_F(CdRead, TheTailIsReadInEverSmallerRequests) {
    simInsertDisc('D', simDisc(1, {27, 28, 100}, 10));
    Progress one;
    expectRead(0, TrackReadComplete, {27}, 27, &one);
    EXPECT_EQ(drive->reads[0].diskOffset, 10 * 2048);
    EXPECT_EQ(one.bytes, Sizes({27 * 2352}));
    EXPECT_EQ(one.firstFlags + one.lastFlags, 2);

    expectRead(1, TrackReadComplete, {27, 1}, 28);
    EXPECT_EQ(drive->reads[0].diskOffset, 37 * 2048);
    EXPECT_EQ(drive->reads[1].diskOffset, 64 * 2048);

    Progress steps;
    expectRead(2, TrackReadComplete, {27, 27, 27, 13, 6}, 100, &steps);
    EXPECT_EQ(steps.bytes, Sizes({27 * 2352, 54 * 2352, 81 * 2352, 94 * 2352, 100 * 2352}));
    EXPECT_TRUE(steps.firstWasFirst);
    EXPECT_EQ(steps.firstFlags, 1);
    EXPECT_EQ(steps.lastFlags, 1);
}

TEST_F(CdRead, AFailedOrShortRequestKeepsTheSectorsBeforeIt) {
    simInsertDisc('D', simDisc(1, {200, 50}));
    // The fourth request of 27 covers sector 100 and fails.
    drive->failReadAt = 100;
    Progress progress;
    expectRead(0, TrackReadFailed, {27, 27, 27, 27}, 81, &progress);
    EXPECT_EQ(progress.lastFlags, 0);
    expectRead(1, TrackReadComplete, {27, 13, 6, 3, 1}, 50);

    drive->failReadAt = -1;
    drive->shortReadAt = 60;
    expectRead(0, TrackReadFailed, {27, 27, 27}, 60);
}

TEST_F(CdRead, ADataTrackThatTheDriveRefusesGivesNothing) {
    SimDisc mixed = simDisc(1, {300, 40});
    mixed.entries[0].data = true;
    simInsertDisc('D', mixed);
    drive->refusesDataTracks = true;
    expectRead(0, TrackReadFailed, {27}, 0);
    expectRead(1, TrackReadComplete, {27, 13}, 40);
    // A drive that accepts it reads it like audio.
    drive->refusesDataTracks = false;
    expectRead(0, TrackReadComplete, {27, 27, 27, 27, 27, 27, 27, 27, 27, 27, 27, 3}, 300);
}

TEST_F(CdRead, ACancelStopsBeforeTheNextRequest) {
    simInsertDisc('D', simDisc(1, {100}));
    cancelAfterRead(drive, &c, 2);
    expectRead(0, TrackReadCancelled, {27, 27}, 54);
    // A cancel during the last request of the tail still leaves a whole track.
    c.setJobRunning(1);
    cancelAfterRead(drive, &c, 5);
    expectRead(0, TrackReadComplete, {27, 27, 27, 13, 6}, 100);
    drive->afterRead = nullptr;
    expectRead(0, TrackReadCancelled, {}, 0);
}

TEST_F(CdRead, TracksNotOnTheDiscOrTooLargeForMemoryReadNothing) {
    simInsertDisc('D', simDisc(1, {100, 100}));
    for (int k : {2, -1}) {
        TrackAudio audio;
        EXPECT_EQ(read(k, &audio), 0);
        EXPECT_EQ(audio.result, TrackReadFailed);
        EXPECT_EQ(audio.buffer, nullptr);
        EXPECT_TRUE(drive->reads.empty());
    }
    simSetMemoryLimit(100 * 2352 - 1);
    expectRead(1, TrackReadNoMemory, {}, 0);
}
