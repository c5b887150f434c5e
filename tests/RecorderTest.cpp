#include <gtest/gtest.h>

#include "tests/support/Recorder.h"

// A library that loads but lacks an entry point the jobs call is no encoder.
TEST(EncoderLibrary, LibraryWithoutEncodeChunkIsNotAvailable) {
    Converter c;
    EXPECT_EQ(useRecorder(c, true), 0);
    EXPECT_EQ(c.encoderLibrary, nullptr);
    EXPECT_EQ(c.beInitStream, nullptr);
    EXPECT_EQ(c.beEncodeChunk, nullptr);

    EXPECT_EQ(useRecorder(c), 1);
    EXPECT_NE(c.encoderLibrary, nullptr);
    EXPECT_NE(c.beInitStream, nullptr);
    EXPECT_NE(c.beEncodeChunk, nullptr);
    EXPECT_NE(c.beWriteVBRHeader, nullptr);
    EXPECT_NE(c.beVersion, nullptr);
    c.unloadEncoder();
    EXPECT_EQ(c.encoderLibrary, nullptr);
}

TEST(EncoderLibrary, MissingLibraryLeavesEncoderUnavailable) {
    Converter c;
    // No lame_enc.dll lies beside the test program.
    EXPECT_EQ(c.loadEncoder(), 0);
    EXPECT_EQ(c.encoderLibrary, nullptr);
}
