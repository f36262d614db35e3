// The storage facade on a real SQL engine: a temporary SQLite database with the system tables.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "ardb/ardbs.h"
#include "backends/sqlite/sqlite_ardb.h"
#include "storage/atlor_base.h"
#include "storage/layers_sectors.h"
#include "storage/schema.h"

namespace atlor {
namespace {

class FacadeSQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/atlor-facade-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    folder_ = tmpl;
    const std::string file = (folder_ / "atlor.sqlite").string();
    TSQLiteArDb::CreateDatabaseFile(file);
    db_ = IntfPtr<IArDb>(new TSQLiteArDb());
    db_->Open(TSQLiteArDb::MakeDescription(file));
    for (const char* t : {"ATLOR_DBINFO", "ATLOR_IDMAPER", "ATLOR_LAYERS", "ATLOR_MAPS",
                          "ATLOR_AREAS", "ATLOR_SECTORS"}) {
      const AtlorTableSchema* s = FindAtlorTable(t);
      CreateTableFromDefs(*db_, t, s->Fields, s->Indexes);
    }
    Exec("INSERT INTO [ATLOR_DBINFO] ([DBID],[IDGROUP],[IDNUMBER],[VERSION]) "
         "VALUES('DB',5,41,265)");
    base_.Assign(new TAtlorBase(db_, log_));
  }
  void TearDown() override {
    base_.Assign(nullptr);
    db_->Close();
    db_ = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  void Exec(const std::string& sql) { NewCommand(*db_, sql, {}, false)->Execute(nullptr, 0); }
  int32_t Int(const std::string& sql) {
    IntfPtr<IArDbCursor> c = NewCommand(*db_, sql, {}, false)->Execute(nullptr, 0);
    const int32_t v = c->AsInteger(0, -1);
    c->Close();
    return v;
  }

  std::filesystem::path folder_;
  IntfPtr<IArDb> db_;
  TMemoryLogSink log_;
  RefHolder<TAtlorBase> base_;
};

TEST_F(FacadeSQLiteTest, IdentifiersAndGroups) {
  EXPECT_EQ(base_->NewId().Str(), "00050000002A");
  EXPECT_EQ(base_->NewId().Str(), "00050000002B");
  EXPECT_EQ(Int("SELECT IDNUMBER FROM ATLOR_DBINFO"), 43);

  // Stored out of order, another class sharing LOCALID 2.
  Exec("INSERT INTO ATLOR_IDMAPER VALUES(0, 4, 'a')");
  Exec("INSERT INTO ATLOR_IDMAPER VALUES(0, 2, 'b')");
  Exec("INSERT INTO ATLOR_IDMAPER VALUES(1, 2, 'c')");
  Exec("INSERT INTO ATLOR_IDMAPER VALUES(0, 1, 'd')");
  EXPECT_EQ(base_->NewIdGroup(), 3);
  EXPECT_EQ(base_->NewIdGroup(), 5);
  EXPECT_EQ(Int("SELECT COUNT(*) FROM ATLOR_IDMAPER WHERE IDCLASS = 0"), 5);

  Exec("UPDATE ATLOR_DBINFO SET IDNUMBER = 2147483647");
  EXPECT_EQ(base_->NewId().Str(), "0006000003E8");
}

TEST_F(FacadeSQLiteTest, LayersSectorsAndObjects) {
  Exec("INSERT INTO ATLOR_AREAS (ID, BOUNDSL, BOUNDSR, BOUNDST, BOUNDSB) "
       "VALUES('000400000001', 100, 0, 0, 50)");
  Exec("INSERT INTO ATLOR_MAPS (ID, GPID) VALUES('000200000001', '000400000001')");
  Exec("INSERT INTO ATLOR_LAYERS (ID, PLANEID, LAYERNAME, VISIBLEMIN, VISIBLEMAX) "
       "VALUES('000100000001', '000200000001', 'Реки', 1, 2)");
  RefHolder<TLayer> layer(base_->LoadLayer("000100000001"), kAdoptRef);
  EXPECT_EQ(layer->LayerName(), "Реки");
  EXPECT_EQ(layer->Bounds(), (TGeoRect{0, 0, 100, 50}));
  EXPECT_TRUE(layer->RootSectorId().Empty());

  RefHolder<TSector> root(base_->CreateSector(layer->Id(), layer->Bounds(), "ATLOR_SECTORS"),
                          kAdoptRef);
  root->Split();
  for (int q = 0; q < 4; ++q) {
    RefHolder<TSector> child(base_->LoadSector(root->Children(q), "ATLOR_SECTORS"), kAdoptRef);
    EXPECT_EQ(child->Bounds(), root->Quadrant(q));
    EXPECT_TRUE(child->LoadObjects());
    EXPECT_EQ(child->Objects().Count(), 0);
  }
  EXPECT_EQ(Int("SELECT COUNT(*) FROM ATLOR_SECTORS WHERE LAYERID = '000100000001'"), 5);

  // A null OBJECTS value.
  Exec("UPDATE ATLOR_SECTORS SET OBJECTS = NULL");
  RefHolder<TSector> again(base_->LoadSector(root->Id(), "ATLOR_SECTORS"), kAdoptRef);
  EXPECT_TRUE(again->HasChildren());
  EXPECT_FALSE(again->LoadObjects());
  EXPECT_EQ(log_.Lines().size(), 1u);
}

TEST_F(FacadeSQLiteTest, StatementsFollowATableReplacedUnderTheSameName) {
  RefHolder<TSector> s(base_->CreateSector(TObjectId("000100000001"), TGeoRect{0, 0, 1, 1},
                                           "ATLOR_SECTORS"),
                       kAdoptRef);
  // The run's swap: the table goes away and another one takes its name.
  const AtlorTableSchema* schema = FindAtlorTable("ATLOR_SECTORS");
  CreateTableFromDefs(*db_, "ATLOR_SECTORS_TMP", schema->Fields, schema->Indexes);
  db_->DropTable("ATLOR_SECTORS");
  IntfPtr<IArDbTableDef> def = db_->GetTableDef("ATLOR_SECTORS_TMP");
  def->SetTableName("ATLOR_SECTORS");
  def->ApplyChanges();
  base_->ClearCommandCache();

  EXPECT_THROW(base_->LoadSector(s->Id(), "ATLOR_SECTORS"), EArDbException);
  RefHolder<TSector> fresh(base_->CreateSector(TObjectId("000100000001"), TGeoRect{0, 0, 2, 2},
                                               "ATLOR_SECTORS"),
                           kAdoptRef);
  RefHolder<TSector> back(base_->LoadSector(fresh->Id(), "ATLOR_SECTORS"), kAdoptRef);
  EXPECT_EQ(back->Bounds(), (TGeoRect{0, 0, 2, 2}));
}

}  // namespace
}  // namespace atlor
