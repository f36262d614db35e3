#include "storage/map_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/contour_codec.h"
#include "storage/storage_error.h"
#include "storage/testing/objects_writer.h"
#include "test_util.h"

namespace atlor {
namespace {

using fixtures::Bytes;
using fixtures::EncodeObjects;
using fixtures::TFixtureObject;
using fixtures::TFixtureShape;
using test::Describe;
using test::Hex;
using test::Rect;
using test::ToHex;

const TObjectId kSector("0001000000AA");
const TObjectId kA("000100000001");
const TObjectId kB("000100000002");
const TObjectId kC("000100000003");
const TObjectId kStyle("00020000000A");

std::vector<std::string> Ids(const TMapObjectList& list) {
  std::vector<std::string> ids;
  for (int i = 0; i < list.Count(); ++i) ids.push_back(list[i]->Id().Str());
  return ids;
}

std::vector<std::string> Shapes(TMapObject& object) {
  std::vector<std::string> shapes;
  for (int i = 0; i < object.Shapes().Count(); ++i)
    shapes.push_back(Describe(object.Shapes()[i].Contour()));
  return shapes;
}

TContour& Polygon(TContour& c) {
  c.MoveTo({0, 0});
  c.LineTo({4, 0});
  c.ArcTo({4, 4}, 0.5);
  c.LineTo({0, 4});
  c.ClosePath();
  return c;
}
constexpr const char* kPolygon = "M(0,0) L(4,0) A(4,4;0.5) L(0,4) Z";

TFixtureShape GenericShape(TContour& c, int version, const TObjectId& style = kStyle) {
  return TFixtureShape{kStyleGeneric, fixtures::EncodeGeneric(c, version), style};
}

TFixtureShape RawShape(const Bytes& contour, int style = kStyleGeneric,
                       const TObjectId& style_id = kStyle) {
  return TFixtureShape{style, contour, style_id};
}

Bytes Packed(const Bytes& points, const Bytes& commands) {
  return fixtures::EncodePacked(points, commands);
}

const Bytes kGoodPacked = Packed(Bytes(32, 0), Hex("00 01 01 01"));
const Bytes kBadPacked = Packed(Bytes(16, 0), Hex("00 01 01 01"));  // two points asked, one held

TEST(MapObjectListTest, EmptyListIsSixBytes) {
  TMapObjectList list(nullptr, kSector);
  EXPECT_EQ(ToHex(list.SaveToBytes()), "F3 FF 1E 01 00 00");
  TMemoryLogSink log;
  EXPECT_TRUE(list.LoadFromBytes(Hex("F3 FF 1E 01 00 00"), log));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(MapObjectListTest, RoundTripInTheCurrentVersion) {
  TMapObjectList list(nullptr, kSector);
  RefHolder<TMapObject> a(new TMapObject());
  a->SetId(kA);
  a->SetBounds({0, -1, 4, 4});
  Polygon(a->Shapes().Add().Contour());
  TShape& circle = a->Shapes().Add();
  circle.Contour().MoveTo({10, 0});
  circle.Contour().ArcTo({12, 0}, 1);
  circle.Contour().CloseArc(1);
  circle.SetStyleId(FormatId(2, 11));
  a->Shapes()[0].SetStyleId(kStyle);
  list.Add(a.get());

  const Bytes value = list.SaveToBytes();
  EXPECT_EQ(ToHex(Bytes(value.begin(), value.begin() + 6)), "F3 FF 1E 01 01 00");
  TMapObjectList read(nullptr, kSector);
  TMemoryLogSink log;
  ASSERT_TRUE(read.LoadFromBytes(value, log));
  EXPECT_TRUE(log.Lines().empty());
  ASSERT_EQ(Ids(read), (std::vector<std::string>{"000100000001"}));
  TMapObject& b = *read[0];
  EXPECT_EQ(Rect(b.Bounds()), "(0,-1,4,4)");
  EXPECT_EQ(Shapes(b), (std::vector<std::string>{kPolygon, "M(10,0) A(12,0;1) C(1)"}));
  EXPECT_EQ(b.Shapes()[1].StyleId().Str(), "00020000000B");
  EXPECT_EQ(read.SaveToBytes(), value);
}

// The same objects stored in every format version decode alike.
TEST(MapObjectListTest, EveryFormatVersionDecodes) {
  for (int version = 256; version <= 290; ++version) {
    SCOPED_TRACE(version);
    const bool style_codes = version < kStorageVersionNoStyleCode;
    std::vector<TFixtureObject> objects(2);
    objects[0].Id = kA;
    objects[0].Bounds = {0, 0, 4, 4};
    TContour polygon;
    objects[0].Shapes.push_back(GenericShape(Polygon(polygon), version));
    objects[1].Id = kB;
    objects[1].Bounds = {};
    TContour ring;
    ring.MoveTo({1, 1});
    ring.LineTo({2, 1});
    std::vector<std::string> expected{kPolygon};
    std::vector<std::string> expected_b{"M(1,1) L(2,1)"};
    objects[1].Shapes.push_back(GenericShape(ring, version));
    if (style_codes) {
      objects[1].Shapes.push_back(RawShape(fixtures::EncodePointStyle({5, 6}), kStylePoint));
      objects[1].Shapes.push_back(RawShape(fixtures::EncodeCircleStyle({2, 3}, 1), kStyleCircle));
      objects[1].Shapes.push_back(
          RawShape(fixtures::EncodeLineStyle({{0, 0}, {1, 0}}, false, version), kStyleOpenLine));
      objects[1].Shapes.push_back(
          RawShape(fixtures::EncodeLineStyle({{0, 0}, {1, 0}}, true, version), kStyleClosedLine));
      if (version < kStorageVersionNoExtra) {
        objects[1].Shapes.push_back(RawShape(
            fixtures::EncodeStyle7Record({0, 0}, 1, 0, 1, 1, 4, 3), kStyleRectangle));
      } else {
        TContour corners;
        for (const TGeoPoint p : {TGeoPoint{0, 0}, {1, 1}, {4, 1}, {1, 3}}) corners.MoveTo(p);
        objects[1].Shapes.push_back(
            RawShape(fixtures::EncodeGeneric(corners, version), kStyleRectangle));
      }
      expected_b.insert(expected_b.end(), {"M(5,6)", "M(1,3) A(3,3;1) C(1)", "L(0,0) L(1,0)",
                                           "L(0,0) L(1,0) Z", "M(4,1) L(2.5,-0.5) L(1,1) L(0,0) Z"});
    }
    const Bytes value = EncodeObjects(version, objects, version != kStorageVersionHeaderless);
    if (version == kStorageVersionHeaderless) {
      ASSERT_NE(ToHex(value).substr(0, 5), "F3 FF");
    }

    TMapObjectList list(nullptr, kSector);
    TMemoryLogSink log;
    ASSERT_TRUE(list.LoadFromBytes(value, log));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(StorageVersion(), kStorageVersionCurrent);
    ASSERT_EQ(Ids(list), (std::vector<std::string>{"000100000001", "000100000002"}));
    EXPECT_EQ(Rect(list[0]->Bounds()), "(0,0,4,4)");
    EXPECT_EQ(Shapes(*list[0]), expected);
    EXPECT_EQ(Shapes(*list[1]), expected_b);

    // Written back in the current version, the objects read the same again.
    const Bytes current = list.SaveToBytes();
    EXPECT_EQ(ToHex(Bytes(current.begin(), current.begin() + 4)), "F3 FF 1E 01");
    TMapObjectList again(nullptr, kSector);
    ASSERT_TRUE(again.LoadFromBytes(current, log));
    EXPECT_EQ(Shapes(*again[1]), expected_b);
    EXPECT_EQ(again.SaveToBytes(), current);
  }
}

TEST(MapObjectListTest, HeaderlessValueLayout) {
  // Count, one object with the 16 extra bytes, one style-2 shape with its style code and no
  // closed flag.
  const Bytes value = Hex(
      "01 00"
      "0C 30 30 30 31 30 30 30 30 30 30 30 31"  // "000100000001"
      "00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00"
      "00 00 00 00 00 00 F0 3F  00 00 00 00 00 00 F0 3F"  // bounds (0, 0, 1, 1)
      "11 11 11 11 11 11 11 11  11 11 11 11 11 11 11 11"  // skipped
      "01 00"                                              // one shape
      "02 00"                                              // style 2
      "02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
      "00 00 00 00 00 00 F0 3F 00 00 00 00 00 00 F0 3F"   // (0,0) (1,1)
      "0C 30 30 30 32 30 30 30 30 30 30 30 41");          // "00020000000A"
  TMapObjectList list(nullptr, kSector);
  TMemoryLogSink log;
  ASSERT_TRUE(list.LoadFromBytes(value, log));
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(Rect(list[0]->Bounds()), "(0,0,1,1)");
  EXPECT_EQ(Shapes(*list[0]), (std::vector<std::string>{"L(0,0) L(1,1) Z"}));
  EXPECT_EQ(list[0]->Shapes()[0].StyleId().Str(), "00020000000A");
}

TEST(MapObjectListTest, StyleCodesEndWithVersion264) {
  TContour c;
  c.MoveTo({1, 1});
  std::vector<TFixtureObject> objects{{kA, {}, {GenericShape(c, 264)}}};
  const Bytes v264 = EncodeObjects(264, objects);
  const Bytes v265 = EncodeObjects(265, objects);
  EXPECT_EQ(v264.size(), v265.size() + 2);
  EXPECT_EQ(ToHex(Bytes(v264.begin() + 6 + 13 + 32 + 2, v264.begin() + 6 + 13 + 32 + 4)), "06 00");
  for (const Bytes* value : {&v264, &v265}) {
    TMapObjectList list;
    TMemoryLogSink log;
    ASSERT_TRUE(list.LoadFromBytes(*value, log));
    EXPECT_EQ(Shapes(*list[0]), (std::vector<std::string>{"M(1,1)"}));
  }
}

// Reports made during a decode see the value's version; afterwards it is back.
TEST(MapObjectListTest, StorageVersionIsTheValuesDuringTheDecode) {
  class VersionSink : public ILogSink {
   public:
    void WriteLine(const std::string&) override { versions.push_back(StorageVersion()); }
    std::vector<int> versions;
  } sink;
  std::vector<TFixtureObject> objects{{kA, {}, {}}};
  TMapObjectList list;
  EXPECT_TRUE(list.LoadFromBytes(EncodeObjects(263, objects), sink));
  EXPECT_EQ(sink.versions, (std::vector<int>{263, 263}));
  EXPECT_EQ(StorageVersion(), kStorageVersionCurrent);
}

TEST(MapObjectListTest, DuplicateIdentifiersKeepTheFirst) {
  TContour one, two, three;
  one.MoveTo({1, 1});
  two.MoveTo({2, 2});
  three.MoveTo({3, 3});
  std::vector<TFixtureObject> objects{{kA, {}, {GenericShape(one, 286)}},
                                      {kA, {}, {GenericShape(two, 286)}},
                                      {kB, {}, {GenericShape(three, 286)}}};
  TMapObjectList list;
  TMemoryLogSink log;
  EXPECT_TRUE(list.LoadFromBytes(EncodeObjects(286, objects), log));
  EXPECT_EQ(Ids(list), (std::vector<std::string>{"000100000001", "000100000002"}));
  EXPECT_EQ(Shapes(*list[0]), (std::vector<std::string>{"M(1,1)"}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(MapObjectListTest, DamagedValuesAreReportedAndSkipped) {
  const std::string header_line = "Ошибка. Ошибка при загрузке заголовка сектора 0001000000AA";
  const auto lost = [](int n) {
    return "Ошибка. Не могу загрузить сектор 0001000000AA. Потерянно " + std::to_string(n) +
           " объектов";
  };
  const std::string contour_lost =
      "Ошибка в контуре (стиль 00020000000A), объекта 000100000001. Контур потерян";
  const std::string no_shapes = "Ошибка. Объект 000100000001 не содержит ни одного контура";
  const std::string not_loaded = "Объект 000100000001 не загружен";

  const auto good = [](const TObjectId& id) {
    return TFixtureObject{id, {}, {RawShape(kGoodPacked)}};
  };
  const Bytes two_good = EncodeObjects(286, {good(kA), good(kB)});
  uint8_t long_id[TObjectId::kStoredSize] = {200, '0', '0', '0', '1', '0', '0',
                                             '0', '0', '0', '0', '0', '1'};

  struct Case {
    const char* name;
    Bytes value;
    bool result;
    std::vector<std::string> lines;
    std::vector<std::string> ids;
  } cases[] = {
      {"empty value", {}, false, {header_line}, {}},
      {"one byte", Hex("F3"), false, {header_line}, {}},
      {"header without count", Hex("F3 FF 1E 01"), false, {header_line}, {}},
      {"negative count", Hex("F3 FF 1E 01 FF FF"), false, {header_line}, {}},
      {"headerless negative count", Hex("00 80"), false, {header_line}, {}},
      {"lower-case identifier",
       EncodeObjects(286, {good(kA), good(TObjectId("00010000000b")), good(kC)}), false,
       {lost(2)}, {"000100000001"}},
      {"identifier length byte beyond the record",
       EncodeObjects(286, {good(kA), good(TObjectId::FromStored(long_id))}), false, {lost(1)},
       {"000100000001"}},
      {"invalid style identifier",
       EncodeObjects(286, {{kA, {}, {RawShape(kGoodPacked, 6, TObjectId("0002000000"))}}, good(kB)}),
       false, {lost(2)}, {}},
      {"value ends inside an object", Bytes(two_good.begin(), two_good.end() - 5), false, {lost(1)},
       {"000100000001"}},
      {"count larger than the objects stored",
       [&] {
         Bytes v = EncodeObjects(286, {good(kA)});
         v[4] = 3;
         return v;
       }(),
       false, {lost(2)}, {"000100000001"}},
      {"damaged packed contour drops its shape",
       EncodeObjects(286, {{kA, {}, {RawShape(kBadPacked), RawShape(kGoodPacked)}}, good(kB)}),
       true, {contour_lost}, {"000100000001", "000100000002"}},
      {"object whose only contour is damaged",
       EncodeObjects(286, {{kA, {}, {RawShape(kBadPacked)}}, good(kB)}), true,
       {contour_lost, no_shapes, not_loaded}, {"000100000002"}},
      {"object without shapes", EncodeObjects(286, {{kA, {}, {}}, good(kB)}), true,
       {no_shapes, not_loaded}, {"000100000002"}},
      {"negative shape count",
       [] { Bytes v = EncodeObjects(286, {{kA, {}, {}}}); v[6 + 13 + 32 + 1] = 0xFF; return v; }(),
       false, {lost(1)}, {}},
      {"negative point block length",
       EncodeObjects(286, {{kA, {}, {RawShape(Hex("FF FF FF FF 00 00 00 00"))}}}), false,
       {lost(1)}, {}},
      {"point block length beyond the value",
       EncodeObjects(286, {{kA, {}, {RawShape(Hex("FF FF FF 7F 00 00 00 00"))}}}), false,
       {lost(1)}, {}},
      {"negative ring count", EncodeObjects(261, {{kA, {}, {RawShape(Hex("01 00 80"))}}}), false,
       {lost(1)}, {}},
      {"negative point count of style 1",
       EncodeObjects(264, {{kA, {}, {RawShape(Hex("FF FF"), kStyleOpenLine)}}}), false, {lost(1)},
       {}},
      {"damaged packed rectangle drops its shape",
       EncodeObjects(263, {{kA, {}, {RawShape(kBadPacked, kStyleRectangle), RawShape(kGoodPacked)}}}),
       true, {contour_lost}, {"000100000001"}},
      {"unknown style leaves an empty contour",
       EncodeObjects(264, {{kA, {}, {RawShape({}, 3)}}}), true, {}, {"000100000001"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMapObjectList list(nullptr, kSector);
    TMemoryLogSink log;
    EXPECT_EQ(list.LoadFromBytes(c.value, log), c.result);
    EXPECT_EQ(log.Lines(), c.lines);
    EXPECT_EQ(Ids(list), c.ids);
    EXPECT_EQ(StorageVersion(), kStorageVersionCurrent);
  }
}

TEST(MapObjectListTest, DroppedShapeLeavesTheOthers) {
  TMapObjectList list;
  TMemoryLogSink log;
  ASSERT_TRUE(list.LoadFromBytes(
      EncodeObjects(286, {{kA, {}, {RawShape(kBadPacked), RawShape(kGoodPacked)}}}), log));
  EXPECT_EQ(Shapes(*list[0]), (std::vector<std::string>{"M(0,0) L(0,0)"}));
}

TEST(MapObjectTest, UpdateBounds) {
  struct Case {
    const char* name;
    TGeoRect stored;
    std::vector<std::vector<TGeoPoint>> shapes;  // each shape: move-to then line-tos
    bool result;
    const char* bounds;
  } cases[] = {
      {"zero takes the shapes' bounds", {0, 0, 0, 0}, {{{1, 2}, {3, 4}}}, true, "(1,2,3,4)"},
      {"zero without shapes stays", {0, 0, 0, 0}, {}, false, "(0,0,0,0)"},
      {"zero with an empty contour stays", {0, 0, 0, 0}, {{}}, false, "(0,0,0,0)"},
      {"no shape bounds resets", {5, 5, 6, 6}, {{}}, true, "(0,0,0,0)"},
      {"inside changes nothing", {0, 0, 10, 10}, {{{1, 1}, {2, 2}}}, false, "(0,0,10,10)"},
      {"widened", {2, 2, 3, 3}, {{{1, 1}, {4, 4}}}, true, "(1,1,4,4)"},
      {"widened on one side", {0, 0, 1, 1}, {{{-1, 0.5}}}, true, "(-1,0,1,1)"},
      {"union of shapes", {0, 0, 0, 0}, {{}, {{1, 1}}, {{-2, 5}, {0, 0}}}, true, "(-2,0,1,5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RefHolder<TMapObject> object(new TMapObject());
    object->SetBounds(c.stored);
    for (const auto& points : c.shapes) {
      TContour& contour = object->Shapes().Add().Contour();
      for (size_t i = 0; i < points.size(); ++i)
        i == 0 ? contour.MoveTo(points[i]) : contour.LineTo(points[i]);
    }
    EXPECT_EQ(object->UpdateBounds(), c.result);
    EXPECT_EQ(Rect(object->Bounds()), c.bounds);
  }

  RefHolder<TMapObject> circle(new TMapObject());
  TContour& c = circle->Shapes().Add().Contour();
  c.MoveTo({-1, 0});
  c.ArcTo({1, 0}, 1);
  c.CloseArc(1);
  EXPECT_TRUE(circle->UpdateBounds());
  EXPECT_EQ(Rect(circle->Bounds()), "(-1,-1,1,1)");
}

TEST(MapObjectListTest, HoldsOneReferencePerObject) {
  RefHolder<TMapObject> a(new TMapObject());
  RefHolder<TMapObject> b(new TMapObject());
  RefHolder<TMapObject> c(new TMapObject());
  RefHolder<TMapObject> twin(new TMapObject());
  a->SetId(kA);
  b->SetId(kB);
  c->SetId(kC);
  twin->SetId(kA);
  {
    TMapObjectList list;
    EXPECT_TRUE(list.Add(a.get()));
    EXPECT_TRUE(list.Add(b.get()));
    EXPECT_TRUE(list.Add(c.get()));
    EXPECT_FALSE(list.Add(twin.get()));
    EXPECT_EQ(a->RefCount(), 2);
    EXPECT_EQ(twin->RefCount(), 1);
    EXPECT_TRUE(list.ContainsId(kA));

    list.Remove(b.get());
    EXPECT_EQ(b->RefCount(), 1);
    EXPECT_EQ(Ids(list), (std::vector<std::string>{"000100000001", "000100000003"}));
    list.Remove(b.get());  // not there: nothing happens
    list.Remove(a.get());  // the first one
    EXPECT_EQ(Ids(list), (std::vector<std::string>{"000100000003"}));
    EXPECT_EQ(list.IndexOf(c.get()), 0);
    EXPECT_FALSE(list.ContainsId(kA));
    EXPECT_TRUE(list.Add(twin.get()));  // the identifier is free again
    EXPECT_EQ(Ids(list), (std::vector<std::string>{"000100000003", "000100000001"}));
    EXPECT_THROW(list.Items(2), std::out_of_range);
    EXPECT_THROW(list.Items(-1), std::out_of_range);
  }
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(c->RefCount(), 1);
  EXPECT_EQ(twin->RefCount(), 1);
}

TEST(MapObjectListTest, TakingFromTheFrontKeepsTheOrder) {
  TMapObjectList list;
  for (int i = 0; i < 300; ++i) {
    RefHolder<TMapObject> o(new TMapObject());
    o->SetId(FormatId(1, i));
    list.Add(o.get());
  }
  for (int i = 0; i < 250; ++i) {
    ASSERT_EQ(list[0]->Id(), FormatId(1, i));
    list.Remove(list[0]);
  }
  EXPECT_EQ(list.Count(), 50);
  EXPECT_EQ(list[49]->Id(), FormatId(1, 299));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(MapObjectListTest, CountsAboveInt16AreRefusedWhenWriting) {
  TMapObjectList list(nullptr, kSector);
  for (int i = 0; i < 32768; ++i) {
    RefHolder<TMapObject> o(new TMapObject());
    o->SetId(FormatId(1, i));
    list.Add(o.get());
  }
  try {
    list.SaveToBytes();
    FAIL();
  } catch (const EStorageWriteError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Слишком много объектов в секторе 0001000000AA: 32768 (допустимо не более 32767)");
  }

  RefHolder<TMapObject> o(new TMapObject());
  o->SetId(kA);
  for (int i = 0; i < 32768; ++i) o->Shapes().Add();
  TWriteBuffer out;
  EXPECT_THROW(o->SaveToStream(out), EStorageWriteError);
}

}  // namespace
}  // namespace atlor
