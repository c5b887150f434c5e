#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/Converter.h"

typedef std::vector<std::string> Names;

// Checks the list forwards through next() and backwards through the prev
// links, its ends and its count.
static void expectList(const SourceFileList& list, const Names& names) {
    Names forward, backward;
    for (SourceFileNode* node = list.next(nullptr); node; node = list.next(node)) {
        forward.push_back(node->path);
    }
    for (SourceFileNode* node = list.last(); node; node = node->prev) {
        backward.insert(backward.begin(), node->path);
    }
    EXPECT_EQ(forward, names);
    EXPECT_EQ(backward, names);
    EXPECT_EQ(list.count(), names.size());
    EXPECT_EQ(list.first() == nullptr, names.empty());
    EXPECT_EQ(list.last() == nullptr, names.empty());
}

TEST(Converter, FreshObjectHasTheDefaults) {
    // The record's defaults are checked in EncoderConfigTest.
    Converter c;
    expectList(c.sourceFiles, {});
    EXPECT_EQ(c.selectedTracks.first(), nullptr);
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    *strrchr(exe, '\\') = '\0';
    EXPECT_STREQ(c.destinationFolder(), exe);
    EXPECT_STREQ(c.cdDevicePath(), "");
    EXPECT_FALSE(c.encoderAvailable());
    EXPECT_EQ(c.jobRunning(), 0);
    EXPECT_EQ(c.workerThread(), nullptr);
    EXPECT_EQ(c.sourceKind(), 0);
    EXPECT_EQ(c.saveBesideSource(), 1);
    EXPECT_EQ(c.replaceWithoutAsking(), 0);
    EXPECT_EQ(c.closeWhenDone(), 1);
    EXPECT_EQ(c.vbrQuality(), 4);
    EXPECT_EQ(c.abrBitrate(), 128);
    EXPECT_EQ(c.vbrMinBitrate(), 32);
    EXPECT_EQ(c.vbrMaxBitrate(), 320);
    EXPECT_EQ(c.vbrMethodValue(), 0);
}

TEST(Converter, StringSettersCopyAndLimit) {
    Converter c;
    char folder[MAX_PATH] = "D:\\Mp3";
    c.setDestinationFolder(folder);
    strcpy(folder, "E:\\Other");
    c.setDestinationFolder(nullptr);
    EXPECT_STREQ(c.destinationFolder(), "D:\\Mp3");

    std::string longFolder = "C:\\" + std::string(400, 'x');
    c.setDestinationFolder(longFolder.c_str());
    EXPECT_EQ(std::string(c.destinationFolder()), longFolder.substr(0, MAX_PATH - 1));

    c.setCdDevicePath("\\\\.\\D:");
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\D:");
    c.setCdDevicePath("\\\\.\\CdRom0");
    c.setCdDevicePath(nullptr);
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\CdR");
}

TEST(SourceFileList, AppendRemoveAndClearKeepTheLinks) {
    SourceFileList list;
    EXPECT_EQ(list.nodeAt(0), nullptr);
    char buffer[MAX_PATH] = "a";
    SourceFileNode* a = list.append(buffer);
    strcpy(buffer, "b");
    SourceFileNode* b = list.append(buffer);
    SourceFileNode* c = list.append("café");
    ASSERT_TRUE(a && b && c);
    expectList(list, {"a", "b", "café"});
    // nodeAt stops at the last node.
    EXPECT_EQ(list.nodeAt(0), a);
    EXPECT_EQ(list.nodeAt(1), b);
    EXPECT_EQ(list.nodeAt(3), c);
    EXPECT_EQ(list.nodeAt(0xFFFFFFFFu), c);

    SourceFileNode* empty = list.append(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(std::string(empty->path, MAX_PATH), std::string(MAX_PATH, '\0'));
    expectList(list, {"a", "b", "café", ""});
    list.append("d");

    list.remove(b);
    expectList(list, {"a", "café", "", "d"});
    list.remove(list.first());
    expectList(list, {"café", "", "d"});
    list.remove(list.last());
    expectList(list, {"café", ""});
    list.remove(nullptr);
    list.remove(list.last());
    expectList(list, {"café"});
    list.remove(list.first());
    expectList(list, {});
    list.append("e");
    expectList(list, {"e"});

    for (int i = 0; i < 50; i++) {
        list.append("x");
    }
    list.clear();
    expectList(list, {});
    list.clear();
    list.append("y");
    list.append("z");
    expectList(list, {"y", "z"});
}

TEST(TrackList, AppendCopiesValuesInOrder) {
    TrackList list;
    EXPECT_EQ(list.next(nullptr), nullptr);
    int track = 4;
    TrackNode* first = list.append(&track);
    track = 0;
    list.append(nullptr);
    track = 11;
    list.append(&track);
    std::vector<int> forward;
    for (TrackNode* node = list.next(nullptr); node; node = list.next(node)) {
        forward.push_back(node->trackIndex);
    }
    EXPECT_EQ(forward, (std::vector<int>{4, 0, 11}));
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.first(), first);
    EXPECT_EQ(list.last()->prev->prev, first);

    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    list.append(&track);
    EXPECT_EQ(list.first()->trackIndex, 11);
}

// The name built for `source`; `ok` gets the result.
static std::string outputPath(const Converter& c, const std::string& source, int* ok) {
    char out[MAX_PATH];
    memset(out, '#', sizeof(out));
    *ok = c.buildOutputPath(out, source.c_str());
    return std::string(out, strnlen(out, MAX_PATH));
}

TEST(BuildOutputPath, NamesTheMp3FileBesideOrInTheDestination) {
    struct Case {
        int beside, kind;
        const char* folder;
        const char* source;
        const char* expected;
    };
    const Case cases[] = {
        {1, 0, "D:\\Mp3", "C:\\Son\\a.wav", "C:\\Son\\a.mp3"},
        {1, 0, "D:\\Mp3", "C:\\Son\\concert.live.wav", "C:\\Son\\concert.live.mp3"},
        {1, 0, "D:\\Mp3", "C:\\Son\\prise", "C:\\Son\\prise.mp3"},
        // Only the last component's dot counts.
        {1, 0, "D:\\Mp3", "C:\\Son.d\\prise", "C:\\Son.d\\prise.mp3"},
        {1, 0, "D:\\Mp3", "C:\\Son\\A.WAV", "C:\\Son\\A.mp3"},
        {0, 0, "D:\\Mp3", "C:\\Son\\concert.live.wav", "D:\\Mp3\\concert.live.mp3"},
        {0, 0, "D:\\Mp3", "C:\\Son.d\\prise", "D:\\Mp3\\prise.mp3"},
        {0, 0, "D:\\Mp3", "C:\\Son\\caf\xE9.wav", "D:\\Mp3\\caf\xE9.mp3"},
        {0, 0, "D:\\Mp3\\", "C:\\Son\\a.wav", "D:\\Mp3\\a.mp3"},
        {0, 0, "E:\\", "C:\\Son\\a.wav", "E:\\a.mp3"},
        // CD tracks always go to the destination folder.
        {1, 1, "D:\\Mp3", "Piste3.mp3", "D:\\Mp3\\Piste3.mp3"},
        {1, 1, "D:\\Mp3", "C:\\Son\\a.wav", "D:\\Mp3\\a.mp3"},
    };
    for (const Case& k : cases) {
        Converter c;
        c.setSaveBesideSource(k.beside);
        c.setSourceKind(k.kind);
        c.setDestinationFolder(k.folder);
        int ok = 0;
        EXPECT_EQ(outputPath(c, k.source, &ok), k.expected);
        EXPECT_EQ(ok, 1) << k.source;
    }

    // Null arguments change nothing.
    Converter c;
    char out[MAX_PATH] = "unchanged";
    EXPECT_EQ(c.buildOutputPath(out, nullptr), 0);
    EXPECT_STREQ(out, "unchanged");
    EXPECT_EQ(c.buildOutputPath(nullptr, "C:\\Son\\a.wav"), 0);
}

TEST(BuildOutputPath, RefusesAPathThatWouldNotFit) {
    Converter c;
    int ok = -1;
    // Beside the source: 255 characters plus ".mp3" is the longest that fits.
    std::string stem = "C:\\" + std::string(252, 'a');
    EXPECT_EQ(outputPath(c, stem, &ok), stem + ".mp3");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(outputPath(c, stem + ".wav", &ok), stem + ".mp3");
    EXPECT_EQ(ok, 1);
    // Longer, or a source longer than a path buffer whose first 259
    // characters would make a name: refused, not cut.
    for (const std::string& source :
         {stem + "b", "C:\\" + std::string(300, 'a') + ".wav", stem + ".wav\\b.wav"}) {
        EXPECT_EQ(outputPath(c, source, &ok), "");
        EXPECT_EQ(ok, 0) << source.size();
    }

    // In the destination folder: folder, backslash, name and ".mp3".
    c.setSaveBesideSource(0);
    std::string folder = "D:\\" + std::string(200, 'd');
    c.setDestinationFolder(folder.c_str());
    std::string name(51, 'n');
    EXPECT_EQ(outputPath(c, "C:\\Son\\" + name + ".wav", &ok), folder + "\\" + name + ".mp3");
    EXPECT_EQ(ok, 1);
    for (const std::string& longer : {name + "n", std::string(120, 'n')}) {
        EXPECT_EQ(outputPath(c, "C:\\Son\\" + longer + ".wav", &ok), "");
        EXPECT_EQ(ok, 0);
    }
}
