#include <gtest/gtest.h>
TEST(LameEnc, Placeholder) {}
