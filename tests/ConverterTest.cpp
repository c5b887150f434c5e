#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Converter.h"

typedef std::vector<std::string> Names;

// The list forwards through next() and backwards through the prev links.
static Names both(const SourceFileList& list) {
    Names forward, backward;
    for (SourceFileNode* node = list.next(nullptr); node; node = list.next(node)) {
        forward.push_back(node->path);
    }
    for (SourceFileNode* node = list.last(); node; node = node->prev) {
        backward.insert(backward.begin(), node->path);
    }
    forward.insert(forward.end(), backward.begin(), backward.end());
    return forward;
}

TEST(SourceFileList, AppendFindAndRemove) {
    SourceFileList list;
    for (const char* name : {"a", "b", "c", "d"}) {
        list.append(name);
    }
    EXPECT_EQ(list.count(), 4u);
    EXPECT_EQ(list.nodeAt(0), list.first());
    EXPECT_EQ(std::string(list.nodeAt(2)->path), "c");
    EXPECT_EQ(list.nodeAt(9), list.last());
    list.remove(list.nodeAt(1));
    EXPECT_EQ(both(list), Names({"a", "c", "d", "a", "c", "d"}));
    list.remove(list.last());
    list.remove(list.first());
    EXPECT_EQ(both(list), Names({"c", "c"}));
    list.clear();
    list.append("e");
    EXPECT_EQ(both(list), Names({"e", "e"}));
}

TEST(BuildOutputPath, TheMp3GoesBesideTheSourceOrInTheDestinationFolder) {
    const std::string stem = "C:\\" + std::string(252, 'a'), folder = "D:\\" + std::string(200, 'd');
    struct Case {
        int beside, kind;  // beside -1: the default
        std::string folder, source, expected;  // expected "": refused rather than cut
    };
    const Case cases[] = {
        {-1, 0, "D:\\Mp3", "C:\\Son\\concert.live.wav", "C:\\Son\\concert.live.mp3"},
        {1, 0, "D:\\Mp3", "C:\\Son.d\\prise", "C:\\Son.d\\prise.mp3"},
        {0, 0, "D:\\Mp3\\", "C:\\Son\\caf\xE9.WAV", "D:\\Mp3\\caf\xE9.mp3"},
        {0, 0, "E:\\", "C:\\Son.d\\prise", "E:\\prise.mp3"},
        // CD tracks always go to the destination folder.
        {1, 1, "D:\\Mp3", "Piste3.mp3", "D:\\Mp3\\Piste3.mp3"},
        {1, 0, "", stem + ".wav", stem + ".mp3"},
        {1, 0, "", stem + "b", ""},
        {1, 0, "", "C:\\" + std::string(300, 'a') + ".wav", ""},
        // Cut to 259 characters, this one would still have an extension to replace.
        {1, 0, "", "C:\\" + std::string(245, 'a') + ".x" + std::string(60, 'b') + ".wav", ""},
        {0, 0, folder, "C:\\Son\\" + std::string(51, 'n') + ".wav", folder + "\\" + std::string(51, 'n') + ".mp3"},
        {0, 0, folder, "C:\\Son\\" + std::string(52, 'n') + ".wav", ""},
    };
    for (const Case& k : cases) {
        Converter c;
        if (k.beside >= 0) {
            c.setSaveBesideSource(k.beside);
        }
        c.setSourceKind(k.kind);
        c.setDestinationFolder(k.folder.c_str());
        char out[MAX_PATH];
        EXPECT_EQ(c.buildOutputPath(out, k.source.c_str()), !k.expected.empty()) << k.source;
        EXPECT_EQ(out, k.expected);
    }
}
