#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/Converter.h"
#include "tests/sim/SimMachine.h"

namespace {

struct Progress {
    std::vector<DWORD> bytes;
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

    // Reads track k of the disc now in D; the TOC is read first, as the job does.
    int read(int k, TrackAudio* audio, Progress* progress = nullptr) {
        HANDLE volume = cdOpenVolume("\\\\.\\D:");
        CDROM_TOC toc;
        if (!readToc(volume, &toc)) {
            cdCloseVolume(volume);
            return -1;
        }
        drive->reads.clear();
        int result = readTrackAudio(volume, &toc, k, &c, audio, progress ? onProgress : nullptr,
                                    progress);
        cdCloseVolume(volume);
        return result;
    }

    std::vector<DWORD> requestSizes() const {
        std::vector<DWORD> sizes;
        for (const SimRawRead& r : drive->reads) {
            sizes.push_back(r.sectorCount);
        }
        return sizes;
    }

    bool holdsAudio(const TrackAudio& audio, int track) const {
        std::vector<BYTE> expected = simTrackAudio(drive->disc, track);
        return audio.bytesRead <= expected.size() &&
               memcmp(audio.buffer, expected.data(), audio.bytesRead) == 0;
    }

    Converter c;
    SimDrive* drive;
};

}  // namespace

TEST_F(CdRead, TheTailIsReadInEverSmallerRequests) {
    simInsertDisc('D', simDisc(1, {27, 28, 100}, 10));
    TrackAudio audio;
    Progress progress;
    ASSERT_EQ(read(0, &audio, &progress), 1);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27}));
    EXPECT_EQ(drive->reads[0].diskOffset, 10 * 2048);
    EXPECT_EQ(drive->reads[0].trackMode, (DWORD)CDDA);
    EXPECT_EQ(drive->reads[0].outputSize, 27u * 2352);
    EXPECT_EQ(audio.size, 27u * 2352);
    EXPECT_EQ(audio.bytesRead, audio.size);
    EXPECT_EQ(audio.result, TrackReadComplete);
    EXPECT_TRUE(holdsAudio(audio, 0));
    EXPECT_EQ(progress.bytes, std::vector<DWORD>({27 * 2352}));
    EXPECT_EQ(progress.firstFlags, 1);
    EXPECT_EQ(progress.lastFlags, 1);
    releaseTrackAudio(&audio);

    ASSERT_EQ(read(1, &audio), 1);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27, 1}));
    EXPECT_EQ(drive->reads[0].diskOffset, 37 * 2048);
    EXPECT_EQ(drive->reads[1].diskOffset, 64 * 2048);
    EXPECT_EQ(audio.bytesRead, 28u * 2352);
    EXPECT_TRUE(holdsAudio(audio, 1));
    releaseTrackAudio(&audio);

    Progress steps;
    ASSERT_EQ(read(2, &audio, &steps), 1);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27, 27, 27, 13, 6}));
    EXPECT_EQ(steps.bytes, std::vector<DWORD>({27 * 2352, 54 * 2352, 81 * 2352, 94 * 2352,
                                               100 * 2352}));
    EXPECT_TRUE(steps.firstWasFirst);
    EXPECT_EQ(steps.firstFlags, 1);
    EXPECT_EQ(steps.lastFlags, 1);
    EXPECT_TRUE(holdsAudio(audio, 2));
    EXPECT_EQ(audio.bytesRead, audio.size);
    releaseTrackAudio(&audio);
}

TEST_F(CdRead, AReadErrorKeepsTheSectorsBeforeIt) {
    simInsertDisc('D', simDisc(1, {200, 50}));
    drive->failReadAt = 100;
    TrackAudio audio;
    Progress progress;
    EXPECT_EQ(read(0, &audio, &progress), 0);
    EXPECT_EQ(audio.result, TrackReadFailed);
    // Requests of 27 sectors: the fourth covers sector 100 and fails.
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27, 27, 27, 27}));
    EXPECT_EQ(audio.stopSector, 81u);
    EXPECT_EQ(audio.bytesRead, 81u * 2352);
    EXPECT_TRUE(holdsAudio(audio, 0));
    EXPECT_EQ(progress.lastFlags, 0);
    releaseTrackAudio(&audio);

    // The next track reads as usual.
    ASSERT_EQ(read(1, &audio), 1);
    EXPECT_TRUE(holdsAudio(audio, 1));
    releaseTrackAudio(&audio);
}

TEST_F(CdRead, AShortAnswerStopsTheReadAtItsLastWholeSector) {
    simInsertDisc('D', simDisc(1, {120}));
    drive->shortReadAt = 60;
    TrackAudio audio;
    EXPECT_EQ(read(0, &audio), 0);
    EXPECT_EQ(audio.result, TrackReadFailed);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27, 27, 27}));
    EXPECT_EQ(audio.stopSector, 60u);
    EXPECT_EQ(audio.bytesRead, 60u * 2352);
    EXPECT_TRUE(holdsAudio(audio, 0));
    releaseTrackAudio(&audio);
}

TEST_F(CdRead, ADataTrackThatTheDriveRefusesGivesNothing) {
    SimDisc mixed = simDisc(1, {300, 40});
    mixed.entries[0].data = true;
    simInsertDisc('D', mixed);
    drive->refusesDataTracks = true;
    TrackAudio audio;
    EXPECT_EQ(read(0, &audio), 0);
    EXPECT_EQ(audio.result, TrackReadFailed);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27}));
    EXPECT_EQ(audio.bytesRead, 0u);
    EXPECT_EQ(audio.stopSector, 0u);
    releaseTrackAudio(&audio);

    ASSERT_EQ(read(1, &audio), 1);
    EXPECT_TRUE(holdsAudio(audio, 1));
    releaseTrackAudio(&audio);

    // A drive that accepts it reads it like audio.
    drive->refusesDataTracks = false;
    ASSERT_EQ(read(0, &audio), 1);
    EXPECT_EQ(drive->reads[0].trackMode, (DWORD)CDDA);
    EXPECT_TRUE(holdsAudio(audio, 0));
    releaseTrackAudio(&audio);
}

TEST_F(CdRead, ACancelStopsBeforeTheNextRequest) {
    simInsertDisc('D', simDisc(1, {100}));
    drive->afterRead = [this](int count) {
        if (count == 2) {
            c.setJobRunning(0);
        }
    };
    TrackAudio audio;
    EXPECT_EQ(read(0, &audio), 0);
    EXPECT_EQ(audio.result, TrackReadCancelled);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27, 27}));
    EXPECT_EQ(audio.bytesRead, 54u * 2352);
    EXPECT_TRUE(holdsAudio(audio, 0));
    releaseTrackAudio(&audio);

    // A cancel during the last request of the tail still leaves a whole track.
    c.setJobRunning(1);
    drive->afterRead = [this](int count) {
        if (count == 5) {
            c.setJobRunning(0);
        }
    };
    EXPECT_EQ(read(0, &audio), 1);
    EXPECT_EQ(audio.result, TrackReadComplete);
    EXPECT_EQ(requestSizes(), std::vector<DWORD>({27, 27, 27, 13, 6}));
    releaseTrackAudio(&audio);

    drive->afterRead = nullptr;
    EXPECT_EQ(read(0, &audio), 0);
    EXPECT_TRUE(drive->reads.empty());
    EXPECT_EQ(audio.bytesRead, 0u);
    EXPECT_EQ(audio.result, TrackReadCancelled);
    releaseTrackAudio(&audio);
}

TEST_F(CdRead, TracksNotOnTheDiscOrTooLargeForMemoryReadNothing) {
    simInsertDisc('D', simDisc(1, {100, 100}));
    TrackAudio audio;
    EXPECT_EQ(read(2, &audio), 0);
    EXPECT_EQ(audio.result, TrackReadNotOnDisc);
    EXPECT_EQ(audio.buffer, nullptr);
    EXPECT_EQ(read(-1, &audio), 0);
    EXPECT_EQ(audio.result, TrackReadNotOnDisc);
    EXPECT_TRUE(drive->reads.empty());

    simSetMemoryLimit(100 * 2352 - 1);
    EXPECT_EQ(read(1, &audio), 0);
    EXPECT_EQ(audio.result, TrackReadNoMemory);
    EXPECT_EQ(audio.buffer, nullptr);
    EXPECT_EQ(audio.size, 100u * 2352);
    EXPECT_TRUE(drive->reads.empty());
}

TEST_F(CdRead, AnEightyMinuteTrackIsReadWhole) {
    if (sizeof(void*) < 8) {
        GTEST_SKIP() << "only the 64-bit build can hold it";
    }
    const DWORD sectors = 80 * 60 * 75;
    simInsertDisc('D', simDisc(1, {sectors}));
    TrackAudio audio;
    ASSERT_EQ(read(0, &audio), 1);
    EXPECT_EQ(audio.size, 846720000u);
    EXPECT_EQ(audio.bytesRead, audio.size);
    std::vector<BYTE> last(2352);
    simDiscAudio(drive->disc, sectors - 1, 1, last.data());
    EXPECT_EQ(memcmp(audio.buffer + audio.size - 2352, last.data(), 2352), 0);
    EXPECT_EQ(drive->reads.back().diskOffset, (LONGLONG)(sectors - 3) * 2048);
    EXPECT_EQ(drive->reads.back().sectorCount, 3u);
    releaseTrackAudio(&audio);
}
