#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#include <string>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/Converter.h"
#include "core/WavHeader.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/Files.h"

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

    for (const char* bad : {"G=300,x", "g", "G=wav:Z:\\no\\such.wav"}) {
        EXPECT_EQ(simConfigure(bad), 0) << bad;
    }
}

// Each track read from the drive is the file's samples, then the silence
// that pads it to whole sectors.
TEST(CdSim, ADiscMadeOfWavFilesHoldsTheirSamples) {
    const std::string names[2] = {
        std::string(CALBRUNE_TEST_DATA) + "\\sox-s16-stereo-44100.wav",
        std::string(CALBRUNE_TEST_DATA) + "\\ffmpeg-s16-stereo-44100-list.wav"};
    ASSERT_EQ(simConfigure(("D=wav:" + names[0] + "|" + names[1]).c_str()), 1);
    ASSERT_EQ(simDrive('D')->disc.entries.size(), 3u);
    Converter c;
    c.setJobRunning(1);
    HANDLE volume = cdOpenVolume("\\\\.\\D:");
    CDROM_TOC toc;
    ASSERT_EQ(readToc(volume, &toc), 1);
    for (int k = 0; k < 2; k++) {
        std::string file = fileContents(names[k]);
        WavInfo info;
        ASSERT_EQ(parseWavBytes((const uint8_t*)file.data(), file.size(), &info), WavUsable);
        std::string audio = file.substr((size_t)info.dataOffset, info.dataSize);
        audio.resize((audio.size() + 2351) / 2352 * 2352, '\0');
        TrackAudio read;
        EXPECT_EQ(readTrackAudio(volume, &toc, k, &c, &read, nullptr, nullptr), 1);
        EXPECT_EQ(std::string((const char*)read.buffer, read.bytesRead), audio) << k;
        releaseTrackAudio(&read);
    }
    cdCloseVolume(volume);
    EXPECT_EQ(simTrackBuffers(), 0);
}
