#include <gtest/gtest.h>

#include "tests/WavTestFiles.h"
#include "tests/support/WizardRun.h"

// The first frame header of an MP3 file, bits that vary from frame to frame
// (padding) left out; 0 when there is none.
static unsigned firstHeader(const std::string& mp3) {
    for (size_t at = 0; at + 4 <= mp3.size(); at++) {
        if ((BYTE)mp3[at] == 0xFF && ((BYTE)mp3[at + 1] & 0xE0) == 0xE0) {
            return ((BYTE)mp3[at + 1] << 16 | (BYTE)mp3[at + 2] << 8 | (BYTE)mp3[at + 3]) & ~0x200u;
        }
    }
    return 0;
}

// LAME's own DLL, built beside the program, gets the record as the program
// fills it: what each setting asks shows in the MP3 it writes. A preset
// that makes voice mono shows that the record is read at the right offsets.
TEST(LameDll, TheRecordReachesTheLibraryAsMeant) {
    Converter c;
    c.encoderLibrary = LoadLibraryA(CALBRUNE_BUILD_DIR "\\lame_enc.dll");
    ASSERT_EQ(c.loadEncoder(), 1);
    TempFolder folder;
    c.sourceFiles.append(writeBytes(folder, "a.wav", canonicalWav(2, 44100, 16, patternBytes(4 * 44100))).c_str());
    c.setReplaceWithoutAsking(1);
    c.setCloseWhenDone(0);
    struct Case {
        int bitrate, mode, quality, privateBit, copyright, original;
        unsigned header, mask;  // MPEG version, layer, bitrate, rate, private; mode, copyright, original
    } const cases[] = {
        // 320 kbps, dual channel, private, copyright, a copy.
        {13, 3, 3, 1, 1, 0, 0xFBE188, 0xFFFFFF},
        // 128 kbps joint stereo, original; then the voice preset, of varying bitrate: mono.
        {8, 0, 3, 0, 0, 1, 0xFB9044, 0xFFFFFF},
        {8, 0, 1, 0, 0, 1, 0xC0, 0xC0},
    };
    WizardRun w(c);
    for (const Case& k : cases) {
        c.setBitrateIndex(k.bitrate);
        c.setChannelModeIndex(k.mode);
        c.setQualityIndex(k.quality);
        c.setPrivateBit(k.privateBit);
        c.setCopyrightBit(k.copyright);
        c.setOriginalBit(k.original);
        ASSERT_TRUE(w.runJob());
        EXPECT_EQ(w.boxes, std::vector<std::string>({"Encodage reussi!  "}));
        EXPECT_EQ(firstHeader(fileContents(folder.file("a.mp3"))) & k.mask, k.header) << std::hex << k.header;
    }
}
