#include "storage/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_util.h"

namespace atlor {
namespace {

using test::Pt;
using test::Rect;

constexpr double kPiD = 3.14159265358979323846;

TEST(GeometryTest, AngleOfLiesInZeroToTwoPi) {
  EXPECT_DOUBLE_EQ(AngleOf({0, 0}, {0, -1}), 3 * kPiD / 2);
  EXPECT_EQ(AngleOf({0, 0}, {1, 0}), 0);
  EXPECT_DOUBLE_EQ(AngleOf({1, 1}, {0, 1}), kPiD);
  // Just below the x axis: never a full turn.
  const double a = AngleOf({0, 0}, {1, -1e-300});
  EXPECT_GE(a, 0);
  EXPECT_LT(a, 2 * kPiD);
  EXPECT_EQ(Distance({0, 0}, {3, 4}), 5);
}

TEST(GeometryTest, Rectangles) {
  TGeoRect r{10, 20, 0, 5};
  Normalize(r);
  EXPECT_EQ(Rect(r), "(0,5,10,20)");
  EXPECT_EQ(Rect(RectOfPoints({3, 1}, {1, 3})), "(1,1,3,3)");
  IncludePoint(r, {-1, 30});
  EXPECT_EQ(Rect(r), "(-1,5,10,30)");
  EXPECT_EQ(Rect(Union({0, 0, 1, 1}, {-1, 0.5, 0.5, 2})), "(-1,0,1,2)");
  EXPECT_EQ(Pt(Center({0, 0, 10, 20})), "(5,10)");

  EXPECT_TRUE(Contains({0, 0, 10, 10}, {0, 0, 10, 10}));
  EXPECT_FALSE(Contains({0, 0, 10, 10}, {-0.0001, 0, 1, 1}));
  EXPECT_TRUE(Contains({0, 0, 10, 10}, {5, 5, 5, 5}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(Contains({0, 0, 10, 10}, {nan, 0, 1, 1}));
  EXPECT_FALSE(Contains({nan, 0, 10, 10}, {1, 1, 2, 2}));
}

TEST(GeometryTest, FramesMapBothWays) {
  const TAxes f = MakeAxes({1, 1}, {1, 3});  // x axis pointing up
  EXPECT_FALSE(f.AngleKnown);
  EXPECT_EQ(Pt(ToLocal(f, {1, 3})), "(2,0)");
  EXPECT_EQ(Pt(ToLocal(f, {0, 1})), "(0,1)");
  EXPECT_EQ(Pt(ToWorld(f, {2, 1})), "(0,3)");

  const TAxes same = MakeAxes({2, 2}, {2, 2});
  EXPECT_TRUE(same.AngleKnown);
  EXPECT_EQ(same.Angle, 0);
  EXPECT_EQ(Pt(ToLocal(same, {3, 5})), "(1,3)");

  const TAxes turned = MakeAxesAngle({10, 0}, kPi / 2);
  EXPECT_EQ(Pt(ToWorld(turned, {2, 0})), "(10,2)");
  const TGeoPoint back = ToLocal(turned, ToWorld(turned, {0.3, -7}));
  EXPECT_NEAR(back.X, 0.3, 1e-12);
  EXPECT_NEAR(back.Y, -7, 1e-12);
}

TEST(GeometryTest, ArcFromBulge) {
  TGeoPoint c;
  double sweep;
  ASSERT_TRUE(ArcFromBulge({-1, 0}, {1, 0}, 1, c, sweep));
  EXPECT_EQ(Pt(c), "(0,0)");
  EXPECT_DOUBLE_EQ(sweep, kPiD);
  ASSERT_TRUE(ArcFromBulge({-1, 0}, {1, 0}, -1, c, sweep));
  EXPECT_EQ(Pt(c), "(0,0)");
  EXPECT_DOUBLE_EQ(sweep, -kPiD);

  // A quarter circle counter-clockwise from (1,0) to (0,1) around the origin.
  const double quarter = std::tan(kPiD / 8);
  ASSERT_TRUE(ArcFromBulge({1, 0}, {0, 1}, quarter, c, sweep));
  EXPECT_NEAR(c.X, 0, 1e-15);
  EXPECT_NEAR(c.Y, 0, 1e-15);
  EXPECT_NEAR(sweep, kPiD / 2, 1e-12);

  // Nearly straight: the centre lies far off the chord, at h(1-b²)/(2b).
  const double b = 0.005;
  ASSERT_TRUE(ArcFromBulge({0, 0}, {2, 0}, b, c, sweep));
  EXPECT_NEAR(c.X, 1, 1e-9);
  EXPECT_NEAR(c.Y, (1 - b * b) / (2 * b), 1e-9);
  EXPECT_NEAR(sweep, 4 * std::atan(b), 1e-9);

  c = {7, 7};
  EXPECT_FALSE(ArcFromBulge({0, 0}, {2, 0}, 0, c, sweep));
  EXPECT_EQ(Pt(c), "(7,7)");  // nothing computed
}

TEST(GeometryTest, AngleInSweepIncludesEndsAndWraps) {
  EXPECT_TRUE(AngleInSweep(kPiD, kPiD, 2 * kPiD));
  EXPECT_TRUE(AngleInSweep(kPiD, kPiD, 0));  // 0 + 2π
  EXPECT_FALSE(AngleInSweep(kPiD, kPiD, kPiD / 2));
  EXPECT_TRUE(AngleInSweep(-kPiD / 2, kPiD / 4, 0));  // clockwise through 0
  EXPECT_TRUE(AngleInSweep(-kPiD / 2, kPiD / 4, 2 * kPiD - 0.1));
  EXPECT_FALSE(AngleInSweep(-kPiD / 2, kPiD / 4, kPiD));
}

TEST(GeometryTest, ArcBoundsTakeTheExtremesTheArcPasses) {
  // Lower half circle from (-1,0) to (1,0).
  EXPECT_EQ(Rect(ArcBounds({-1, 0}, {1, 0}, {0, 0}, 1, kPiD, 1)), "(-1,-1,1,0)");
  // Upper half.
  EXPECT_EQ(Rect(ArcBounds({-1, 0}, {1, 0}, {0, 0}, -1, -kPiD, 1)), "(-1,0,1,1)");
  // A bulge of (almost) nothing is the chord.
  EXPECT_EQ(Rect(ArcBounds({-1, 0}, {1, 0}, {0, 0}, 1e-16, kPiD, 1)), "(-1,0,1,0)");
}

TEST(GeometryTest, CircleThroughThreePoints) {
  TGeoPoint c;
  double sweep;
  ASSERT_TRUE(CircleThrough3({0, 0}, {1, 1}, {2, 0}, c, sweep));
  EXPECT_NEAR(c.X, 1, 1e-15);
  EXPECT_NEAR(c.Y, 0, 1e-15);
  EXPECT_NEAR(sweep, -kPiD, 1e-12);  // clockwise over the top
  ASSERT_TRUE(CircleThrough3({0, 0}, {1, -1}, {2, 0}, c, sweep));
  EXPECT_NEAR(sweep, kPiD, 1e-12);
  EXPECT_FALSE(CircleThrough3({0, 0}, {1, 1}, {2, 2}, c, sweep));
}

TEST(GeometryTest, BulgeFromThreePoints) {
  double b = 99;
  ASSERT_TRUE(BulgeFrom3Points({0, 0}, {1, 1}, {2, 0}, b));
  EXPECT_NEAR(b, -1, 1e-12);
  ASSERT_TRUE(BulgeFrom3Points({0, 0}, {1, -1}, {2, 0}, b));
  EXPECT_NEAR(b, 1, 1e-12);
  // A quarter circle: bulge tan(π/8), counter-clockwise.
  const double s = std::sqrt(0.5);
  ASSERT_TRUE(BulgeFrom3Points({1, 0}, {s, s}, {0, 1}, b));
  EXPECT_NEAR(b, std::tan(kPiD / 8), 1e-12);
  // Three quarters clockwise, the long way round.
  ASSERT_TRUE(BulgeFrom3Points({1, 0}, {-s, -s}, {0, 1}, b));
  EXPECT_NEAR(b, -std::tan(3 * kPiD / 8), 1e-12);

  EXPECT_FALSE(BulgeFrom3Points({0, 0}, {1, 1}, {2, 2}, b));
  b = 99;
  ASSERT_TRUE(BulgeFrom3Points({0, 0}, {0, 0}, {2, 2}, b));
  EXPECT_EQ(b, 0);
  ASSERT_TRUE(BulgeFrom3Points({0, 0}, {1, 1}, {0, 0}, b));
  EXPECT_EQ(b, 0);
  EXPECT_NEAR(BulgeFromCenter({0, 0}, {1, 0}, {2, 0}, false), 1, 1e-15);
  EXPECT_NEAR(BulgeFromCenter({0, 0}, {1, 0}, {2, 0}, true), -1, 1e-15);
}

}  // namespace
}  // namespace atlor
