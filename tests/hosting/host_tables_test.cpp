// The host tables as a plugin sees them: sizes, the silent services and the warning boxes.
#include <gtest/gtest.h>

#include "wexlor_harness.h"

using namespace wxt;

TEST(HostTables, PlaceholderBuilds) { SUCCEED(); }
