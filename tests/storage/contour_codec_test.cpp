#include "storage/contour_codec.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "test_util.h"

namespace atlor {
namespace {

using test::Describe;
using test::Hex;
using test::ToHex;

using Bytes = std::vector<uint8_t>;

Bytes PointBlock(std::initializer_list<TGeoPoint> points) {
  TWriteBuffer out;
  for (const TGeoPoint& p : points) {
    out.PutDouble(p.X);
    out.PutDouble(p.Y);
  }
  return out.Take();
}

Bytes Double(double v) {
  TWriteBuffer out;
  out.PutDouble(v);
  return out.Take();
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A packed contour: Int32 P, the points, Int32 C, the commands.
Bytes Packed(const Bytes& points, const Bytes& commands) {
  TWriteBuffer out;
  out.PutI32(static_cast<int32_t>(points.size()));
  out.PutBytes(points);
  out.PutI32(static_cast<int32_t>(commands.size()));
  out.PutBytes(commands);
  return out.Take();
}

Bytes Write(const TContour& c) {
  TWriteBuffer out;
  WriteContour(c, out);
  return out.Take();
}

// The command block of a written contour.
Bytes Commands(const Bytes& packed) {
  TReadCursor in(packed);
  const TPackedView view = ReadPackedView(in);
  return Bytes(view.Commands.begin(), view.Commands.end());
}

TEST(ContourCodecTest, WritesRunsOfKinds) {
  TContour square;
  square.MoveTo({0, 0});
  square.LineTo({1, 0});
  square.LineTo({1, 1});
  square.ClosePath();
  EXPECT_EQ(Write(square),
            Cat({Hex("30 00 00 00"), PointBlock({{0, 0}, {1, 0}, {1, 1}}), Hex("05 00 00 00"),
                 Hex("00 01 01 02 03")}));

  TContour lines;
  for (int i = 0; i < 300; ++i) lines.LineTo({static_cast<double>(i), 0});
  const Bytes written = Write(lines);
  EXPECT_EQ(ToHex(Commands(written)), "01 FF 01 2D");
  EXPECT_EQ(written.size(), 4 + 300 * 16 + 4 + 4u);

  TContour closes;
  closes.MoveTo({0, 0});
  closes.ClosePath();
  closes.ClosePath();
  EXPECT_EQ(ToHex(Commands(Write(closes))), "00 01 03 03");

  TContour arcs;
  arcs.MoveTo({0, 0});
  arcs.ArcTo({2, 0}, 0.5);
  arcs.ArcTo({4, 0}, -0.5);
  arcs.CloseArc(1);
  arcs.CloseArc(0.25);
  EXPECT_EQ(Commands(Write(arcs)), Cat({Hex("00 01 02 02"), Double(0.5), Double(-0.5), Hex("04"),
                                        Double(1), Hex("04"), Double(0.25)}));

  EXPECT_EQ(ToHex(Write(TContour())), "00 00 00 00 00 00 00 00");
}

TEST(ContourCodecTest, PackedBlockIsKeptAndWrittenBackUnchanged) {
  // Two runs of one line each, and a point block with 4 spare bytes: a fresh encoding would
  // differ on both counts.
  const Bytes points = Cat({PointBlock({{0, 0}, {1, 0}, {2, 0}}), Hex("DE AD BE EF")});
  const Bytes block = Packed(points, Hex("00 01 01 01 01 01"));
  TReadCursor in(block);
  TContour c;
  ReadContour(c, in, kStorageVersionPacked);
  EXPECT_TRUE(in.AtEnd());
  ASSERT_TRUE(c.HasPackedData());
  EXPECT_EQ(Write(c), block);

  EXPECT_EQ(Describe(c), "M(0,0) L(1,0) L(2,0)");
  EXPECT_EQ(c.PointCount(), 3);
  EXPECT_EQ(ToHex(Commands(Write(c))), "00 01 01 02");
}

TEST(ContourCodecTest, UnpackRules) {
  struct Case {
    const char* name;
    Bytes points;
    Bytes commands;
    const char* nodes;
  } cases[] = {
      {"arc without a previous point is a line", PointBlock({{1, 2}}),
       Cat({Hex("02 01"), Double(0.5)}), "L(1,2)"},
      {"arc with zero bulge is a line", PointBlock({{0, 0}, {2, 0}}),
       Cat({Hex("00 01 02 01"), Double(0)}), "M(0,0) L(2,0)"},
      {"closing arc with zero bulge is a close", PointBlock({{0, 0}, {2, 0}}),
       Cat({Hex("00 01 01 01 04"), Double(0)}), "M(0,0) L(2,0) Z"},
      {"arcs", PointBlock({{0, 0}, {2, 0}}), Cat({Hex("00 01 02 01"), Double(-1), Hex("04"), Double(1)}),
       "M(0,0) A(2,0;-1) C(1)"},
      {"empty run", PointBlock({{0, 0}}), Hex("01 00 00 01"), "M(0,0)"},
      {"close without points", {}, Hex("03"), "Z"},
      {"two rings", PointBlock({{0, 0}, {1, 0}, {5, 5}, {6, 5}}),
       Cat({Hex("00 01 01 01 03 00 01 01 01 04"), Double(1)}),
       "M(0,0) L(1,0) Z M(5,5) L(6,5) C(1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TContour contour;
    Unpack(contour, TPackedView{c.points, c.commands});
    EXPECT_EQ(Describe(contour), c.nodes);
  }

  // A close before any move-to returns to the first point of the block.
  const Bytes points = PointBlock({{3, 4}, {5, 6}});
  const Bytes commands = Hex("01 02 03");
  TContour contour;
  Unpack(contour, TPackedView{points, commands});
  const TGeoPoint close_point = contour.Nodes().At(2).Point;
  EXPECT_EQ(test::Pt(close_point), "(3,4)");
  EXPECT_EQ(contour.PointCount(), 2);

  // The second ring's closing arc runs from its last point to its own start.
  TContour rings;
  const Bytes ring_points = PointBlock({{0, 0}, {1, 0}, {5, 5}, {7, 5}});
  const Bytes ring_commands = Cat({Hex("00 01 01 01 03 00 01 01 01 04"), Double(1)});
  Unpack(rings, TPackedView{ring_points, ring_commands});
  EXPECT_EQ(test::Pt(rings.Arcs().At(0).Center), "(6,5)");
}

TEST(ContourCodecTest, DamagedPackedBlocksAreContourErrors) {
  struct Case {
    const char* name;
    Bytes points;
    Bytes commands;
  } cases[] = {
      {"more points than the block holds", PointBlock({{0, 0}}), Hex("00 01 01 01")},
      {"point block shorter than a point", Hex("00 00 00 00 00 00 00 00"), Hex("00 01")},
      {"count cut off", PointBlock({{0, 0}}), Hex("00")},
      {"bulge cut off", PointBlock({{0, 0}, {1, 1}}), Hex("00 01 02 01 00 00 00")},
      {"closing bulge cut off", PointBlock({{0, 0}}), Hex("00 01 04 00 00")},
      {"kind 5", PointBlock({{0, 0}}), Hex("00 01 05")},
      {"kind FF", {}, Hex("FF")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes block = Packed(c.points, c.commands);
    TReadCursor in(block);
    TContour contour;
    ReadContour(contour, in, kStorageVersionCurrent);  // reading keeps the block undecoded
    EXPECT_THROW(contour.Decode(), EContourError);
    EXPECT_TRUE(contour.HasPackedData());  // left as it was
    EXPECT_EQ(Write(contour), block);
    EXPECT_THROW(contour.PointCount(), EContourError);
  }
}

TEST(ContourCodecTest, PackedLengthsOutsideTheValueFailTheRead) {
  const Bytes cases[] = {
      Hex("FF FF FF FF 00 00 00 00"),                  // negative P
      Hex("FF FF FF 7F 00 00 00 00"),                  // P far beyond the value
      Hex("00 00 00 00 F0 FF FF FF"),                  // negative C
      Cat({Hex("10 00 00 00"), PointBlock({{1, 1}})}), // C missing
      Hex("00 00 00 00 02 00 00 00 00"),               // C one byte short
  };
  for (const Bytes& value : cases) {
    SCOPED_TRACE(ToHex(value));
    TReadCursor in(value);
    TContour c;
    try {
      ReadContour(c, in, kStorageVersionCurrent);
      FAIL();
    } catch (const EContourError&) {
      FAIL() << "a stream error, not a contour error";
    } catch (const EStorageDataError&) {
    }
  }
}

TEST(ContourCodecTest, RingEncodingFromVersion260) {
  const Bytes value = Cat({Hex("01"), Hex("01 00"),                   // closed, one ring
                           Hex("04 00 61"), Double(0.5),              // 4 vertices, ring bulge
                           PointBlock({{0, 0}}),                      // first point
                           Hex("73"), PointBlock({{2, 0}}),           // 's'
                           Hex("61"), Double(-1), PointBlock({{4, 0}}),  // 'a' with bulge
                           Hex("78"),                                 // unknown: one byte only
                           Hex("61"), Double(0), PointBlock({{5, 0}}),  // zero bulge: a line
                           Hex("EE")});
  // N = 4 covers 's', 'a', 'x'; the zero-bulge arc belongs to nothing and stays unread.
  TReadCursor in(value);
  TContour c;
  ReadContour(c, in, kStorageVersionRingHeader);
  EXPECT_EQ(Describe(c), "M(0,0) L(2,0) A(4,0;-1) C(0.5)");
  EXPECT_EQ(in.Remaining(), 1u + 8 + 16 + 1);

  const Bytes open = Cat({Hex("00 02 00"), Hex("02 00 73"), PointBlock({{0, 0}}), Hex("61"),
                          Double(0), PointBlock({{1, 0}}), Hex("01 00 73"), PointBlock({{5, 5}})});
  TReadCursor in2(open);
  ReadContour(c, in2, kStorageVersionNoExtra);
  EXPECT_EQ(Describe(c), "M(0,0) L(1,0) M(5,5)");
  EXPECT_TRUE(in2.AtEnd());
}

TEST(ContourCodecTest, RingEncodingBefore260UsesThreePointArcs) {
  const Bytes value = Cat({Hex("01 01 00"), PointBlock({{0, 0}}), Hex("04 00"),
                           Hex("61"), PointBlock({{1, 1}, {2, 0}}),   // over the top: bulge -1
                           Hex("61"), PointBlock({{3, 0}, {4, 0}}),   // collinear: a line
                           Hex("61"), PointBlock({{4, 0}, {6, 0}}),   // repeated point: a line
                           Hex("73"), PointBlock({{6, 2}})});
  TReadCursor in(value);
  TContour c;
  ReadContour(c, in, 259);
  EXPECT_EQ(Describe(c), "M(0,0) A(2,0;-1) L(4,0) L(6,0) L(6,2) Z");
  EXPECT_TRUE(in.AtEnd());
}

TEST(ContourCodecTest, DamagedRingCountsFailTheRead) {
  const Bytes cases[] = {
      Hex("01 FF FF"),                                   // negative ring count
      Cat({Hex("01 01 00 00 80 73"), PointBlock({{0, 0}})}),  // negative vertex count
      Cat({Hex("01 01 00 05 00 73"), PointBlock({{0, 0}}), Hex("73")}),  // cut short
  };
  for (const Bytes& value : cases) {
    SCOPED_TRACE(ToHex(value));
    TReadCursor in(value);
    TContour c;
    EXPECT_THROW(ReadContour(c, in, kStorageVersionRingHeader), EStorageDataError);
  }
}

TEST(ContourCodecTest, StorageVersionSelectsTheGenericEncoding) {
  EXPECT_EQ(StorageVersion(), kStorageVersionCurrent);
  const Bytes ring = Cat({Hex("00 01 00 01 00 73"), PointBlock({{1, 2}})});
  {
    TStorageVersionScope scope(kStorageVersionNoExtra);
    TReadCursor in(ring);
    TContour c;
    ReadContour(c, in);
    EXPECT_EQ(Describe(c), "M(1,2)");
  }
  EXPECT_EQ(StorageVersion(), kStorageVersionCurrent);
  const Bytes packed = Packed(PointBlock({{1, 2}}), Hex("00 01"));
  TReadCursor in(packed);
  TContour c;
  ReadByStyle(c, kStyleGeneric, in);
  EXPECT_TRUE(c.HasPackedData());
  EXPECT_EQ(Describe(c), "M(1,2)");
}

TEST(ContourCodecTest, ReadByStyle) {
  const Bytes line = Cat({Hex("02 00"), PointBlock({{0, 0}, {1, 0}})});
  const Bytes rect7 = Cat({PointBlock({{0, 0}}), Double(1), Hex("00 00"), Double(0), Double(1),
                           Double(1), Double(4), Double(3)});
  const Bytes turned7 = Cat({PointBlock({{10, 0}}), Double(2), Hex("00 00"),
                             Double(1.5707963267948966), Double(1), Double(0), Double(2), Double(1)});
  const Bytes rect7_rings =
      Cat({Hex("00 04 00"), Hex("01 00 73"), PointBlock({{0, 0}}), Hex("01 00 73"),
           PointBlock({{1, 1}}), Hex("01 00 73"), PointBlock({{4, 1}}), Hex("01 00 73"),
           PointBlock({{1, 3}})});
  const Bytes three7 = Packed(PointBlock({{0, 0}, {1, 1}, {4, 1}}), Hex("00 03"));
  struct Case {
    const char* name;
    int style;
    int version;
    Bytes value;
    const char* nodes;
  } cases[] = {
      {"style 1 at 256 is open", 1, 256, line, "L(0,0) L(1,0)"},
      {"style 2 at 256 is closed", 2, 256, line, "L(0,0) L(1,0) Z"},
      {"style 1 with closed flag", 1, 257, Cat({line, Hex("01")}), "L(0,0) L(1,0) Z"},
      {"style 2 with open flag", 2, 286, Cat({line, Hex("00")}), "L(0,0) L(1,0)"},
      {"style 1 without points", 1, 300, Hex("00 00 00"), ""},
      {"style 4", 4, 264, PointBlock({{5, 6}}), "M(5,6)"},
      {"style 5", 5, 264, Cat({PointBlock({{2, 3}}), Double(1)}), "M(1,3) A(3,3;1) C(1)"},
      {"style 7 record", 7, 260, rect7, "M(4,1) L(2.5,-0.5) L(1,1) L(0,0) Z"},
      {"style 7 record turned", 7, 256, turned7, "M(10,4) L(10,2) L(10,2) L(10,0) Z"},
      {"style 7 generic rings", 7, 261, rect7_rings, "M(4,1) L(2.5,-0.5) L(1,1) L(0,0) Z"},
      {"style 7 with three points is copied", 7, 262, three7, "M(0,0) M(1,1) M(4,1)"},
      {"unknown style", 3, 264, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReadCursor in(c.value);
    TContour contour;
    contour.MoveTo({99, 99});  // cleared first
    ReadByStyle(contour, c.style, in, c.version);
    EXPECT_EQ(Describe(contour), c.nodes);
    EXPECT_TRUE(in.AtEnd());
  }

  const Bytes circle_value = Cat({PointBlock({{2, 3}}), Double(1)});
  TReadCursor in(circle_value);
  TContour circle;
  ReadByStyle(circle, kStyleCircle, in, 264);
  TGeoRect r;
  ASSERT_TRUE(circle.GetBounds(r));
  EXPECT_EQ(test::Rect(r), "(1,2,3,4)");
}

TEST(ContourCodecTest, ReadByStyleFailures) {
  const Bytes negative = Hex("FF FF");
  TReadCursor in(negative);
  TContour c;
  EXPECT_THROW(ReadByStyle(c, kStyleOpenLine, in, 286), EStorageDataError);

  const Bytes short_record(kStyle7RecordSize - 1, 0);
  TReadCursor in2(short_record);
  EXPECT_THROW(ReadByStyle(c, kStyleRectangle, in2, 260), EStorageDataError);

  // A style-7 packed block that does not decode is kept as read, to be dropped with its shape.
  const Bytes damaged = Packed(PointBlock({{0, 0}}), Hex("00 04"));
  TReadCursor in3(damaged);
  ReadByStyle(c, kStyleRectangle, in3, 263);
  EXPECT_TRUE(in3.AtEnd());
  EXPECT_TRUE(c.HasPackedData());
  EXPECT_THROW(c.Decode(), EContourError);
}

}  // namespace
}  // namespace atlor
