#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/WavHeader.h"
#include "jobs/JobFrame.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/JobHarness.h"
#include "tests/support/Recorder.h"

namespace {

std::string dataFile(const char* name) {
    return std::string(CALBRUNE_TEST_DATA) + "\\" + name;
}

}  // namespace

TEST(CdSim, ConfigurationTextDescribesDrivesAndDiscs) {
    ASSERT_EQ(simConfigure("E;G=300,200,150;H=3/100,100"), 1);
    EXPECT_EQ(cdLogicalDrives(), (1u << 4) | (1u << 6) | (1u << 7));
    EXPECT_EQ(cdDriveType("E:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(cdDriveType("F:\\"), (UINT)DRIVE_NO_ROOT_DIR);
    EXPECT_FALSE(simDrive('E')->hasDisc);
    ASSERT_TRUE(simDrive('G')->hasDisc);
    EXPECT_EQ(simEntrySector(simDrive('G')->disc, 3), 650);
    EXPECT_EQ(simDrive('H')->disc.firstTrack, 3);
    EXPECT_EQ(simDrive('H')->disc.lastTrack, 4);

    EXPECT_EQ(simConfigure("G=300,x"), 0);
    EXPECT_EQ(simConfigure("g"), 0);
    EXPECT_EQ(simConfigure("G=wav:Z:\\no\\such.wav"), 0);
}

TEST(CdSim, ADiscMadeOfWavFilesReachesTheEncoderAsTheirSamples) {
    const char* names[2] = {"sox-s16-stereo-44100.wav", "ffmpeg-s16-stereo-44100-list.wav"};
    std::string text = "D=wav:" + dataFile(names[0]) + "|" + dataFile(names[1]);
    ASSERT_EQ(simConfigure(text.c_str()), 1);
    const SimDisc& disc = simDrive('D')->disc;
    ASSERT_EQ(disc.entries.size(), 3u);

    Converter c;
    resetRecorder();
    ASSERT_EQ(useRecorder(c), 1);
    TempFolder folder;
    c.setSourceKind(1);
    c.setCdDevicePath("\\\\.\\D:");
    c.setDestinationFolder(folder.path());
    for (int k = 0; k < 2; k++) {
        c.selectedTracks.append(&k);
    }
    JobHarness h;
    ASSERT_EQ(h.start(c), 1);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);

    std::vector<RecordedCall> calls = readRecorderLog();
    for (unsigned stream = 1; stream <= 2; stream++) {
        std::string file = fileContents(dataFile(names[stream - 1]));
        WavInfo info;
        ASSERT_EQ(parseWavBytes((const uint8_t*)file.data(), file.size(), &info), WavUsable);
        // The samples, then the silence that pads the track to whole sectors.
        std::string audio = file.substr((size_t)info.dataOffset, info.dataSize);
        audio.resize((audio.size() + 2351) / 2352 * 2352, '\0');
        size_t at = 0;
        DWORD samplesPerChunk = 0;
        int encodes = 0;
        for (const RecordedCall& call : calls) {
            if (call.stream != stream) {
                continue;
            }
            if (call.kind == "init") {
                samplesPerChunk = call.samples;
            } else if (call.kind == "encode") {
                ASSERT_GT(samplesPerChunk, 0u);
                size_t bytes = audio.size() - at < samplesPerChunk * 2 ? audio.size() - at
                                                                       : samplesPerChunk * 2;
                EXPECT_EQ(call.checksum, fnv1a(audio.data() + at, bytes)) << "chunk " << encodes;
                at += bytes;
                encodes++;
            }
        }
        EXPECT_EQ(at, audio.size());
        EXPECT_GT(encodes, 0);
    }
    c.unloadEncoder();
    resetRecorder();
}
