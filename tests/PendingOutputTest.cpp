#include <gtest/gtest.h>

#include "jobs/JobFrame.h"
#include "tests/support/Files.h"

// The temporary file beside an output takes no file of the user's over; a
// discarded one, or one that cannot be flushed, is deleted and the earlier
// output stays.
TEST(PendingOutput, TheEarlierOutputStaysUnlessACommitSucceeds) {
    TempFolder folder;
    std::string final = folder.file("b.mp3");
    writeFileContents(final, "earlier");
    writeFileContents(folder.file("b.~cb"), "the user's own");
    PendingOutput output;
    ASSERT_EQ(openPendingOutput(&output, final.c_str()), 1);
    EXPECT_EQ(std::string(output.tempPath), folder.file("b.~c1"));
    DWORD written;
    WriteFile(output.file, "half", 4, &written, nullptr);
    discardPendingOutput(&output);
    EXPECT_FALSE(fileExists(folder.file("b.~c1")));
    EXPECT_EQ(fileContents(folder.file("b.~cb")), "the user's own");

    // A handle without write access cannot be flushed.
    ASSERT_EQ(openPendingOutput(&output, final.c_str()), 1);
    WriteFile(output.file, "new", 3, &written, nullptr);
    CloseHandle(output.file);
    output.file = CreateFileA(output.tempPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EntryFailure failure;
    DWORD error;
    EXPECT_EQ(commitPendingOutput(&output, &failure, &error), 0);
    EXPECT_EQ(failure, FailWriteError);
    EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(fileExists(folder.file("b.~c1")));
    EXPECT_EQ(fileContents(final), "earlier");
}
