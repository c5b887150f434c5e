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
    EntryFailure failure;
    DWORD error;
    ASSERT_EQ(commitPendingOutput(&output, &failure, &error), 1);
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

// A temporary file that cannot be flushed or moved into place is deleted, the
// earlier output stays, and the caller learns which step failed and why.
TEST(PendingOutput, FailedCommitKeepsTheEarlierFile) {
    struct Case {
        const char* what;
        EntryFailure failure;
    } const cases[] = {{"flush", FailWriteError}, {"move", FailOutputCreate}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TempFolder folder;
        std::string final = folder.file("a.mp3");
        PendingOutput output;
        if (k.failure == FailWriteError) {
            writeFileContents(final, "earlier");
            ASSERT_EQ(openPendingOutput(&output, final.c_str()), 1);
            writeAll(output.file, "new");
            // A handle without write access cannot be flushed.
            CloseHandle(output.file);
            output.file = CreateFileA(output.tempPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(output.file, INVALID_HANDLE_VALUE);
        } else {
            // No file replaces a folder.
            ASSERT_TRUE(CreateDirectoryA(final.c_str(), nullptr));
            ASSERT_EQ(openPendingOutput(&output, final.c_str()), 1);
        }
        EntryFailure failure;
        DWORD error;
        EXPECT_EQ(commitPendingOutput(&output, &failure, &error), 0);
        EXPECT_EQ(failure, k.failure);
        EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED);
        EXPECT_EQ(pendingOutputFiles(folder.path()), 0);
        if (k.failure == FailWriteError) {
            EXPECT_EQ(fileContents(final), "earlier");
        } else {
            EXPECT_NE(GetFileAttributesA(final.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
            RemoveDirectoryA(final.c_str());
        }
    }
}

}  // namespace
