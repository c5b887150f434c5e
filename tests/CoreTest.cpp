// The parts of the core that need no window: the WAV header and the first destination.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include "core/Converter.h"
#include "tests/support/Files.h"

typedef std::vector<uint64_t> Values;

TEST(WavHeader, BuiltAndDamagedFiles) {
    Bytes format = formatBody(1, 2, 44100, 16);
    Bytes stereo = canonicalWav(2, 44100, 16, patternBytes(1001));
    stereo.pop_back();  // 1001 bytes of data, no pad byte
    Bytes extensible = readWholeFile(testDataPath("ffmpeg-s16-stereo-96000-extensible.wav"));
    std::vector<Chunk> many(6002, {"pad ", {}});
    many.front() = {"fmt ", format}, many.back() = {"data", patternBytes(40)};
    struct Case {
        Bytes file;
        WavStatus status;
        uint32_t dataOffset = 0, dataSize = 0;
    };
    const Case cases[] = {
        // Data sizes that lie give the whole frames the file holds; 0 (a recorder stopped early) the rest.
        {edited(stereo, 40, 0xFFFFFFFF), WavUsable, 44, 1000},
        {edited(stereo, 40, 999), WavUsable, 44, 996},
        {edited(stereo, 40, 0), WavUsable, 44, 1000},
        {edited(stereo, 4, 0), WavUsable, 44, 1000},
        {canonicalWav(2, 44100, 24, patternBytes(47)), WavUsable, 44, 42},
        // Odd chunks are padded; a data chunk followed by another, even empty, keeps its size.
        {riffOf({{"junk", Bytes(5)}, {"fmt ", format}, {"LIST", Bytes(3)}, {"data", Bytes(20)},
                 {"LIST", Bytes(8)}}), WavUsable, 70, 20},
        {riffOf({{"fmt ", format}, {"data", {}}, {"LIST", Bytes(30)}}), WavUsable, 44, 0},
        {riffOf({{"data", Bytes(100)}, {"fmt ", format}}), WavUsable, 20, 100},
        // The walk stops after 4096 chunks, and at a size that runs past the end.
        {riffOf(many), WavNoDataChunk},
        {riffOf({{"fmt ", format}, {"LIST", {}, 0xFFFFFFF7}, {"data", Bytes(40)}}), WavNoDataChunk},
        {riffOf({{"fmt ", format}}), WavNoDataChunk},
        {riffOf({{"data", Bytes(40)}}), WavNoFormatChunk},
        {Bytes(stereo.begin(), stereo.begin() + 30), WavNoFormatChunk},
        {Bytes(stereo.begin(), stereo.begin() + 11), WavNotRiffWave},
        {edited(stereo, 8, 0x20495641), WavNotRiffWave},  // "AVI "
        {edited(stereo, 20, 0, 2), WavNotPcm},
        {edited(stereo, 22, 3, 2), WavBadChannelCount},
        {extensible, WavUsable, 102, 17640},
        {edited(extensible, 59, 0), WavNotPcm},   // the sub-format's GUID
        {edited(extensible, 16, 18), WavNotPcm},  // an extensible format cut short
        {edited(stereo, 34, 20, 2), WavBadSampleSize},
        {edited(edited(stereo, 20, 3, 2), 34, 64, 2), WavBadFloatSize},
        // 24 bits padded to 4 bytes, said by the block size only, is noise; 16 bits are read packed.
        {edited(canonicalWav(2, 44100, 24, Bytes(48)), 32, 8, 2), WavBadBlockAlign},
        {edited(stereo, 32, 8, 2), WavUsable, 44, 1000},
        {edited(stereo, 24, 7999), WavBadSampleRate},
        {edited(stereo, 24, 192001), WavBadSampleRate},
        {edited(stereo, 24, 192000), WavUsable, 44, 1000},
    };
    for (const Case& k : cases) {
        WavInfo info = {};
        WavStatus status = parseWavBytes(k.file.data(), k.file.size(), &info);
        EXPECT_EQ(Values({status, status == WavUsable ? info.dataOffset : 0, info.dataSize}),
                  Values({k.status, k.dataOffset, k.dataSize})) << &k - cases;
    }
}

// The first destination: the program's folder where a file can be made (the probe leaving nothing
// behind), else the user's Music folder, wherever it was moved.
TEST(Converter, TheFirstDestinationIsTheProgramsFolderWhereItCanWrite) {
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    PathRemoveFileSpecA(program);
    EXPECT_STREQ(Converter().destinationFolder(), program);
    TempFolder music;
    EXPECT_TRUE(folderWritable(music.path()) && !folderWritable(music.file("none").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(music.path())) << "the probe left a file";
    CreateDirectoryA(music.path(), nullptr);
    const char* shellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    char before[MAX_PATH] = "";
    DWORD size = sizeof(before);
    bool had = !RegGetValueA(HKEY_CURRENT_USER, shellFolders, "My Music", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                             before, &size);
    RegSetKeyValueA(HKEY_CURRENT_USER, shellFolders, "My Music", REG_EXPAND_SZ, music.path(), lstrlenA(music.path()) + 1);
    int (*probe)(const char*) = folderWritable;
    folderWritable = [](const char*) { return 0; };
    EXPECT_STREQ(Converter().destinationFolder(), music.path());
    folderWritable = probe;
    had ? RegSetKeyValueA(HKEY_CURRENT_USER, shellFolders, "My Music", REG_EXPAND_SZ, before, size)
        : RegDeleteKeyValueA(HKEY_CURRENT_USER, shellFolders, "My Music");
}
