#include <gtest/gtest.h>

#include "gp/text_format.h"

using namespace quorvalind::gp;

TEST(TextFormat, Shortest) {
  EXPECT_EQ(shortest(1.0), "1");
  EXPECT_EQ(shortest(1e-7), "0.0000001");
  EXPECT_EQ(shortest(1e21), "1000000000000000000000");
  EXPECT_EQ(shortest(-0.0), "-0");
}
