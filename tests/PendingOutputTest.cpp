#include <gtest/gtest.h>

#include "jobs/JobFrame.h"
#include "tests/support/Files.h"

namespace {

void writeAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
}

// An output of 259 characters, the most a path may have, gets a temporary
// file beside it and is put in place whole.
TEST(PendingOutput, LongestPathIsWrittenThroughATemporaryFileBesideIt) {
    TempFolder base;
    std::string folder = base.path();
    std::string final;
    while (final.size() != MAX_PATH - 1) {
        size_t left = MAX_PATH - 1 - folder.size() - 1 - 5;  // "\" and "a.mp3"
        if (left > 100) {
            folder += "\\" + std::string(90, 'd');
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
            continue;
        }
        folder += "\\" + std::string(left - 1, 'e');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        final = folder + "\\a.mp3";
    }
    writeFileContents(final, "earlier");

    PendingOutput output;
    ASSERT_EQ(openPendingOutput(&output, final.c_str()), 1);
    EXPECT_EQ(strlen(output.tempPath), final.size());
    EXPECT_EQ(countFiles(folder, "a.*"), 2);
    writeAll(output.file, "the whole new file");
    EXPECT_EQ(fileContents(final), "earlier");
    ASSERT_EQ(commitPendingOutput(&output), 1);
    EXPECT_EQ(fileContents(final), "the whole new file");
    EXPECT_EQ(countFiles(folder, "a.*"), 1);

    DeleteFileA(final.c_str());
    while (folder.size() > strlen(base.path())) {
        RemoveDirectoryA(folder.c_str());
        folder.resize(folder.rfind('\\'));
    }
}

TEST(PendingOutput, DiscardLeavesTheEarlierFileAndTakesNoFileOver) {
    TempFolder folder;
    std::string final = folder.file("b.mp3");
    writeFileContents(final, "earlier");
    // Files of the user's that look like temporary outputs are never taken over.
    writeFileContents(folder.file("b.~cb"), "the user's own");
    writeFileContents(folder.file("b.~c1"), "the user's own too");

    PendingOutput output;
    ASSERT_EQ(openPendingOutput(&output, final.c_str()), 1);
    EXPECT_EQ(std::string(output.tempPath), folder.file("b.~c2"));
    writeAll(output.file, "half a file");
    discardPendingOutput(&output);
    EXPECT_EQ(fileContents(final), "earlier");
    EXPECT_FALSE(fileExists(folder.file("b.~c2")));
    EXPECT_EQ(fileContents(folder.file("b.~cb")), "the user's own");
    EXPECT_EQ(fileContents(folder.file("b.~c1")), "the user's own too");

    EXPECT_EQ(openPendingOutput(&output, folder.file("no such folder\\c.mp3").c_str()), 0);
    EXPECT_EQ(output.file, INVALID_HANDLE_VALUE);
}

}  // namespace
