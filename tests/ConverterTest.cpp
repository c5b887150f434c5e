#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/Converter.h"

static std::string executableFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\'));
}

static std::vector<std::string> paths(const SourceFileList& list) {
    std::vector<std::string> result;
    for (SourceFileNode* node = list.next(nullptr); node; node = list.next(node)) {
        result.push_back(node->path);
    }
    return result;
}

// Walks backwards from last, so that broken prev links show up.
static std::vector<std::string> pathsBackwards(const SourceFileList& list) {
    std::vector<std::string> result;
    for (SourceFileNode* node = list.last(); node; node = node->prev) {
        result.insert(result.begin(), node->path);
    }
    return result;
}

typedef std::vector<std::string> Names;

TEST(Converter, FreshObjectHasTheDefaults) {
    Converter c;
    EXPECT_EQ(c.sourceFiles.count(), 0u);
    EXPECT_EQ(c.sourceFiles.first(), nullptr);
    EXPECT_EQ(c.sourceFiles.last(), nullptr);
    EXPECT_EQ(c.selectedTracks.count(), 0u);
    EXPECT_EQ(c.selectedTracks.first(), nullptr);
    EXPECT_STREQ(c.destinationFolder(), executableFolder().c_str());
    EXPECT_STREQ(c.cdDevicePath(), "");
    EXPECT_EQ(c.encoderLibrary, nullptr);
    EXPECT_FALSE(c.encoderAvailable());
    EXPECT_EQ(c.jobDoneMessage(), (UINT)WM_USER);
    EXPECT_EQ(c.jobRunning(), 0);
    EXPECT_EQ(c.workerThread(), nullptr);
    EXPECT_EQ(c.ownerWindow(), nullptr);
    EXPECT_EQ(c.sourceKind(), 0);
    EXPECT_EQ(c.saveBesideSource(), 1);
    EXPECT_EQ(c.replaceWithoutAsking(), 0);
    EXPECT_EQ(c.closeWhenDone(), 1);
    EXPECT_EQ(c.convertChannels(), 0);
    EXPECT_EQ(c.eightBitInput(), 0);
    EXPECT_EQ(c.privateBit(), 0);
    EXPECT_EQ(c.originalBit(), 1);
    EXPECT_EQ(c.copyrightBit(), 0);
    EXPECT_EQ(c.vbrEnabled(), 0);
    EXPECT_EQ(c.channelModeIndex(), 0);
    EXPECT_EQ(c.sampleRateIndex(), 0);
    EXPECT_EQ(c.vbrQuality(), 4);
    EXPECT_EQ(c.abrBitrate(), 128);
    EXPECT_EQ(c.cbrBitrate(1), 128);
    EXPECT_EQ(c.cbrBitrate(0), 80);
    EXPECT_EQ(c.vbrMinBitrate(), 32);
    EXPECT_EQ(c.vbrMaxBitrate(), 320);
    EXPECT_EQ(c.qualityPresetValue(), 0);
    EXPECT_EQ(c.vbrMethodValue(), 0);
}

TEST(Converter, DerivedValuesFollowTheSelectedRows) {
    Converter c;
    c.setBitrateIndex(13);
    EXPECT_EQ(c.cbrBitrate(1), 320);
    EXPECT_EQ(c.cbrBitrate(0), 160);
    c.setBitrateIndex(0);
    EXPECT_EQ(c.cbrBitrate(1), 32);
    EXPECT_EQ(c.cbrBitrate(0), 8);

    // The quality rows are not in value order.
    const int presets[6] = {1, 3, 4, 0, 2, 5};
    for (int row = 0; row < 6; row++) {
        c.setQualityIndex(row);
        EXPECT_EQ(c.qualityPresetValue(), presets[row]) << "row " << row;
    }
    for (int row = 1; row < 5; row++) {
        c.setChannelModeIndex(row);
        EXPECT_EQ(c.channelModeValue(), row - 1);
        c.setVbrMethodIndex(row);
        EXPECT_EQ(c.vbrMethodValue(), row);
    }
    const int rates[7] = {-1, 48000, 44100, 32000, 24000, 22050, 16000};
    for (int row = 1; row < 7; row++) {
        c.setSampleRateIndex(row);
        EXPECT_EQ(c.outputSampleRate(), rates[row]);
    }
    c.setVbrMinBitrateIndex(0);
    c.setVbrMaxBitrateIndex(11);
    EXPECT_EQ(c.vbrMinBitrate(), 8);
    EXPECT_EQ(c.vbrMaxBitrate(), 128);
}

TEST(Converter, StringSettersCopyAndLimit) {
    Converter c;
    c.setDestinationFolder("D:\\Mp3");
    c.setDestinationFolder(nullptr);
    EXPECT_STREQ(c.destinationFolder(), "D:\\Mp3");

    char folder[MAX_PATH] = "D:\\Mp3";
    c.setDestinationFolder(folder);
    strcpy(folder, "E:\\Other");
    EXPECT_STREQ(c.destinationFolder(), "D:\\Mp3");

    std::string longFolder = "C:\\" + std::string(400, 'x');
    c.setDestinationFolder(longFolder.c_str());
    EXPECT_EQ(strlen(c.destinationFolder()), (size_t)MAX_PATH - 1);
    EXPECT_EQ(std::string(c.destinationFolder()), longFolder.substr(0, MAX_PATH - 1));

    c.setCdDevicePath("\\\\.\\D:");
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\D:");
    c.setCdDevicePath("\\\\.\\CdRom0");
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\CdR");
    c.setCdDevicePath(nullptr);
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\CdR");
}

TEST(SourceFileList, AppendKeepsOrderAndLinks) {
    SourceFileList list;
    char buffer[MAX_PATH] = "C:\\Son\\a.wav";
    SourceFileNode* a = list.append(buffer);
    strcpy(buffer, "C:\\Son\\b.wav");
    SourceFileNode* b = list.append(buffer);
    SourceFileNode* c = list.append("C:\\Son\\café.wav");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(paths(list), (Names{"C:\\Son\\a.wav", "C:\\Son\\b.wav", "C:\\Son\\café.wav"}));
    EXPECT_EQ(pathsBackwards(list), paths(list));
    EXPECT_EQ(list.first(), a);
    EXPECT_EQ(list.last(), c);
    EXPECT_EQ(a->prev, nullptr);
    EXPECT_EQ(list.next(nullptr), a);
    EXPECT_EQ(list.next(c), nullptr);

    SourceFileNode* empty = list.append(nullptr);
    ASSERT_NE(empty, nullptr);
    char zeros[MAX_PATH] = {};
    EXPECT_EQ(memcmp(empty->path, zeros, MAX_PATH), 0);
    EXPECT_EQ(list.count(), 4u);
    EXPECT_EQ(list.last(), empty);
    EXPECT_EQ(c->next, empty);
}

TEST(SourceFileList, NodeAtStopsAtTheLastNode) {
    SourceFileList list;
    EXPECT_EQ(list.nodeAt(0), nullptr);
    EXPECT_EQ(list.nodeAt(5), nullptr);
    SourceFileNode* a = list.append("a");
    SourceFileNode* b = list.append("b");
    SourceFileNode* c = list.append("c");
    EXPECT_EQ(list.nodeAt(0), a);
    EXPECT_EQ(list.nodeAt(1), b);
    EXPECT_EQ(list.nodeAt(2), c);
    EXPECT_EQ(list.nodeAt(3), c);
    EXPECT_EQ(list.nodeAt(5), c);
    EXPECT_EQ(list.nodeAt(0xFFFFFFFFu), c);
}

TEST(SourceFileList, RemoveRelinksNeighbours) {
    SourceFileList list;
    list.append("a");
    SourceFileNode* b = list.append("b");
    list.append("c");
    list.append("d");

    list.remove(b);
    EXPECT_EQ(paths(list), (Names{"a", "c", "d"}));
    EXPECT_EQ(pathsBackwards(list), (Names{"a", "c", "d"}));

    list.remove(list.first());
    EXPECT_EQ(paths(list), (Names{"c", "d"}));
    EXPECT_EQ(list.first()->prev, nullptr);
    EXPECT_EQ(pathsBackwards(list), (Names{"c", "d"}));

    list.remove(list.last());
    EXPECT_EQ(paths(list), (Names{"c"}));
    EXPECT_EQ(list.last(), list.first());
    EXPECT_EQ(list.last()->next, nullptr);

    list.remove(nullptr);
    EXPECT_EQ(list.count(), 1u);

    list.remove(list.first());
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    EXPECT_EQ(list.count(), 0u);

    list.append("e");
    EXPECT_EQ(paths(list), (Names{"e"}));
    EXPECT_EQ(list.first(), list.last());
}

TEST(SourceFileList, ClearEmptiesAndStaysUsable) {
    SourceFileList list;
    for (int i = 0; i < 50; i++) {
        list.append("x");
    }
    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    list.clear();
    list.append("y");
    list.append("z");
    EXPECT_EQ(paths(list), (Names{"y", "z"}));
    EXPECT_EQ(pathsBackwards(list), (Names{"y", "z"}));
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
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(list.count(), 3u);
    std::vector<int> forward;
    for (TrackNode* node = list.next(nullptr); node; node = list.next(node)) {
        forward.push_back(node->trackIndex);
    }
    EXPECT_EQ(forward, (std::vector<int>{4, 0, 11}));
    EXPECT_EQ(list.first(), first);
    EXPECT_EQ(list.last()->prev->prev, first);
    EXPECT_EQ(list.next(list.last()), nullptr);

    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    list.append(&track);
    EXPECT_EQ(list.first()->trackIndex, 11);
}

static std::string outputPath(const Converter& c, const char* source, int* result = nullptr) {
    char out[MAX_PATH];
    memset(out, '#', sizeof(out));
    int ok = c.buildOutputPath(out, source);
    if (result) {
        *result = ok;
    }
    return std::string(out, strnlen(out, MAX_PATH));
}

TEST(BuildOutputPath, NamesTheMp3FileBesideOrInTheDestination) {
    Converter c;
    c.setDestinationFolder("D:\\Mp3");
    int ok = 0;
    EXPECT_EQ(outputPath(c, "C:\\Son\\a.wav", &ok), "C:\\Son\\a.mp3");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(outputPath(c, "C:\\Son\\concert.live.wav"), "C:\\Son\\concert.live.mp3");
    EXPECT_EQ(outputPath(c, "C:\\Son\\prise"), "C:\\Son\\prise.mp3");
    // Only the last component's dot counts.
    EXPECT_EQ(outputPath(c, "C:\\Son.d\\prise"), "C:\\Son.d\\prise.mp3");
    EXPECT_EQ(outputPath(c, "C:\\Son\\A.WAV"), "C:\\Son\\A.mp3");

    c.setSaveBesideSource(0);
    EXPECT_EQ(outputPath(c, "C:\\Son\\a.wav", &ok), "D:\\Mp3\\a.mp3");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(outputPath(c, "C:\\Son\\concert.live.wav"), "D:\\Mp3\\concert.live.mp3");
    EXPECT_EQ(outputPath(c, "C:\\Son.d\\prise"), "D:\\Mp3\\prise.mp3");
    EXPECT_EQ(outputPath(c, "C:\\Son\\caf\xE9.wav"), "D:\\Mp3\\caf\xE9.mp3");
    c.setDestinationFolder("D:\\Mp3\\");
    EXPECT_EQ(outputPath(c, "C:\\Son\\a.wav"), "D:\\Mp3\\a.mp3");
    c.setDestinationFolder("E:\\");
    EXPECT_EQ(outputPath(c, "C:\\Son\\a.wav"), "E:\\a.mp3");

    // CD tracks always go to the destination folder.
    c.setDestinationFolder("D:\\Mp3");
    c.setSourceKind(1);
    c.setSaveBesideSource(1);
    EXPECT_EQ(outputPath(c, "Piste3.mp3", &ok), "D:\\Mp3\\Piste3.mp3");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(outputPath(c, "C:\\Son\\a.wav"), "D:\\Mp3\\a.mp3");
}

TEST(BuildOutputPath, NullArgumentsChangeNothing) {
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
    ASSERT_EQ(stem.size(), 255u);
    EXPECT_EQ(outputPath(c, stem.c_str(), &ok), stem + ".mp3");
    EXPECT_EQ(ok, 1);
    std::string wav = stem + ".wav";
    EXPECT_EQ(outputPath(c, wav.c_str(), &ok), stem + ".mp3");
    EXPECT_EQ(ok, 1);
    std::string longer = stem + "b";
    EXPECT_EQ(outputPath(c, longer.c_str(), &ok), "");
    EXPECT_EQ(ok, 0);
    // A source path longer than a path buffer is refused, not cut, even when
    // its first 259 characters would make a name.
    std::string huge = "C:\\" + std::string(300, 'a') + ".wav";
    EXPECT_EQ(outputPath(c, huge.c_str(), &ok), "");
    EXPECT_EQ(ok, 0);
    std::string cutAtADot = "C:\\" + std::string(252, 'a') + ".wav\\b.wav";
    EXPECT_EQ(outputPath(c, cutAtADot.c_str(), &ok), "");
    EXPECT_EQ(ok, 0);

    // In the destination folder: folder, backslash, name and ".mp3".
    c.setSaveBesideSource(0);
    std::string folder = "D:\\" + std::string(200, 'd');
    c.setDestinationFolder(folder.c_str());
    std::string name(51, 'n');
    ASSERT_EQ(folder.size() + 1 + name.size() + 4, 259u);
    EXPECT_EQ(outputPath(c, ("C:\\Son\\" + name + ".wav").c_str(), &ok),
              folder + "\\" + name + ".mp3");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(outputPath(c, ("C:\\Son\\" + name + "n.wav").c_str(), &ok), "");
    EXPECT_EQ(ok, 0);
    std::string longName(120, 'n');
    EXPECT_EQ(outputPath(c, ("C:\\Son\\" + longName + ".wav").c_str(), &ok), "");
    EXPECT_EQ(ok, 0);
}
