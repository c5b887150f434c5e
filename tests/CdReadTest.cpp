#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/Converter.h"
#include "tests/sim/SimMachine.h"

// What the progress callback saw; firstFlags is 1 when only the first call has the flag.
struct Progress {
    DWORD bytes = 0;
    int calls = 0, firstFlags = 0, lastFlags = 0;
};

static void onProgress(void* context, DWORD bytesRead, bool firstRequest, bool lastRequest) {
    Progress* p = (Progress*)context;
    p->calls++;
    p->firstFlags += firstRequest ? p->calls : 0;
    p->lastFlags += lastRequest;
    p->bytes = bytesRead;
}

// Tracks 3 to 6 at sectors 10, 37, 65 and 165 to 365, read by their position
// on the disc as the CD job reads them.
TEST(CdRead, RequestsOf27SectorsThenEverSmallerOnesUpToAFaultOrACancel) {
    const SimDisc disc = simDisc(3, {27, 28, 100, 200}, 10);
    struct Case {
        int k;
        LONG failAt, shortAt;
        int cancelAfter;  // requests; 0: cancelled before the first, -1: never
        SIZE_T memoryLimit;
        TrackReadResult result;
        std::vector<DWORD> requests;
        DWORD sectors;
    };
    const Case cases[] = {
        {0, -1, -1, -1, 0, TrackReadComplete, {27}, 27},
        {1, -1, -1, -1, 0, TrackReadComplete, {27, 1}, 28},
        {2, -1, -1, -1, 0, TrackReadComplete, {27, 27, 27, 13, 6}, 100},
        // The fourth request covers sector 265 and fails; a short answer at
        // sector 225 keeps the whole sectors before it.
        {3, 265, -1, -1, 0, TrackReadFailed, {27, 27, 27, 27}, 81},
        {3, -1, 225, -1, 0, TrackReadFailed, {27, 27, 27}, 60},
        {2, -1, -1, 2, 0, TrackReadCancelled, {27, 27}, 54},
        {2, -1, -1, 0, 0, TrackReadCancelled, {}, 0},
        // A cancel during the last request still leaves a whole track.
        {2, -1, -1, 5, 0, TrackReadComplete, {27, 27, 27, 13, 6}, 100},
        {2, -1, -1, -1, 100 * 2352 - 1, TrackReadNoMemory, {}, 0},
        {4, -1, -1, -1, 0, TrackReadFailed, {}, 0},
        {-1, -1, -1, -1, 0, TrackReadFailed, {}, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(&k - cases);
        simReset();
        SimDrive* drive = simAddDrive('D');
        simInsertDisc('D', disc);
        simSetMemoryLimit(k.memoryLimit);
        drive->failReadAt = k.failAt;
        drive->shortReadAt = k.shortAt;
        Converter c;
        c.setJobRunning(k.cancelAfter != 0);
        drive->afterRead = [&](int done) { c.setJobRunning(c.jobRunning() && done != k.cancelAfter); };
        HANDLE volume = cdOpenVolume("\\\\.\\D:");
        CDROM_TOC toc;
        ASSERT_EQ(readToc(volume, &toc), 1);
        TrackAudio audio;
        Progress progress;
        EXPECT_EQ(readTrackAudio(volume, &toc, k.k, &c, &audio, onProgress, &progress),
                  k.result == TrackReadComplete);
        cdCloseVolume(volume);
        EXPECT_EQ(audio.result, k.result);
        EXPECT_EQ(drive->reads, k.requests);
        EXPECT_EQ(audio.bytesRead, k.sectors * 2352);
        EXPECT_EQ(std::vector<DWORD>({progress.bytes, (DWORD)progress.firstFlags, (DWORD)progress.lastFlags}),
                  std::vector<DWORD>({audio.bytesRead, k.sectors > 0, k.result == TrackReadComplete}));
        ASSERT_EQ(audio.buffer != nullptr, k.k >= 0 && k.k < 4 && !k.memoryLimit);
        if (audio.buffer) {
            EXPECT_EQ(audio.stopSector, audio.startSector + k.sectors);
            EXPECT_EQ(memcmp(audio.buffer, simTrackAudio(disc, k.k).data(), audio.bytesRead), 0);
        }
        releaseTrackAudio(&audio);
        EXPECT_EQ(simTrackBuffers(), 0);
    }
}
