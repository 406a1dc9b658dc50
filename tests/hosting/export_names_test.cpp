#include <gtest/gtest.h>
TEST(ExportNames, Placeholder) { SUCCEED(); }
