#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "gp/ax1.h"
#include "gp/bbox.h"
#include "gp/halves.h"
#include "gp/text_format.h"
#include "gp/speed_knobs.h"
#include "gp/tolerances.h"
#include "gp/trsf.h"

using namespace quorvalind::gp;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
}  // namespace

struct TextCase {
  double value;
  const char* shortest;
  const char* four;
  const char* six;
};

class TextForms : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextForms, AllThreeForms) {
  const TextCase& c = GetParam();
  EXPECT_EQ(shortest(c.value), c.shortest);
  EXPECT_EQ(fixed(c.value, 4), c.four);
  EXPECT_EQ(fixed(c.value, 6), c.six);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TextForms,
    ::testing::Values(
        TextCase{1.0, "1", "1.0000", "1.000000"}, TextCase{0.5, "0.5", "0.5000", "0.500000"},
        TextCase{-0.0, "-0", "-0.0000", "-0.000000"}, TextCase{0.1, "0.1", "0.1000", "0.100000"},
        TextCase{1e-7, "0.0000001", "0.0000", "0.000000"},
        TextCase{-1e-7, "-0.0000001", "-0.0000", "-0.000000"},
        TextCase{1e21, "1000000000000000000000", "1000000000000000000000.0000",
                 "1000000000000000000000.000000"},
        // Shortest digits, not the exact integer 99999999999999991611392.
        TextCase{1e23, "100000000000000000000000", "99999999999999991611392.0000",
                 "99999999999999991611392.000000"},
        TextCase{1e16, "10000000000000000", "10000000000000000.0000", "10000000000000000.000000"},
        TextCase{1.0 / 3.0, "0.3333333333333333", "0.3333", "0.333333"},
        TextCase{1234.56789, "1234.56789", "1234.5679", "1234.567890"},
        TextCase{-2.5, "-2.5", "-2.5000", "-2.500000"},
        TextCase{0.0000006, "0.0000006", "0.0000", "0.000001"}, TextCase{kNaN, "NaN", "NaN", "NaN"},
        TextCase{kInf, "inf", "inf", "inf"}, TextCase{-kInf, "-inf", "-inf", "-inf"}));

TEST(TextForms, FixedTiesToEvenOnExactBinaryValue) {
  // 0.125 is exact: a true tie, rounded to even.
  EXPECT_EQ(fixed(0.125, 2), "0.12");
  EXPECT_EQ(fixed(0.375, 2), "0.38");
  // 2.675 is stored below the decimal tie, so it rounds down.
  EXPECT_EQ(fixed(2.675, 2), "2.67");
}

TEST(TextForms, SmallestSubnormalPositional) {
  EXPECT_EQ(shortest(5e-324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(fixed(5e-324, 6), "0.000000");
}

TEST(TextForms, LargestDoubleWrittenInFull) {
  const std::string s = fixed(std::numeric_limits<double>::max(), 6);
  EXPECT_EQ(s.size(), 309u + 7u);
  EXPECT_EQ(shortest(std::numeric_limits<double>::max()).size(), 309u);
}

TEST(Ax1, DirectionNormalisation) {
  EXPECT_EQ(make_ax1({}, {0, 0, 0}).direction.z, 1.0);
  EXPECT_EQ(make_ax1({}, {1e-10, 0, 0}).direction.z, 1.0);
  const Ax1 a = make_ax1({}, {1e-9, 0, 0});  // exactly the threshold: normalised
  EXPECT_EQ(a.direction.x, 1e-9 * (1.0 / 1e-9));
  EXPECT_EQ(a.direction.z, 0.0);
  const Ax1 b = make_ax1({}, {0, 3, 4});
  EXPECT_EQ(b.direction.y, 3.0 * (1.0 / 5.0));
  EXPECT_EQ(b.direction.z, 4.0 * (1.0 / 5.0));
  const Ax1 n = make_ax1({}, {kNaN, 0, 1});
  EXPECT_TRUE(std::isnan(n.direction.x) && std::isnan(n.direction.y) && std::isnan(n.direction.z));
}

TEST(BBox, VolumeClamps) {
  EXPECT_EQ(volume(BBox{{0, 0, 0}, {2, 3, 4}}), 24.0);
  EXPECT_EQ(volume(BBox{{1, 0, 0}, {0, 5, 5}}), 0.0);
  EXPECT_EQ(volume(BBox{{0, 5, 0}, {1, 0, 1}}), 0.0);
  EXPECT_EQ(volume(BBox{{0, 0, 0}, {1, kNaN, 1}}), 0.0);
}

TEST(Trsf, CompositionOrderAndRotation) {
  const Trsf a = then(translation({1, 0, 0}), scale_uniform(2));
  EXPECT_EQ(apply(a, {0, 0, 0}).x, 2.0);
  const Trsf b = then(scale_uniform(2), translation({1, 0, 0}));
  EXPECT_EQ(apply(b, {0, 0, 0}).x, 1.0);
  const Trsf r = rotation(make_ax1({1, 0, 0}, {0, 0, 1}), PI);
  const Pnt fixed_pt = apply(r, {1, 0, 5});
  EXPECT_NEAR(fixed_pt.x, 1.0, 1e-15);
  EXPECT_EQ(fixed_pt.z, 5.0);
  const Pnt q = apply(r, {2, 0, 0});
  EXPECT_NEAR(q.x, 0.0, 1e-15);
  EXPECT_NEAR(q.y, 0.0, 1e-15);
  // Hand-built zero direction: rotation about +z.
  const Trsf z = rotation(Ax1{{0, 0, 0}, {0, 0, 0}}, PI / 2);
  EXPECT_EQ(apply(z, {1, 0, 0}).x, std::cos(PI / 2));
  EXPECT_EQ(determinant(scale_xyz(1, 1, -1)), -1.0);
}

namespace {

int refuse_to_start(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }

}  // namespace

// Without a second thread both halves still run, in order, on the caller.
TEST(Halves, RefusedThreadRunsBothHalvesInOrder) {
  std::vector<int> order;
  std::vector<bool> on_caller;
  const pthread_t caller = pthread_self();
  run_halves(
      [&](int h) {
        order.push_back(h);
        on_caller.push_back(pthread_equal(pthread_self(), caller) != 0);
      },
      &refuse_to_start);
  EXPECT_EQ(order, (std::vector<int>{0, 1}));
  EXPECT_EQ(on_caller, (std::vector<bool>{true, true}));
}

TEST(Halves, SecondHalfRunsOnItsOwnThreadWithTheRequestedStack) {
  const pthread_t caller = pthread_self();
  bool elsewhere = false;
  std::size_t stack = 0;
  run_halves([&](int h) {
    if (h == 0) return;
    elsewhere = pthread_equal(pthread_self(), caller) == 0;
    pthread_attr_t attr;
    pthread_getattr_np(pthread_self(), &attr);
    pthread_attr_getstacksize(&attr, &stack);
    pthread_attr_destroy(&attr);
  });
  EXPECT_TRUE(elsewhere);
  EXPECT_GE(stack, HALF_THREAD_STACK_SIZE);
}

// A throwing half never leaves the other running: the exception arrives
// after both are done, the first half's when both throw.
TEST(Halves, ExceptionsArriveAfterBothHalves) {
  for (ThreadStarter start : {ThreadStarter{&pthread_create}, ThreadStarter{&refuse_to_start}}) {
    for (int thrower : {0, 1, 2}) {  // 2: both
      bool done[2] = {false, false};
      try {
        run_halves(
            [&](int h) {
              done[h] = true;
              if (thrower == h || thrower == 2)
                throw std::runtime_error(h == 0 ? "first" : "second");
            },
            start);
        ADD_FAILURE() << "no exception from " << thrower;
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), thrower == 1 ? "second" : "first") << thrower;
      }
      EXPECT_TRUE(done[0]);
      // On the caller alone, a failed first half ends the work.
      EXPECT_EQ(done[1], start == &pthread_create || thrower == 1) << thrower;
    }
  }
}
