#include <gtest/gtest.h>

#include "mesh/tri_mesh.h"

using namespace quorvalind::mesh;

TEST(Weld, KeyHalfAwayFromZero) { EXPECT_EQ(weld_key(0.5), 1); }
