#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "jobs/JobFrame.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/JobHarness.h"
#include "tests/support/Recorder.h"

namespace {

// The Linux lame_enc.dll of the build, one folder above the stand-in's.
std::string buildEncoder() {
    std::string folder = CALBRUNE_RECORDER_DIR;
    return folder.substr(0, folder.rfind('\\')) + "\\lame_enc.dll";
}

// Walks MPEG-1 Layer III frame headers; returns the number of whole frames,
// or -1 when something else than a frame is found.
int countFrames(const std::string& mp3) {
    static const int kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    size_t at = 0;
    int frames = 0;
    while (at + 4 <= mp3.size()) {
        const unsigned char* h = (const unsigned char*)mp3.data() + at;
        if (h[0] != 0xFF || (h[1] & 0xFE) != 0xFA) {
            return -1;
        }
        int bitrate = kbps[h[2] >> 4];
        int rate = rates[(h[2] >> 2) & 3];
        if (!bitrate || !rate) {
            return -1;
        }
        at += 144 * bitrate * 1000 / rate + ((h[2] >> 1) & 1);
        frames++;
    }
    return at == mp3.size() ? frames : -1;
}

}  // namespace

TEST(CdEndToEnd, TheBuildsEncoderTurnsADiscTrackIntoMp3Frames) {
    std::string library = buildEncoder();
    if (GetFileAttributesA(library.c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no lame_enc.dll in the build";
    }
    simReset();
    simAddDrive('D');
    const DWORD sectors = 300;
    simInsertDisc('D', simDisc(1, {40, sectors}));
    Converter c;
    c.encoderLibrary = LoadLibraryA(library.c_str());
    ASSERT_NE(c.encoderLibrary, nullptr);
    ASSERT_EQ(c.loadEncoder(), 1);
    TempFolder folder;
    c.setSourceKind(1);
    c.setCdDevicePath("\\\\.\\D:");
    c.setDestinationFolder(folder.path());
    int k = 1;
    c.selectedTracks.append(&k);
    JobHarness h;
    ASSERT_EQ(h.start(c), 1);
    ASSERT_TRUE(h.waitForEnd(c, 60000));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);

    std::string mp3 = fileContents(folder.file("Piste2.mp3"));
    int frames = countFrames(mp3);
    // 1152 samples a frame; the encoder adds its delay and padding.
    EXPECT_GE(frames, (int)(sectors * 588 / 1152));
    EXPECT_LE(frames, (int)(sectors * 588 / 1152) + 4);
    c.unloadEncoder();
}
