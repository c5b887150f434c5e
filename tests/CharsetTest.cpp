#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "core/OptionTables.h"
#include "core/WavHeader.h"
#include "tests/WavTestFiles.h"

static bool contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
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

TEST(Charset, TextsAreWindows1252InMemoryAndInTheExecutables) {
    // " Stéreo" and " Joint Stéreo": é is the single byte E9, not UTF-8's two.
    Bytes cp1252 = pattern({0xDF, 0xAC, 0x8B, 0x16, 0x8D, 0x9A, 0x90});
    Bytes utf8 = pattern({0xDF, 0xAC, 0x8B, 0x3C, 0x56, 0x8D, 0x9A, 0x90});
    Bytes whole = cp1252;
    whole.push_back(0);
    EXPECT_EQ(Bytes(channelModes[1].label, channelModes[1].label + 8), whole);
    EXPECT_EQ(memcmp(channelModes[2].label, " Joint", 6), 0);
    EXPECT_EQ(Bytes(channelModes[2].label + 6, channelModes[2].label + 13), cp1252);

    // "données" holds its é the same way; no message holds UTF-8.
    const char* text = wavStatusText(WavNoDataChunk);
    EXPECT_TRUE(contains(Bytes(text, text + strlen(text)),
                         pattern({0x9B, 0x90, 0x91, 0x91, 0x16, 0x9A, 0x8C})))
        << text;
    for (int status = WavUsable; status <= WavReadFailed; status++) {
        EXPECT_EQ(strchr(wavStatusText((WavStatus)status), '\xC3'), nullptr) << status;
    }

    // This test program, and the program itself beside it or one folder up.
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    Bytes self = readWholeFile(path);
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(contains(self, cp1252));
    EXPECT_FALSE(contains(self, utf8));
    std::string folder = path;
    folder = folder.substr(0, folder.rfind('\\'));
    Bytes program = readWholeFile(folder + "\\calbrune.exe");
    if (program.empty()) {
        program = readWholeFile(folder.substr(0, folder.rfind('\\')) + "\\calbrune.exe");
    }
    if (program.empty()) {
        GTEST_SKIP() << "calbrune.exe is not built";
    }
    EXPECT_TRUE(contains(program, cp1252));
    EXPECT_FALSE(contains(program, utf8));
}
