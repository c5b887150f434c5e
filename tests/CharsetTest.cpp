#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "core/OptionTables.h"
#include "core/WavHeader.h"
#include "tests/WavTestFiles.h"

static bool contains(const Bytes& haystack, const uint8_t* needle, size_t size) {
    return std::search(haystack.begin(), haystack.end(), needle, needle + size) !=
           haystack.end();
}

// The byte patterns looked for in the executables are kept inverted, and
// turned back at run time, so that this file does not put them there itself.
static volatile uint8_t invert = 0xFF;

static Bytes pattern(std::initializer_list<uint8_t> inverted) {
    Bytes b;
    for (uint8_t byte : inverted) {
        b.push_back((uint8_t)(byte ^ invert));
    }
    return b;
}

TEST(Charset, LabelsAreWindows1252InMemory) {
    // " Stéreo" and " Joint Stéreo": é is the single byte E9.
    Bytes stereo = pattern({0xDF, 0xAC, 0x8B, 0x16, 0x8D, 0x9A, 0x90, 0xFF});
    EXPECT_EQ(Bytes(channelModes[1].label, channelModes[1].label + stereo.size()), stereo);
    EXPECT_EQ(memcmp(channelModes[2].label, " Joint", 6), 0);
    EXPECT_EQ(Bytes(channelModes[2].label + 6, channelModes[2].label + 6 + stereo.size()),
              stereo);

    // "données" holds its é the same way.
    Bytes donnees = pattern({0x9B, 0x90, 0x91, 0x91, 0x16, 0x9A, 0x8C});
    const char* text = wavStatusText(WavNoDataChunk);
    Bytes message(text, text + strlen(text));
    EXPECT_TRUE(contains(message, donnees.data(), donnees.size())) << text;
    for (int status = WavUsable; status <= WavReadFailed; status++) {
        const char* other = wavStatusText((WavStatus)status);
        EXPECT_EQ(strchr(other, '\xC3'), nullptr) << "UTF-8 in message " << status;
    }
}

static std::string moduleFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\'));
}

TEST(Charset, ExecutablesHoldTheWindows1252Bytes) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    Bytes self = readWholeFile(path);
    ASSERT_FALSE(self.empty());
    // " Stéreo" in Windows-1252 and in UTF-8.
    Bytes cp1252 = pattern({0xDF, 0xAC, 0x8B, 0x16, 0x8D, 0x9A, 0x90});
    Bytes utf8 = pattern({0xDF, 0xAC, 0x8B, 0x3C, 0x56, 0x8D, 0x9A, 0x90});
    ASSERT_EQ(Bytes(channelModes[1].label, channelModes[1].label + cp1252.size()), cp1252);
    EXPECT_TRUE(contains(self, cp1252.data(), cp1252.size()));
    EXPECT_FALSE(contains(self, utf8.data(), utf8.size()));

    // The program itself, built beside the tests or one folder up.
    std::string folder = moduleFolder();
    Bytes program = readWholeFile(folder + "\\calbrune.exe");
    if (program.empty()) {
        program = readWholeFile(folder.substr(0, folder.rfind('\\')) + "\\calbrune.exe");
    }
    if (program.empty()) {
        GTEST_SKIP() << "calbrune.exe is not built";
    }
    EXPECT_TRUE(contains(program, cp1252.data(), cp1252.size()));
    EXPECT_FALSE(contains(program, utf8.data(), utf8.size()));
}
