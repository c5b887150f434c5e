#include <gtest/gtest.h>

#include "core/Converter.h"

TEST(Converter, Smoke) {
    Converter c;
    EXPECT_EQ(c.cbrBitrate(1), 128);
}
