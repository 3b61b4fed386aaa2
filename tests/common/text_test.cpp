#include "common/text.h"

#include <gtest/gtest.h>

using namespace common::literals;

TEST(TextTest, Smoke) { EXPECT_EQ(common::Find("abc", "c"), 3); }
