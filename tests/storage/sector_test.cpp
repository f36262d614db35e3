#include "storage/layers_sectors.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ardb/ardb_utils.h"
#include "facade_test_db.h"
#include "test_util.h"
#include "storage/atlor_base.h"
#include "storage/contour_codec.h"
#include "storage/testing/objects_writer.h"

namespace atlor {
namespace {

using test::TFacadeTestDb;

const char* const kTmp = "ATLOR_SECTORS_TMP";

TGeoRect Rect(double x1, double y1, double x2, double y2) { return TGeoRect{x1, y1, x2, y2}; }

std::string Str(const TGeoRect& r) {
  return "(" + std::to_string(r.X1) + ", " + std::to_string(r.Y1) + ", " + std::to_string(r.X2) +
         ", " + std::to_string(r.Y2) + ")";
}

class SectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_->Open(TFacadeTestDb::kDescription);
    for (const char* t : {"ATLOR_DBINFO", "ATLOR_IDMAPER", "ATLOR_LAYERS", "ATLOR_MAPS",
                          "ATLOR_AREAS", "ATLOR_SECTORS"})
      db_->CreateAtlorTable(t);
    db_->CreateAtlorTable("ATLOR_SECTORS", kTmp);
    db_->AddRow("ATLOR_DBINFO", {{"DBID", Value("DB")},
                                 {"IDGROUP", Value(0x12)},
                                 {"IDNUMBER", Value(0x3F)},
                                 {"VERSION", Value(265)}});
    db_->Made.clear();
    db_->Executions().clear();
  }

  // A sector row of ATLOR_SECTORS with the stored (left, right, top, bottom) bounds.
  void AddSector(const std::string& id, double l, double r, double t, double b,
                 std::vector<std::string> children = {}, Value objects = Value::Null()) {
    std::map<std::string, Value> row = {{"ID", Value(id)},
                                        {"LAYERID", Value("000100000001")},
                                        {"BOUNDSL", Value(l)},
                                        {"BOUNDSR", Value(r)},
                                        {"BOUNDST", Value(t)},
                                        {"BOUNDSB", Value(b)},
                                        {"OBJECTS", objects}};
    for (size_t q = 0; q < children.size(); ++q)
      if (!children[q].empty()) row["S" + std::to_string(q)] = Value(children[q]);
    db_->AddRow("ATLOR_SECTORS", row);
  }

  TSector* Load(const std::string& id, const std::string& table = "ATLOR_SECTORS") {
    holders_.push_back(std::make_unique<RefHolder<TSector>>(base_->LoadSector(id, table), kAdoptRef));
    return holders_.back()->get();
  }

  // A map object with the given bounds (no shapes: only its rectangle matters here).
  static void AddObject(TSector& s, const std::string& id, const TGeoRect& r) {
    TMapObject* o = new TMapObject();
    o->SetId(TObjectId(id));
    o->SetBounds(r);
    s.Objects().Add(o);
  }

  IntfPtr<TFacadeTestDb> db_{new TFacadeTestDb};
  TMemoryLogSink log_;
  RefHolder<TAtlorBase> base_{new TAtlorBase(IntfPtr<IArDb>(db_.get()), log_)};
  std::vector<std::unique_ptr<RefHolder<TSector>>> holders_;

  void TearDown() override { holders_.clear(); }
};

TEST(QuadrantTest, QuartersAtTheCentre) {
  const TGeoRect r = Rect(0, 0, 10, 20);
  EXPECT_EQ(QuadrantOf(r, 0), Rect(0, 10, 5, 20));
  EXPECT_EQ(QuadrantOf(r, 1), Rect(5, 10, 10, 20));
  EXPECT_EQ(QuadrantOf(r, 2), Rect(0, 0, 5, 10));
  EXPECT_EQ(QuadrantOf(r, 3), Rect(5, 0, 10, 10));
  EXPECT_THROW(QuadrantOf(r, 4), EAssertionFailed);
  EXPECT_THROW(QuadrantOf(r, -1), EAssertionFailed);
}

TEST_F(SectorTest, LoadSectorReadsTheRowAndNormalizesTheBounds) {
  // Left above right and bottom above top: stored swapped.
  AddSector("001200000001", 10, 0, 5, 25, {"", "001200000002", "001200000003", "001200000004"});
  TSector* s = Load("001200000001");
  EXPECT_EQ(s->Id().Str(), "001200000001");
  EXPECT_EQ(s->LayerId().Str(), "000100000001");
  EXPECT_EQ(s->Bounds(), Rect(0, 5, 10, 25)) << Str(s->Bounds());
  EXPECT_EQ(s->TableName(), "ATLOR_SECTORS");
  EXPECT_EQ(s->Children(0).Str(), "");
  EXPECT_EQ(s->Children(3).Str(), "001200000004");
  EXPECT_FALSE(s->HasChildren());  // S0 empty: a leaf whatever S1..S3 say
  EXPECT_EQ(s->Objects().Count(), 0);
  EXPECT_EQ(s->RefCount(), 1);

  const std::string sql =
      "SELECT [ATLOR_SECTORS].[LAYERID],[ATLOR_SECTORS].[BOUNDSL],[ATLOR_SECTORS].[BOUNDSR],"
      "[ATLOR_SECTORS].[BOUNDST],[ATLOR_SECTORS].[BOUNDSB],[ATLOR_SECTORS].[S0],"
      "[ATLOR_SECTORS].[S1],[ATLOR_SECTORS].[S2],[ATLOR_SECTORS].[S3] FROM [ATLOR_SECTORS] "
      "WHERE ([ATLOR_SECTORS].[ID]=?)";
  const test::TMadeCommand* made = db_->FindMade(sql);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->Prepared);
  EXPECT_EQ(made->ParamTypes, TArDbDataTypeArray{dtString});
  EXPECT_EQ(db_->ExecutionsOf(sql)[0].Params, std::vector<Value>{Value("001200000001")});
}

TEST_F(SectorTest, LoadSectorCutsIdentifiersToTwelveCharacters) {
  db_->AddRow("ATLOR_SECTORS", {{"ID", Value("001200000001")},
                                {"LAYERID", Value("000100000001XYZ")},
                                {"S0", Value("001200000002  ")}});
  TSector* s = Load("001200000001");
  EXPECT_EQ(s->LayerId().Str(), "000100000001");
  EXPECT_EQ(s->Children(0).Str(), "001200000002");
  EXPECT_TRUE(s->HasChildren());
  EXPECT_EQ(s->Bounds(), Rect(0, 0, 0, 0));  // null bounds read as 0
}

TEST_F(SectorTest, MissingRowsFailWithTheCursorError) {
  try {
    base_->LoadSector("0012000000FF", "ATLOR_SECTORS");
    FAIL() << "no error";
  } catch (const EArDbException& e) {
    EXPECT_EQ(e.Message(), kArDbCursorClosedText);
  }
  // A sector whose row vanished: reading its objects fails the same way, not as damage.
  AddSector("001200000001", 0, 1, 1, 0);
  TSector* s = Load("001200000001");
  db_->FindTable("ATLOR_SECTORS")->Rows.clear();
  EXPECT_THROW(s->LoadObjects(), EArDbException);
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(SectorTest, LoadLayerReadsTheRowAndTheMapExtent) {
  db_->AddRow("ATLOR_LAYERS", {{"ID", Value("000100000001")},
                               {"PLANEID", Value("000200000001")},
                               {"LAYERNAME", Value("Дороги")},
                               {"VISIBLEMIN", Value(0.5)},
                               {"VISIBLEMAX", Value(1000.0)},
                               {"ROOTSECTORID", Value("000300000001")}});
  db_->AddRow("ATLOR_MAPS", {{"ID", Value("000200000001")}, {"GPID", Value("000400000001")}});
  // Stored with left > right and top < bottom.
  db_->AddRow("ATLOR_AREAS", {{"ID", Value("000400000001")},
                              {"BOUNDSL", Value(100.0)},
                              {"BOUNDSR", Value(-50.0)},
                              {"BOUNDST", Value(10.0)},
                              {"BOUNDSB", Value(80.0)}});
  RefHolder<TLayer> layer(base_->LoadLayer("000100000001"), kAdoptRef);
  EXPECT_EQ(layer->RefCount(), 1);
  EXPECT_EQ(layer->Base(), base_.get());
  EXPECT_EQ(layer->Id().Str(), "000100000001");
  EXPECT_EQ(layer->PlaneId().Str(), "000200000001");
  EXPECT_EQ(layer->LayerName(), "Дороги");
  EXPECT_EQ(layer->VisibleMin(), 0.5);
  EXPECT_EQ(layer->VisibleMax(), 1000.0);
  EXPECT_EQ(layer->RootSectorId().Str(), "000300000001");
  EXPECT_EQ(layer->Bounds(), Rect(-50, 10, 100, 80)) << Str(layer->Bounds());

  const std::string row_sql =
      "SELECT [ATLOR_LAYERS].[PLANEID],[ATLOR_LAYERS].[LAYERNAME],[ATLOR_LAYERS].[VISIBLEMIN],"
      "[ATLOR_LAYERS].[VISIBLEMAX],[ATLOR_LAYERS].[ROOTSECTORID] FROM [ATLOR_LAYERS] WHERE "
      "([ATLOR_LAYERS].[ID]=?)";
  for (const std::string& sql : {row_sql, std::string(TFacadeTestDb::kLayerBoundsSql)}) {
    const test::TMadeCommand* made = db_->FindMade(sql);
    ASSERT_NE(made, nullptr) << sql;
    EXPECT_TRUE(made->Prepared);
    EXPECT_EQ(made->ParamTypes, TArDbDataTypeArray{dtString});
  }
  EXPECT_EQ(db_->ExecutionsOf(TFacadeTestDb::kLayerBoundsSql)[0].Params,
            std::vector<Value>{Value("000200000001")});
}

TEST_F(SectorTest, LoadLayerWithoutLayerOrMapAreaFails) {
  EXPECT_THROW(base_->LoadLayer("000100000001"), EArDbException);
  db_->AddRow("ATLOR_LAYERS", {{"ID", Value("000100000001")}, {"PLANEID", Value("000200000001")}});
  db_->AddRow("ATLOR_MAPS", {{"ID", Value("000200000001")}, {"GPID", Value("000400000001")}});
  try {
    base_->LoadLayer("000100000001");  // no map area
    FAIL() << "no error";
  } catch (const EArDbException& e) {
    EXPECT_EQ(e.Message(), kArDbCursorClosedText);
  }
}

TEST_F(SectorTest, CreateSectorInsertsALeafWithAnEmptyObjectList) {
  RefHolder<TSector> s(base_->CreateSector(TObjectId("000100000001"), Rect(1, 2, 3, 4), kTmp),
                       kAdoptRef);
  EXPECT_EQ(s->RefCount(), 1);
  EXPECT_EQ(s->Id().Str(), "001200000040");  // the next identifier of the database
  EXPECT_EQ(s->TableName(), kTmp);

  const std::string insert_sql =
      "INSERT INTO [ATLOR_SECTORS_TMP] ([ATLOR_SECTORS_TMP].[ID],[ATLOR_SECTORS_TMP].[LAYERID],"
      "[ATLOR_SECTORS_TMP].[BOUNDSL],[ATLOR_SECTORS_TMP].[BOUNDSR],[ATLOR_SECTORS_TMP].[BOUNDST],"
      "[ATLOR_SECTORS_TMP].[BOUNDSB]) VALUES(?,?,?,?,?,?)";
  const test::TMadeCommand* made = db_->FindMade(insert_sql);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->Prepared);
  EXPECT_EQ(made->ParamTypes,
            (TArDbDataTypeArray{dtString, dtString, dtFloat, dtFloat, dtFloat, dtFloat}));
  EXPECT_EQ(db_->ExecutionsOf(insert_sql)[0].Params,
            (std::vector<Value>{Value("001200000040"), Value("000100000001"), Value(1.0),
                                Value(3.0), Value(4.0), Value(2.0)}));

  // Read back from the table.
  RefHolder<TSector> back(base_->LoadSector(s->Id(), kTmp), kAdoptRef);
  EXPECT_EQ(back->LayerId().Str(), "000100000001");
  EXPECT_EQ(back->Bounds(), Rect(1, 2, 3, 4));
  for (int q = 0; q < 4; ++q) EXPECT_TRUE(back->Children(q).Empty());
  EXPECT_FALSE(back->HasChildren());
  const std::vector<Value>* row = db_->RowById(kTmp, "001200000040");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(test::ToHex((*row)[10].ToBytes()), "F3 FF 1E 01 00 00");
  EXPECT_TRUE(back->LoadObjects());
  EXPECT_EQ(back->Objects().Count(), 0);
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(SectorTest, LoadObjectsDecodesTheValue) {
  const Bytes value = fixtures::MakeSectorValue(kStorageVersionCurrent, 5, 17);
  AddSector("001200000001", 0, 100, 100, 0, {}, Value(value));
  TSector* s = Load("001200000001");
  EXPECT_TRUE(s->LoadObjects());
  EXPECT_EQ(s->Objects().Count(), 5);
  EXPECT_TRUE(log_.Lines().empty());

  // Saved and read again: the same objects.
  std::vector<std::string> ids;
  for (int i = 0; i < s->Objects().Count(); ++i) ids.push_back(s->Objects()[i]->Id().Str());
  s->SaveObjects();
  TSector* again = Load("001200000001");
  EXPECT_TRUE(again->LoadObjects());
  ASSERT_EQ(again->Objects().Count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(again->Objects()[i]->Id().Str(), ids[static_cast<size_t>(i)]);
}

TEST_F(SectorTest, NullOrDamagedObjectsGiveFalseAndAreLogged) {
  AddSector("001200000001", 0, 1, 1, 0);  // OBJECTS null
  AddSector("001200000002", 0, 1, 1, 0, {}, Value(Bytes{}));
  Bytes damaged = fixtures::MakeSectorValue(kStorageVersionCurrent, 3, 5);
  damaged.resize(damaged.size() / 2);
  AddSector("001200000003", 0, 1, 1, 0, {}, Value(damaged));

  TSector* null_sector = Load("001200000001");
  EXPECT_FALSE(null_sector->LoadObjects());
  EXPECT_EQ(null_sector->Objects().Count(), 0);
  ASSERT_EQ(log_.Lines().size(), 1u);
  EXPECT_EQ(log_.Lines()[0], "Ошибка. Ошибка при загрузке заголовка сектора 001200000001");

  log_.Clear();
  EXPECT_FALSE(Load("001200000002")->LoadObjects());
  EXPECT_EQ(log_.Lines().size(), 1u);

  log_.Clear();
  TSector* cut = Load("001200000003");
  EXPECT_FALSE(cut->LoadObjects());
  EXPECT_LT(cut->Objects().Count(), 3);
  ASSERT_FALSE(log_.Lines().empty());
  EXPECT_NE(log_.Lines().back().find("Не могу загрузить сектор 001200000003"), std::string::npos);
  EXPECT_EQ(StorageVersion(), kStorageVersionCurrent);
}

TEST_F(SectorTest, CanSplitWhenAnObjectFitsAQuadrant) {
  struct Case {
    const char* Name;
    std::vector<TGeoRect> Objects;
    bool Expected;
  };
  // Sector (0, 0, 10, 20): centre lines x = 5 and y = 10.
  const Case cases[] = {
      {"no objects", {}, false},
      {"all cross a centre line", {Rect(4, 1, 6, 2), Rect(1, 9, 2, 11), Rect(4, 9, 6, 11)}, false},
      {"touches x = 5 from the left", {Rect(4, 9, 6, 11), Rect(1, 1, 5, 2)}, true},
      {"touches y = 10 from above", {Rect(6, 10, 7, 12)}, true},
      {"the whole quadrant", {Rect(5, 0, 10, 10)}, true},
      {"outside the sector", {Rect(20, 20, 21, 21)}, false},
  };
  AddSector("001200000001", 0, 10, 20, 0);
  for (const Case& c : cases) {
    TSector* s = Load("001200000001");
    int n = 0;
    for (const TGeoRect& r : c.Objects) AddObject(*s, "00AA0000000" + std::to_string(n++), r);
    EXPECT_EQ(s->CanSplit(), c.Expected) << c.Name;
  }
}

TEST_F(SectorTest, SplitCreatesFourQuadrantChildren) {
  AddSector("001200000001", 0, 10, 20, 0);
  TSector* s = Load("001200000001");
  AddObject(*s, "00AA00000001", Rect(1, 1, 2, 2));
  s->Split();

  EXPECT_TRUE(s->HasChildren());
  EXPECT_EQ(s->Objects().Count(), 1);  // the objects stay
  const std::string expected_ids[] = {"001200000040", "001200000041", "001200000042",
                                      "001200000043"};
  for (int q = 0; q < 4; ++q) {
    EXPECT_EQ(s->Children(q).Str(), expected_ids[q]);
    TSector* child = Load(expected_ids[q]);
    EXPECT_EQ(child->Bounds(), s->Quadrant(q)) << q;
    EXPECT_EQ(child->LayerId(), s->LayerId());
    EXPECT_FALSE(child->HasChildren());
  }
  // Children in the same table as the parent, and the parent's row points at them.
  TSector* back = Load("001200000001");
  for (int q = 0; q < 4; ++q) EXPECT_EQ(back->Children(q).Str(), expected_ids[q]);

  const std::string update_sql =
      "UPDATE [ATLOR_SECTORS] SET [ATLOR_SECTORS].[S0]=?,[ATLOR_SECTORS].[S1]=?,"
      "[ATLOR_SECTORS].[S2]=?,[ATLOR_SECTORS].[S3]=? WHERE ([ATLOR_SECTORS].[ID]=?)";
  const test::TMadeCommand* made = db_->FindMade(update_sql);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->Prepared);
  EXPECT_EQ(made->ParamTypes,
            (TArDbDataTypeArray{dtString, dtString, dtString, dtString, dtString}));
  EXPECT_EQ(db_->ExecutionsOf(update_sql)[0].Params,
            (std::vector<Value>{Value("001200000040"), Value("001200000041"),
                                Value("001200000042"), Value("001200000043"),
                                Value("001200000001")}));

  // A sector with children is not split again.
  const size_t rows = db_->FindTable("ATLOR_SECTORS")->Rows.size();
  s->Split();
  EXPECT_EQ(db_->FindTable("ATLOR_SECTORS")->Rows.size(), rows);
}

TEST_F(SectorTest, AFailedSplitLeavesALeaf) {
  struct Case {
    const char* Prefix;
    int After;
  };
  const Case cases[] = {
      {"INSERT INTO [ATLOR_SECTORS]", 3},  // the fourth child
      {"UPDATE [ATLOR_SECTORS] SET [ATLOR_SECTORS].[S0]", 0},  // the parent's row
  };
  for (const Case& c : cases) {
    db_->FindTable("ATLOR_SECTORS")->Rows.clear();
    AddSector("001200000001", 0, 10, 20, 0);
    TSector* s = Load("001200000001");
    db_->FailPrefix = c.Prefix;
    db_->FailAfter = c.After;
    EXPECT_THROW(s->Split(), Exception) << c.Prefix;
    EXPECT_FALSE(s->HasChildren());
    for (int q = 0; q < 4; ++q) EXPECT_TRUE(s->Children(q).Empty());
    EXPECT_FALSE(Load("001200000001")->HasChildren());
  }
}

TEST_F(SectorTest, ASectorReleasesItsObjects) {
  AddSector("001200000001", 0, 10, 20, 0);
  TMapObject* o = new TMapObject();
  o->SetId(TObjectId("00AA00000001"));
  RefHolder<TMapObject> mine(o);
  {
    RefHolder<TSector> s(base_->LoadSector("001200000001", "ATLOR_SECTORS"), kAdoptRef);
    s->Objects().Add(o);
    EXPECT_EQ(o->RefCount(), 2);
  }
  EXPECT_EQ(o->RefCount(), 1);
}

}  // namespace
}  // namespace atlor
