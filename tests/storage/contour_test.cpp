#include "storage/contour.h"

#include <gtest/gtest.h>

#include "storage/contour_codec.h"
#include "test_util.h"

namespace atlor {
namespace {

using test::Describe;
using test::Rect;

TEST(ContourTest, CircleOfTwoHalfArcs) {
  TContour c;
  c.MoveTo({-1, 0});
  c.ArcTo({1, 0}, 1);
  c.CloseArc(1);
  EXPECT_EQ(c.PointCount(), 2);
  EXPECT_EQ(Describe(c), "M(-1,0) A(1,0;1) C(1)");
  const TContourArc a0 = c.Arcs().At(0);
  const TContourArc a1 = c.Arcs().At(1);
  EXPECT_EQ(test::Pt(a0.Center), "(0,0)");
  EXPECT_EQ(a0.Radius, 1);
  EXPECT_EQ(test::Pt(a1.Center), "(0,0)");  // from (1,0) back to the ring start
  TGeoRect r;
  ASSERT_TRUE(c.GetBounds(r));
  EXPECT_EQ(Rect(r), "(-1,-1,1,1)");
}

TEST(ContourTest, BoundsOfPointsAndDegenerateContours) {
  TContour single;
  single.MoveTo({3, 4});
  TGeoRect r;
  ASSERT_TRUE(single.GetBounds(r));
  EXPECT_EQ(Rect(r), "(3,4,3,4)");

  TContour empty;
  r = {9, 9, 9, 9};
  EXPECT_FALSE(empty.GetBounds(r));
  EXPECT_EQ(Rect(r), "(9,9,9,9)");

  TContour only_close;
  only_close.ClosePath();
  EXPECT_FALSE(only_close.GetBounds(r));

  // A contour may start with a line-to: that node starts its ring.
  TContour lines;
  lines.LineTo({0, 0});
  lines.LineTo({2, 0});
  lines.CloseArc(1);  // half circle from (2,0) back to (0,0), counter-clockwise: over the top
  ASSERT_TRUE(lines.GetBounds(r));
  EXPECT_EQ(Rect(r), "(0,0,2,1)");
}

TEST(ContourTest, ArcsAfterAClosedRingStartAtTheRingStart) {
  TContour c;
  c.MoveTo({0, 0});
  c.LineTo({4, 0});
  c.ClosePath();
  c.ArcTo({0, 2}, 1);  // segment from the ring's first vertex (0,0)
  const TContourArc arc = c.Arcs().At(0);
  EXPECT_EQ(test::Pt(arc.Center), "(0,1)");
  EXPECT_EQ(arc.Radius, 1);
  // Bounds walk from the last point (4,0), as the packed decoder does.
  EXPECT_EQ(c.Nodes().At(2).Kind, TNodeKind::nkClose);
  const TGeoPoint close_point = c.Nodes().At(2).Point;
  EXPECT_EQ(test::Pt(close_point), "(0,0)");
}

TEST(ContourTest, ArcNodesHoldTheirArcIndex) {
  TContour c;
  EXPECT_EQ(c.MoveTo({0, 0}), 0);
  EXPECT_EQ(c.ArcTo({2, 0}, 0), 1);  // a zero bulge still takes an arc record
  EXPECT_EQ(c.ArcTo({4, 0}, -1), 2);
  EXPECT_EQ(c.LineTo({5, 0}), 3);
  EXPECT_EQ(c.Nodes().At(1).ArcIndex, 0);
  EXPECT_EQ(c.Nodes().At(2).ArcIndex, 1);
  EXPECT_EQ(c.Nodes().At(3).ArcIndex, kNoArc);
  EXPECT_EQ(c.Arcs().Count(), 2);
  EXPECT_EQ(c.PointCount(), 4);
  TGeoRect r;
  ASSERT_TRUE(c.GetBounds(r));
  EXPECT_EQ(Rect(r), "(0,0,5,1)");  // the clockwise half from (2,0) to (4,0) rises to y = 1
}

TEST(ContourTest, ClearAndAssign) {
  TContour a;
  a.MoveTo({1, 1});
  a.ArcTo({3, 1}, 1);
  TContour b;
  b.LineTo({7, 7});
  b.Assign(a);
  EXPECT_EQ(Describe(b), "M(1,1) A(3,1;1)");
  EXPECT_EQ(b.PointCount(), 2);
  b.Assign(b);
  EXPECT_EQ(b.PointCount(), 2);
  b.Clear();
  EXPECT_EQ(b.PointCount(), 0);
  EXPECT_EQ(b.Nodes().Count(), 0);
  EXPECT_EQ(b.Arcs().Count(), 0);
}

TEST(ContourTest, PackedDataIsDecodedWhenFirstNeeded) {
  TContour source;
  source.MoveTo({0, 0});
  source.LineTo({1, 0});
  TWriteBuffer out;
  WriteContour(source, out);
  TReadCursor in(out.Data());
  TContour c;
  ReadContour(c, in, kStorageVersionCurrent);
  ASSERT_TRUE(c.HasPackedData());
  EXPECT_EQ(c.StoredNodes().Count(), 0);

  TContour copy;
  copy.Assign(c);  // decodes the other's block, leaving the other as it is
  EXPECT_FALSE(copy.HasPackedData());
  EXPECT_TRUE(c.HasPackedData());
  EXPECT_EQ(Describe(copy), "M(0,0) L(1,0)");

  EXPECT_EQ(c.PointCount(), 2);
  EXPECT_FALSE(c.HasPackedData());

  // Adding to a packed contour decodes it first.
  TReadCursor again(out.Data());
  ReadContour(c, again, kStorageVersionCurrent);
  c.LineTo({1, 1});
  EXPECT_EQ(Describe(c), "M(0,0) L(1,0) L(1,1)");
}

}  // namespace
}  // namespace atlor
